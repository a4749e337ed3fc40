// cUtil's by-name entry: scripts and by-name callers reach every member here, with the host's
// argument orders; by-reference arguments that a member changes are written back.
#include "host/cUtil.h"
#include "host/host_args.h"
#include "platform/vb.h"

namespace fern {
namespace {

// The file-system object of `Util.fso`: path joining and existence tests.
class HostFso : public Dispatch {
 public:
  Variant Invoke(std::string_view name, unsigned, std::span<Variant> args) override {
    using namespace host;
    if (NameIs(name, "BuildPath")) {
      CheckArgCount(args, 2, 2, name);
      std::string folder = ArgStr(args, 0), file = ArgStr(args, 1);
      if (folder.empty()) return Variant(file);
      char last = folder.back();
      bool sep = last == '\\' || last == '/';
      bool lead = !file.empty() && (file.front() == '\\' || file.front() == '/');
      if (sep && lead) file.erase(0, 1);
      return Variant(folder + (sep || lead ? "" : "\\") + file);
    }
    if (NameIs(name, "FileExists") || NameIs(name, "FolderExists")) {
      CheckArgCount(args, 1, 1, name);
      return cUtil::Exist(ArgStr(args, 0));
    }
    if (NameIs(name, "GetFileName")) {
      CheckArgCount(args, 1, 1, name);
      return Variant(cUtil::GetFileName(ArgStr(args, 0)));
    }
    ThrowNoMember(name);
  }
  std::string TypeName() const override { return "FileSystemObject"; }
};

Variant Obj(std::shared_ptr<Dispatch> d) { return Variant(std::move(d)); }

}  // namespace

cUtil::cUtil() : languagePack_(std::make_shared<LanguagePack>()) {}

std::shared_ptr<Dispatch> cUtil::fso() {
  if (!fso_) fso_ = std::make_shared<HostFso>();
  return fso_;
}

Variant cUtil::Invoke(std::string_view name, unsigned, std::span<Variant> a) {
  using namespace host;
  auto n = [&](const char* member, size_t min, size_t max) {
    if (!NameIs(name, member)) return false;
    CheckArgCount(a, min, max, name);
    return true;
  };
  auto S = [&](size_t i) { return ArgStr(a, i); };
  auto L = [&](size_t i) { return ArgLong(a, i); };
  auto arg = [&](size_t i) { return i < a.size() ? a[i] : Variant::Missing(); };

  // INI
  if (n("IniGet", 4, 4)) return Variant(IniGet(S(0), S(1), S(2), S(3)));
  if (n("IniWrite", 4, 4)) return IniWrite(S(0), S(1), S(2), S(3)), Variant();
  if (n("IniCacheReset", 0, 0)) return IniCacheReset(), Variant();
  // conversions
  if (n("k", 1, 1)) return Variant(k(arg(0)));
  if (n("b", 1, 1) || n("bln", 1, 1)) return b(arg(0));
  if (n("d", 1, 1)) return Variant::Date(d(arg(0)));
  if (n("my_val", 1, 1)) return my_val(S(0));
  if (n("RoundKorrekt", 1, 2)) return RoundKorrekt(ArgDouble(a, 0), ArgLong(a, 1, 0));
  if (n("SqlStr", 1, 1)) return Variant(SqlStr(arg(0)));
  if (n("SqlUid", 1, 1)) return Variant(SqlUid(arg(0)));
  if (n("SQLDate", 1, 1)) return Variant(SQLDate(arg(0)));
  // lists and text
  if (n("StrListNr", 3, 3)) return Variant(StrListNr(S(0), S(1), L(2)));
  if (n("StrListCount", 2, 2)) return StrListCount(S(0), S(1));
  if (n("StrList_DeleteFirst", 2, 2)) {
    std::string list = S(0);
    std::string first = StrList_DeleteFirst(list, S(1));
    SetArg(a, 0, Variant(list));
    return Variant(first);
  }
  if (n("beg", 2, 2)) return beg(S(0), S(1));
  if (n("CutRight", 2, 2)) {
    std::string t = S(0);
    CutRight(t, S(1));
    SetArg(a, 0, Variant(t));
    return Variant(t);
  }
  if (n("Quote", 1, 1)) return Variant(Quote(S(0)));
  if (NameIs(name, "OnlyAlphaChars")) {
    CheckArgCount(a, 1, 16, name);
    std::string keep;
    for (size_t i = 1; i < a.size(); ++i) keep += S(i);
    return Variant(OnlyAlphaChars(S(0), keep));
  }
  if (n("Replace_GermSonderzeichen", 1, 1)) return Variant(Replace_GermSonderzeichen(S(0)));
  if (n("isGuid", 1, 1)) return isGuid(S(0));
  if (n("removeBrace", 1, 1)) {
    std::string dsn = S(0);
    removeBrace(dsn);
    SetArg(a, 0, Variant(dsn));
    return Variant(dsn);
  }
  // files
  if (n("GetFileExtender", 1, 1)) return Variant(GetFileExtender(S(0)));
  if (n("GetFileName", 1, 1)) return Variant(GetFileName(S(0)));
  if (n("GetTempPath", 0, 0)) return Variant(GetTempPath());
  if (n("GetTempFile", 0, 1)) return Variant(GetTempFile(S(0)));
  if (n("Exist", 1, 1)) return Exist(S(0));
  if (n("Kill", 1, 1)) return Kill(S(0)), Variant();
  if (n("File2Str", 1, 1)) return Variant(File2Str(S(0)));
  if (n("MyChdir", 1, 1)) return MyChdir(S(0)), Variant();
  if (n("FileLen", 1, 1)) return Variant::Whole(FileLen(S(0)));
  if (n("MkFolder", 1, 1)) return MkFolder(S(0)), Variant();
  if (n("LogFile", 2, 2)) return LogFile(S(0), S(1)), Variant();
  if (n("fso", 0, 0)) return Obj(fso());
  // programs and waits
  if (n("StartApplication", 1, 2)) return StartApplication(S(0), S(1)), Variant();
  if (n("StartDoc", 1, 1)) return StartDoc(S(0)), Variant();
  if (n("RunAndWait", 1, 2)) return RunAndWait(S(0));
  if (n("Sleep", 1, 1)) return Sleep(L(0)), Variant();
  if (n("Wait", 1, 1)) return Wait(ArgBool(a, 0)), Variant();
  if (n("WaitIsEsc", 0, 0)) return WaitIsEsc();
  // message boxes
  if (n("MessageBox", 1, 3)) return MessageBox(S(0), L(1), S(2));
  if (n("MsgAsk", 1, 2)) return MsgAsk(S(0), ArgBool(a, 1, false));
  if (n("msgstop", 1, 2)) return msgstop(S(0)), Variant();
  // cipher
  if (n("Decrypt", 2, 2)) return Variant(Decrypt(S(0), L(1)));
  if (n("Encrypt", 2, 2)) return Variant(Encrypt(S(0), L(1)));
  // pictures: sizes may come as Integer or Long, the flag by reference or by value
  if (n("ShrinkJPG", 6, 6)) {
    ShrinkJPG(S(0), S(1), static_cast<int64_t>(ArgDouble(a, 2)), L(3), ArgBool(a, 4), S(5));
    return true;
  }
  if (n("JPGFrameInit", 1, 1)) {
    if (!a[0].IsObject() || a[0].IsNothing())
      throw HostError(err::kObjectRequired, "Object required", "JPGFrameInit");
    JPGFrameInit(*a[0].obj());
    return {};
  }
  if (n("JPGFrameShrink", 7, 8)) {
    JPGFrameShrink(S(0), S(1), static_cast<int64_t>(ArgDouble(a, 2)), L(3), ArgBool(a, 4), S(5),
                   S(6), ArgBool(a, 7, false));
    return true;
  }
  // preferences
  if (n("getUserpreference", 3, 3)) return Variant(getUserpreference(S(0), S(1), S(2)));
  if (n("GetPreferenceSTDEntry", 2, 2)) return Variant(GetPreferenceSTDEntry(S(0), S(1)));
  if (n("GetPreferenceOrDefault", 3, 3)) return Variant(GetPreferenceOrDefault(S(0), S(1), S(2)));
  if (n("ResetPreferenceCache", 0, 0)) return ResetPreferenceCache(), Variant();
  if (n("setPostWebserviceProxy", 2, 2)) {
    if (a[1].IsObject() && !a[1].IsNothing()) setPostWebserviceProxy(S(0), *a[1].obj());
    return {};
  }
  if (n("LanguagePack", 0, 0)) return Obj(languagePack_);
  ThrowNoMember(name);
}

}  // namespace fern
