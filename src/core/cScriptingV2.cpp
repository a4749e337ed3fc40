#include "core/cScriptingV2.h"

#include <algorithm>
#include <exception>
#include <filesystem>

#include "core/host_session.h"
#include "core/script_hooks.h"
#include "host/LanguagePack.h"
#include "host/cDal.h"
#include "host/cDbIni.h"
#include "host/cUtil.h"
#include "host/host_objects.h"
#include "platform/host_error.h"
#include "platform/host_path.h"
#include "platform/msgbox.h"
#include "platform/text.h"
#include "platform/vb.h"
#include "platform/waits.h"
#include "script/builtins.h"
#include "xml/xml_dom.h"

namespace fern {

namespace {

constexpr const char* kCrLf = "\r\n";

// The files of a folder in case-insensitive name order (ties by exact name), so that a load
// order does not depend on the file system.
std::vector<std::filesystem::path> ListFolder(const std::string& folder) {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  std::filesystem::path real;
  try {
    real = ResolveHostPath(folder);
  } catch (const std::exception&) {
    return files;
  }
  for (std::filesystem::directory_iterator it(real, ec), end; !ec && it != end; it.increment(ec))
    if (it->is_regular_file(ec)) files.push_back(it->path());
  std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
    std::string la = text::LowerAscii(a.filename().string()),
                lb = text::LowerAscii(b.filename().string());
    return la != lb ? la < lb : a.filename().string() < b.filename().string();
  });
  return files;
}

Variant ObjectOrNothing(std::shared_ptr<Dispatch> p) {
  return p ? Variant(std::move(p)) : Variant::Nothing();
}

// An object property called with arguments hands them to the object's default member, so
// that Application.CurrentUserRS("DSN") reads the field, as late binding does on the platform.
Variant ObjectProperty(std::shared_ptr<Dispatch> p, unsigned kind, std::span<Variant> args) {
  if (args.empty()) return ObjectOrNothing(std::move(p));
  if (!p) throw HostError(err::kObjectNotSet, "Object variable not set");
  return p->Invoke("", kind, args);
}

bool HasRow(const std::shared_ptr<db::Recordset>& rs) { return rs && !(rs->Bof() && rs->Eof()); }

}  // namespace

// What the scripts hold as "Application". It points back at its host without owning it (the
// host owns the engine that holds this face); a face that outlives its host answers 424.
class cScriptingV2::Face : public Dispatch {
 public:
  explicit Face(cScriptingV2* owner) : owner_(owner) {}
  void Detach() { owner_ = nullptr; }
  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override {
    if (!owner_) throw HostError(err::kObjectRequired, "Object required", "Application");
    return owner_->Invoke(name, kind, args);
  }
  std::string TypeName() const override { return "cScriptingV2"; }

 private:
  cScriptingV2* owner_;
};

cScriptingV2::cScriptingV2()
    : util_(Session().g_oUtil),
      dal_(Session().g_oDal),
      dbIni_(Session().g_oDbIni),
      face_(std::make_shared<Face>(this)),
      consumers_(script::NewCollection()) {
  // Encoded script blocks are decoded by the engine itself, so plain and encoded files load
  // alike.
  engine_.SetAllowUI(true);
  engine_.Reset();
  engine_.AddObject("Application", face_);
  engine_.SetTimeout(kDefaultTimeoutMs);
  engine_.SetStopQuery([] { return EscPressed(); });
  engine_.SetObjectFactory([](std::string_view progId) -> std::shared_ptr<Dispatch> {
    if (auto doc = CreateXmlObject(progId)) return doc;
    return host::CreateHostObject(progId);
  });
}

cScriptingV2::~cScriptingV2() { face_->Detach(); }

