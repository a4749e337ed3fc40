// The end of a portal login whose end request the service answers at length: from the return
// address to the box's text (the answer masked for the box and the debug line), on a demo host,
// with answers of 21 KB, 256 KB and 1 MB. Time must grow in proportion to the answer; 1 MB
// should take well under a second.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "restportal/login_flow.h"
#include "support/demo_host_fixture.h"

namespace {

using namespace fern;

constexpr const char* kToken = "Tok-4711";
constexpr const char* kSecret = "Sec-0815";
constexpr const char* kVerifier = "Ver-1234";

struct NoView : LoginView {
  void NewSession() override {}
  void Navigate(const std::string&) override {}
  void ShowText(const std::string&) override {}
  void SetCaption(const std::string&) override {}
  void SetUserLabel(const std::string&) override {}
  void ShowWindow() override {}
};

// The service's side without the network: the start hands out the login, the end answers with
// `endAnswer`.
struct Service : LoginRestClient {
  std::string endAnswer;
  std::string CallIS24RestApiStartCreateLogin(const std::string&) override {
    return std::string(
               "<portalAuthenticationType><authenticationUrl>https://portal.example/"
               "authorize</authenticationUrl><authenticationToken>") +
           kToken + "</authenticationToken><authenticationTokenSecret>" + kSecret +
           "</authenticationTokenSecret></portalAuthenticationType>";
  }
  std::string CallIS24RestApiEndCreateLogin(const std::string&, const std::string&) override {
    return endAnswer;
  }
  std::string CallIS24RestApiCheckLogin(const std::string&) override { return {}; }
  int32_t getResponseCode() override { return 200; }
};

struct Host : testing::DemoHostTest {
  Host() {
    Start();
    InitHostSession();
    auto rs = Session().g_oDal->GetRecordset(
        Session().g_strConnect, "select DSN from Boersen where boersen_name = 'ImmobilienScout24'");
    dsn = cUtil::k(rs->Value("DSN"));
  }
  std::string dsn;
};

std::string Repeated(const std::string& head, const std::string& unit, size_t size) {
  std::string s = head;
  s.reserve(size + unit.size());
  while (s.size() + unit.size() <= size) s += unit;
  return s;
}

void EndAnswer(benchmark::State& state, const std::string& head, const std::string& unit) {
  static Host host;
  Service* service = nullptr;
  NoView view;
  OAuthLoginFlow flow(view, [&] {
    auto s = std::make_unique<Service>();
    service = s.get();
    return s;
  });
  const std::string answer = Repeated(head, unit, static_cast<size_t>(state.range(0)) * 1024);
  const std::string callback = std::string("https://portal.example/cb?oauth_token=") + kToken +
                               "&oauth_verifier=" + kVerifier;
  for (auto _ : state) {
    state.PauseTiming();
    std::string dsn = host.dsn;
    flow.Shower(dsn);
    service->endAnswer = answer;
    host.answers->texts.clear();
    state.ResumeTiming();
    flow.OnNavigation(callback, true);
  }
  state.counters["box_chars"] =
      host.answers->texts.empty() ? 0 : static_cast<double>(host.answers->texts.back().size());
  state.SetBytesProcessed(static_cast<int64_t>(answer.size()) * state.iterations());
}

#define END_ANSWER(name, head, unit)             \
  BENCHMARK_CAPTURE(EndAnswer, name, head, unit) \
      ->Name("EndAnswer_" #name)                 \
      ->Arg(21)                                  \
      ->Arg(256)                                 \
      ->Arg(1024)                                \
      ->Unit(benchmark::kMillisecond)

// A page shown from text: every line end is written encoded.
END_ANSWER(data_address_line_ends, "data:,", "\r");
// The held verifier echoed between quotes and backslashes.
END_ANSWER(echoed_verifier, "", std::string("\"\\") + kVerifier);
END_ANSWER(ordinary_xml, "<portalAuthenticationType>",
           "<status>AUTHENTICATED</status>\r\n<message>Villa am See</message>\r\n");

}  // namespace
