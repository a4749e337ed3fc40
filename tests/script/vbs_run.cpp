// vbs-run FILE...: runs script files on the engine with a WScript object (Echo, Quit). Prints
// "Error <number>: <description>" with the file, line and source text of a failure and exits 1.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "platform/dispatch.h"
#include "platform/host_error.h"
#include "platform/vb.h"
#include "script/builtins.h"
#include "script/engine.h"

namespace {

struct QuitRequest {
  int code;
};

std::string Text(const fern::Variant& v) {
  fern::Variant x = v;
  for (int i = 0; i < 8 && x.IsObject() && x.obj(); ++i)
    x = x.obj()->Invoke("", fern::kPropGet | fern::kMethod, {});
  if (x.IsNull()) return "Null";
  if (x.IsObject()) return "Nothing";
  return fern::vb::CStr(x);
}

class WScript : public fern::Dispatch {
 public:
  fern::Variant Invoke(std::string_view name, unsigned, std::span<fern::Variant> args) override {
    if (fern::NameIs(name, "Echo")) {
      std::string line;
      for (size_t i = 0; i < args.size(); ++i) line += (i ? " " : "") + Text(args[i]);
      std::cout << line << "\n";
      return {};
    }
    if (fern::NameIs(name, "Quit")) {
      int code = args.empty() || args[0].IsMissing() ? 0 : fern::vb::CLng(args[0]);
      throw QuitRequest{code};
    }
    fern::ThrowNoMember(name);
  }
  std::string TypeName() const override { return "WScript"; }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: vbs-run FILE...\n";
    return 2;
  }
  fern::script::Engine engine;
  engine.AddObject("WScript", std::make_shared<WScript>());
  // The engine's Collection, which the program hands scripts as Application.EventsConsumers.
  engine.SetObjectFactory([](std::string_view progId) {
    return fern::NameIs(progId, "Collection") ? fern::script::NewCollection() : nullptr;
  });
  if (const char* ms = std::getenv("VBS_RUN_TIMEOUT_MS")) engine.SetTimeout(std::atoi(ms));
  for (int i = 1; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    if (!in) {
      std::cerr << "vbs-run: cannot read " << argv[i] << "\n";
      return 2;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    try {
      engine.AddCode(ss.str(), argv[i]);
    } catch (const QuitRequest& q) {
      std::cout.flush();
      return q.code;
    } catch (const fern::HostError& e) {
      const fern::script::ScriptError& err = engine.Error();
      std::cout << "Error " << e.number() << ": " << e.description() << "\n"
                << "Line " << err.line << ": " << err.text << "\n";
      std::cout.flush();
      return 1;
    }
  }
  // What the scripts left alive goes now, its Class_Terminate under the same time-out.
  try {
    engine.Reset();
  } catch (const fern::HostError& e) {
    std::cout << "Error " << e.number() << ": " << e.description() << "\n";
    std::cout.flush();
    return 1;
  }
  std::cout.flush();
  return 0;
}