void cScriptingV2::Init(const std::string& strConnect, const std::string& strKVFolder,
                        const std::string& strUserDSN, bool blnAllowGUI) {
  connect_ = strConnect;
  folder_ = strKVFolder;
  if (!dal_) throw HostError(err::kObjectNotSet, "Keine Host-Sitzung (cDal fehlt)", "Init");
  dal_->Init(strKVFolder + "\\sql\\sql.ini");
  engine_.SetAllowUI(blnAllowGUI);
  if (strUserDSN != lastUserAsked_) {
    lastUserAsked_ = strUserDSN;
    ChooseUser(strUserDSN);
  }
  if (!stdRS_) stdRS_ = dal_->GetRecordset(connect_, "SELECT * FROM Std");
}

void cScriptingV2::ChooseUser(const std::string& strUserDSN) {
  const std::string queries[] = {
      "SELECT * FROM Ben WHERE Dsn=" + cUtil::SqlUid(Variant(strUserDSN)),
      "SELECT * FROM Ben WHERE Aktiv=1 AND Chef=1 ORDER BY LOGIN_NAME, Dsn",
      "SELECT * FROM Ben WHERE Aktiv=1 ORDER BY LOGIN_NAME, Dsn",
      "SELECT * FROM Ben ORDER BY LOGIN_NAME, Dsn",
  };
  std::shared_ptr<db::Recordset> rs;
  for (const std::string& sql : queries) {
    rs = dal_->GetRecordset(connect_, sql);
    if (HasRow(rs)) break;
  }
  userRS_ = rs;
  if (!HasRow(rs)) {
    userDSN_.clear();
    return;
  }
  rs->MoveFirst();
  if (!rs->Find("LOGIN_NAME='kvAdmin'")) rs->MoveFirst();
  userDSN_ = cUtil::k(rs->Value("DSN"));
}

bool cScriptingV2::TimedOut(const Dispatch* consumer, std::string_view method) const {
  return timedOut_.contains({consumer, text::LowerAscii(method)});
}

void cScriptingV2::NoteTimeout(const Dispatch* consumer, std::string_view method) {
  if (!timedOut_.insert({consumer, text::LowerAscii(method)}).second || !TimeoutReported) return;
  const std::string script = engine_.Error().sourceName;
  const std::string name(method);
  std::string text = "Script \"" + script + "\": " + name +
                     " hat die Zeitgrenze überschritten und wurde abgebrochen; es wird in diesem "
                     "Lauf nicht mehr aufgerufen";
  if (auto lp = Session().g_oLanguagePack)
    text = lp->TranslateString(
        "Script \"%1\": %2 hat die Zeitgrenze überschritten und wurde abgebrochen; es wird in "
        "diesem Lauf nicht mehr aufgerufen",
        script, name);
  TimeoutReported(">>>> " + text);
}

void cScriptingV2::LoadScripts(const std::string& folder) {
  for (const std::filesystem::path& file : ListFolder(folder)) {
    const std::string name = file.filename().string();
    if (text::LowerAscii(cUtil::GetFileExtender(name)) != "vbs") continue;
    std::string path = folder;
    if (!path.empty() && path.back() != '\\' && path.back() != '/') path += "\\";
    path += name;
    try {
      engine_.AddCode(cUtil::File2Str(file.string()), path);
    } catch (const HostError&) {
      const script::ScriptError& e = engine_.Error();
      const std::string text =
          path + "/ " + e.description + kCrLf + "Line: " + std::to_string(e.line) + kCrLf + e.text;
      try {
        if (util_) {
          util_->MessageBox(text, mb::kSystemModal);
        } else {
          MessageBox(text, mb::kSystemModal);
        }
      } catch (const std::exception&) {
        // a failing box must not stop the loading
      }
    } catch (const std::exception& ex) {
      // An unreadable file: reported like a script error, without a line.
      try {
        MessageBox(path + "/ " + ex.what(), mb::kSystemModal);
      } catch (const std::exception&) {
      }
    }
    engine_.ClearError();
  }
}

