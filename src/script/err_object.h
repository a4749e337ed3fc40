// The script's Err object.
#pragma once

#include <cstdint>
#include <string>

#include "platform/dispatch.h"
#include "platform/host_error.h"
#include "platform/vb.h"
#include "script/builtins.h"
#include "script/interp_detail.h"
#include "script/script_errors.h"

namespace fern::script {

class ErrObject : public Dispatch {
  using Variant = fern::Variant;

 public:
  int32_t number = 0;
  std::string description, source, helpFile;
  int32_t helpContext = 0;

  void Set(const HostError& e) {
    number = e.number();
    // Err.Description holds the plain text; the name ("Type mismatch: 'x'") is for reports.
    std::string_view plain = ErrorText(number);
    const std::string& d = e.description();
    if (!plain.empty() && d.size() > plain.size() + 2 && d.compare(0, plain.size(), plain) == 0 &&
        d.compare(plain.size(), 3, ": '") == 0 && d.back() == '\'')
      description = std::string(plain);
    else
      description = d;
    source = e.source().empty() ? ErrorSource(e.number()) : e.source();
    if (raised_ && raisedNumber_ == number) {
      helpFile = raisedHelpFile_;
      helpContext = raisedHelpContext_;
    } else {
      helpFile.clear();
      helpContext = 0;
    }
    raised_ = false;
  }
  void Clear() {
    number = 0;
    helpContext = 0;
    description.clear();
    source.clear();
    helpFile.clear();
  }

  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override {
    bool let = (kind & (kPropLet | kPropSet)) != 0;
    auto textProp = [&](std::string& field) -> Variant {
      if (let) {
        CheckArgCount(args, 1, 1, name);
        field = vb::CStr(detail::DefaultValue(args[0]), CallerLocale());
        return Variant();
      }
      return Variant(field);
    };
    if (name.empty() || NameIs(name, "Number")) {
      if (let) {
        CheckArgCount(args, 1, 1, name);
        number = vb::CLng(detail::DefaultValue(args[0]), CallerLocale());
        return Variant();
      }
      CheckArgCount(args, 0, 0, "Number");
      return Variant(number);
    }
    if (NameIs(name, "Description")) return textProp(description);
    if (NameIs(name, "Source")) return textProp(source);
    if (NameIs(name, "HelpFile")) return textProp(helpFile);
    if (NameIs(name, "HelpContext")) {
      if (let) {
        CheckArgCount(args, 1, 1, name);
        helpContext = vb::CLng(detail::DefaultValue(args[0]), CallerLocale());
        return Variant();
      }
      return Variant(helpContext);
    }
    if (NameIs(name, "Clear")) {
      Clear();
      return Variant();
    }
    if (NameIs(name, "Raise")) {
      CheckArgCount(args, 1, 5, name);
      auto given = [&](size_t i) { return i < args.size() && !args[i].IsMissing(); };
      // What the call leaves out comes from the Err object while it still holds it.
      const vb::Locale& loc = CallerLocale();
      auto text = [&](size_t i, const std::string& held) {
        return given(i) ? vb::CStr(detail::DefaultValue(args[i]), loc) : held;
      };
      int32_t n = MapRaised(vb::CLng(detail::DefaultValue(args[0]), loc));
      std::string src = text(1, source);
      if (src.empty()) src = ErrorSource(n);
      raised_ = true;
      raisedNumber_ = n;
      raisedHelpFile_ = text(3, helpFile);
      raisedHelpContext_ = given(4) ? vb::CLng(detail::DefaultValue(args[4]), loc) : helpContext;
      std::string desc = text(2, description);
      if (desc.empty() && !given(2))
        desc = ErrorText(n).empty() ? "Unknown runtime error" : std::string(ErrorText(n));
      throw HostError(n, desc, src);
    }
    ThrowNoMember(name);
  }
  std::string TypeName() const override { return "ErrObject"; }

 private:
  // Err.Raise 0 is an invalid call; HRESULTs of VBScript's own facility and the common system
  // ones become the VBScript numbers they stand for.
  static int32_t MapRaised(int32_t n) {
    if (n == 0) return kErrInvalidCall;
    uint32_t u = static_cast<uint32_t>(n);
    if ((u & 0xFFFF0000u) == 0x800A0000u) return static_cast<int32_t>(u & 0xFFFFu);
    switch (u) {
      case 0x8007000Eu:  // E_OUTOFMEMORY
        return 7;
      case 0x80070057u:  // E_INVALIDARG
        return kErrInvalidCall;
      case 0x80004001u:  // E_NOTIMPL
        return 445;
      case 0x80004002u:  // E_NOINTERFACE
        return 430;
      case 0x80070005u:  // E_ACCESSDENIED
        return 70;
      case 0x80020003u:  // DISP_E_MEMBERNOTFOUND
      case 0x80020006u:  // DISP_E_UNKNOWNNAME
        return kErrNoMember;
      case 0x80020005u:  // DISP_E_TYPEMISMATCH
        return kErrTypeMismatch;
      case 0x8002000Bu:  // DISP_E_BADINDEX
        return kErrSubscript;
      case 0x8002000Eu:  // DISP_E_BADPARAMCOUNT
        return kErrWrongArgs;
      case 0x8002000Au:  // DISP_E_OVERFLOW
        return kErrOverflow;
      default:
        return n;
    }
  }

  bool raised_ = false;  // the help fields of the error Raise is throwing
  int32_t raisedNumber_ = 0;
  std::string raisedHelpFile_;
  int32_t raisedHelpContext_ = 0;
};

}  // namespace fern::script