void cScriptingV2::UpdateRecordset(db::Recordset& rstoupdate) {
  if (!dal_)
    throw HostError(err::kObjectNotSet, "Keine Host-Sitzung (cDal fehlt)", "UpdateRecordset");
  dal_->UpdateRecordset(connect_, rstoupdate);
  rstoupdate.ClearFilter();
}

std::shared_ptr<db::Recordset> cScriptingV2::GetRecordset(const std::string& strSQL) {
  if (!dal_) throw HostError(err::kObjectNotSet, "Keine Host-Sitzung (cDal fehlt)", "GetRecordset");
  return dal_->GetRecordset(connect_, strSQL, 4);
}

void cScriptingV2::Reset() { engine_.Reset(); }

void cScriptingV2::RaiseMessage(std::string_view method, std::vector<Variant>& args, bool& cancel) {
  args.emplace_back();  // the consumer's result
  CallConsumers(
      this, method, args,
      [&cancel](std::vector<Variant>& a, const Variant&, bool ok) {
        if (!ok || !cUtil::b(a.back())) return true;
        cancel = true;
        return false;
      },
      [](std::vector<Variant>& a) { a.back() = Variant(); });
}

void cScriptingV2::RaiseMessageReceived(const Variant& value, Variant& recordset, bool& cancel) {
  std::vector<Variant> args{value, recordset};
  RaiseMessage("MessageReceived", args, cancel);
  recordset = args[1];
}

void cScriptingV2::RaiseMessageProcessed(const Variant& value, Variant& object1, Variant& object2,
                                         Variant& object3, bool& cancel) {
  std::vector<Variant> args{value, object1, object2, object3};
  RaiseMessage("MessageProcessed", args, cancel);
  object1 = args[1];
  object2 = args[2];
  object3 = args[3];
}

void cScriptingV2::RaiseMessageSend(const Variant& text, const Variant& value, Variant& object1,
                                    Variant& object2, bool& cancel) {
  std::vector<Variant> args{text, value, object1, object2};
  RaiseMessage("MessageSend", args, cancel);
  object1 = args[2];
  object2 = args[3];
}

void cScriptingV2::RaiseMessageSendError(const Variant& text, const Variant& value,
                                         Variant& object1, Variant& object2, const Variant& value2,
                                         const Variant& value3, Variant& object3, bool& cancel) {
  std::vector<Variant> args{text, value, object1, object2, value2, value3, object3};
  RaiseMessage("MessageSendError", args, cancel);
  object1 = args[2];
  object2 = args[3];
  object3 = args[6];
}

Variant cScriptingV2::Invoke(std::string_view name, unsigned kind, std::span<Variant> args) {
  if (NameIs(name, "EventsConsumers")) return ObjectProperty(consumers_, kind, args);
  if (NameIs(name, "UpdateRecordset")) {
    CheckArgCount(args, 1, 1, name);
    auto rs =
        args[0].IsObject() ? std::dynamic_pointer_cast<db::Recordset>(args[0].obj()) : nullptr;
    if (!rs) throw HostError(err::kTypeMismatch, "Type mismatch", "UpdateRecordset");
    UpdateRecordset(*rs);
    return {};
  }
  if (NameIs(name, "GetRecordset")) {
    CheckArgCount(args, 1, 1, name);
    return ObjectOrNothing(GetRecordset(vb::CStr(args[0])));
  }
  if (NameIs(name, "Util")) return ObjectProperty(util_, kind, args);
  if (NameIs(name, "CurrentUserRS")) return ObjectProperty(userRS_, kind, args);
  if (NameIs(name, "StdRS")) return ObjectProperty(stdRS_, kind, args);
  if (NameIs(name, "IsLoggedIn")) return Variant(IsLoggedIn());
  if (NameIs(name, "Folder")) return Variant(folder_);
  if (NameIs(name, "DBIni")) return ObjectProperty(dbIni_, kind, args);
  if (NameIs(name, "Reset")) {
    Reset();
    return {};
  }
  ThrowNoMember(name);
}

}  // namespace fern
