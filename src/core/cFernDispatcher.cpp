#include "core/cFernDispatcher.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <utility>

#include "core/host_session.h"
#include "host/LanguagePack.h"
#include "host/cDal.h"
#include "host/cDbIni.h"
#include "host/cKVUtil.h"
#include "host/cUtil.h"
#include "platform/vb.h"

namespace fern {

namespace fs = std::filesystem;

namespace {
constexpr uintmax_t kTransferLogLimit = 1000000;

template <typename F>
void Try(F&& f) {
  try {
    f();
  } catch (const std::exception&) {
    // Each step of Init is skipped on its own failure; the run goes on without that log.
  }
}
}  // namespace

cFernDispatcher::~cFernDispatcher() { Done(); }

cFernDispatcher::InitResult cFernDispatcher::Init() {
  // The lock stands for the Windows sharing error that kept a second run away from open logs.
  fs::path lockPath = HostFile("DAT\\FernDispatcher.lock");
  // The umask decides who shares it, as for the logs: window users and the night job of one
  // group take turns.
  int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  int error = fd < 0 ? errno : 0;
  if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error = errno;
    ::close(fd);
  }
  if (error != 0 && error != EWOULDBLOCK) {
    Util().msgstop(Language().TranslateString(
        "Die Sperrdatei %1 kann nicht angelegt oder gesperrt werden: %2%nl%Die Portalübertragung "
        "wird nicht gestartet.",
        lockPath.string(), FileErrorText(error)));
    return InitResult::kLockFailed;
  }
  if (error == EWOULDBLOCK) {
    std::fprintf(stderr,
                 "fern-dispatcher: Ein anderer Lauf hält die Sperrdatei %s; dieser Lauf startet "
                 "nicht.\n",
                 lockPath.c_str());
    if (GetCommandSwitch("/NOTCLOSEONERROR") == "1") {
      Util().msgstop(Language().TranslateString(
          "Die Portalübertragung läuft bereits und kann daher aktuell nicht erneut ausgeführt "
          "werden.%nl%Bitte versuchen Sie es zu einem späteren Zeitpunkt erneut."));
      return InitResult::kRefusedShown;
    }
    return InitResult::kRefusedEnd;
  }
  lockFd_ = fd;

  fs::path sendPath = HostFile("DAT\\Send.log");
  fs::path errorPath = HostFile("DAT\\Error.log");
  fs::path transferPath = HostFile("DAT\\Transfer.log");
  Try([&] {
    std::error_code ec;
    if (fs::exists(transferPath) && fs::file_size(transferPath) > kTransferLogLimit) {
      fs::path archive = HostFile("DAT\\FernDispatcher\\Transfer.log");
      if (fs::is_directory(archive.parent_path())) {
        fs::remove(archive, ec);
        fs::rename(transferPath, archive);
      }
    }
  });
  for (auto [log, path] :
       {std::pair{&m_tTransferLog, &transferPath}, std::pair{&m_tErrorLog, &errorPath},
        std::pair{&m_tSendLog, &sendPath}}) {
    int openError = 0;
    *log = LogStream::TryOpen(*path, openError);
    if (*log) continue;
    Util().msgstop(Language().TranslateString(
        "Das Protokoll %1 kann nicht geschrieben werden: %2%nl%Die Portalübertragung wird nicht "
        "gestartet.",
        path->string(), FileErrorText(openError)));
    Done();
    return InitResult::kLogFailed;
  }
  Try([&] { m_tErrorLog->Truncate(); });
  Try([&] { m_tSendLog->Truncate(); });
  return InitResult::kOpened;
}

void cFernDispatcher::Done() {
  for (auto* log : {&m_tSendLog, &m_tErrorLog, &m_tTransferLog}) {
    if (*log) (*log)->Close();
    log->reset();
  }
  if (lockFd_ >= 0) {
    ::flock(lockFd_, LOCK_UN);
    ::close(lockFd_);
    lockFd_ = -1;
  }
}

std::shared_ptr<db::Recordset> cFernDispatcher::GetRecordset(const std::string& strSQL) {
  return Session().g_oDal->GetRecordset(Session().g_strConnect, strSQL, 4);
}

void cFernDispatcher::UpdateRecordset(std::shared_ptr<db::Recordset>& rs) {
  Session().g_oDal->UpdateRecordset(Session().g_strConnect, *rs);
}

std::string cFernDispatcher::Folder() const {
  std::string folder = Session().g_strHostPath;
  if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  return folder;
}

cUtil& cFernDispatcher::Util() const { return *Session().g_oUtil; }
cDbIni& cFernDispatcher::DBIni() const { return *Session().g_oDbIni; }
std::shared_ptr<db::Recordset> cFernDispatcher::StdRS() const { return Session().g_StdRS; }
std::shared_ptr<db::Recordset> cFernDispatcher::CurrentUserRS() const {
  return Session().g_CurrentUserRS;
}
LanguagePack& cFernDispatcher::Language() const { return *Session().g_oLanguagePack; }
int32_t cFernDispatcher::VersionBuild() const { return Session().g_oKVUtil->ComVersion(); }
int32_t cFernDispatcher::VersionMajor() const {
  try {
    return Session().g_oKVUtil->ComMajorVersion();
  } catch (const std::exception&) {
    return 19;
  }
}

std::string cFernDispatcher::GetArtDsn(const std::string& strArtBez,
                                       const std::string& strNamePipeList1,
                                       const std::string& strDefDsnPipList,
                                       const std::string& strNamePipeList2) {
  std::string dsn, name;
  return GetArtDsnAndName(strArtBez, strNamePipeList1, strDefDsnPipList, strNamePipeList2, dsn,
                          name)
             ? dsn
             : std::string();
}

bool cFernDispatcher::LookUpArt(const std::string& sql, std::string& dsn, std::string& name) {
  auto rs = GetRecordset(sql);
  if (rs->Eof()) return false;
  dsn = cUtil::k(rs->Value("dsn"));
  name = cUtil::k(rs->Value("name"));
  return true;
}

bool cFernDispatcher::GetArtDsnAndName(const std::string& strArtBez, std::string strNamePipeList1,
                                       std::string strDefDsnPipList, std::string strNamePipeList2,
                                       std::string& strResultDsn, std::string& strResultName) {
  const std::string select = "SELECT dsn, name FROM Aktivitätenarten WHERE ";
  if (strResultName.empty()) {
    std::string value =
        Util().IniGet("Aktivitätenarten", strArtBez, "", Folder() + "\\kavantor.INI");
    if (!value.empty())
      LookUpArt(select + "Name = " + cUtil::SqlStr(Variant(value)), strResultDsn, strResultName);
  }
  auto byName = [&](std::string& list) {
    while (strResultName.empty() && !list.empty()) {
      std::string item = cUtil::StrList_DeleteFirst(list, "|");
      LookUpArt(select + "name like " + cUtil::SqlStr(Variant(item)) + " ORDER BY name",
                strResultDsn, strResultName);
    }
  };
  byName(strNamePipeList1);
  while (strResultName.empty() && !strDefDsnPipList.empty()) {
    std::string item = cUtil::StrList_DeleteFirst(strDefDsnPipList, "|");
    LookUpArt(select + "dsn = " + cUtil::SqlUid(Variant(item)), strResultDsn, strResultName);
  }
  byName(strNamePipeList2);
  return !strResultName.empty();
}

std::string cFernDispatcher::ReplacePlatzhalter(const std::string& strText,
                                                const db::Recordset* rs) const {
  if (!rs || strText != "{AD_NAME}") return strText;
  try {
    return cUtil::k(rs->Value("Name"));
  } catch (const std::exception&) {
    return strText;
  }
}

Variant cFernDispatcher::Invoke(std::string_view name, unsigned kind, std::span<Variant> args) {
  auto obj = [](std::shared_ptr<Dispatch> p) {
    return p ? Variant(std::move(p)) : Variant::Nothing();
  };
  if (NameIs(name, "m_tErrorLog")) return obj(m_tErrorLog);
  if (NameIs(name, "m_tSendLog")) return obj(m_tSendLog);
  if (NameIs(name, "m_tTransferLog")) return obj(m_tTransferLog);
  if (NameIs(name, "Init")) return Variant(Init() == InitResult::kOpened);
  if (NameIs(name, "Done")) {
    Done();
    return {};
  }
  if (NameIs(name, "GetRecordset")) {
    CheckArgCount(args, 1, 1, name);
    return Variant(std::static_pointer_cast<Dispatch>(GetRecordset(vb::CStr(args[0]))));
  }
  if (NameIs(name, "UpdateRecordset")) {
    CheckArgCount(args, 1, 1, name);
    auto rs = std::dynamic_pointer_cast<db::Recordset>(args[0].obj());
    if (!rs) throw HostError(err::kTypeMismatch, "Type mismatch", "UpdateRecordset");
    UpdateRecordset(rs);
    return {};
  }
  if (NameIs(name, "Folder")) return Variant(Folder());
  if (NameIs(name, "Util")) return obj(Session().g_oUtil);
  if (NameIs(name, "DBIni")) return obj(Session().g_oDbIni);
  if (NameIs(name, "StdRS")) return obj(StdRS());
  if (NameIs(name, "CurrentUserRS")) return obj(CurrentUserRS());
  if (NameIs(name, "Commands")) return Variant::Nothing();
  if (NameIs(name, "VersionBuild")) return Variant(VersionBuild());
  if (NameIs(name, "VersionMajor")) return Variant(VersionMajor());
  if (NameIs(name, "VersionTyp")) return Variant(VersionTyp());
  if (NameIs(name, "LanguagePack")) return obj(Session().g_oLanguagePack);
  if (NameIs(name, "GetArtDsn")) {
    CheckArgCount(args, 2, 4, name);
    auto arg = [&](size_t i) {
      return i < args.size() && !args[i].IsMissing() ? vb::CStr(args[i]) : std::string();
    };
    return Variant(GetArtDsn(arg(0), arg(1), arg(2), arg(3)));
  }
  if (NameIs(name, "GetArtDsnAndName")) {
    CheckArgCount(args, 6, 6, name);
    std::string dsn = vb::CStr(args[4]), resultName = vb::CStr(args[5]);
    bool found = GetArtDsnAndName(vb::CStr(args[0]), vb::CStr(args[1]), vb::CStr(args[2]),
                                  vb::CStr(args[3]), dsn, resultName);
    args[4] = Variant(dsn);
    args[5] = Variant(resultName);
    return Variant(found);
  }
  if (NameIs(name, "ReplacePlatzhalter")) {
    CheckArgCount(args, 2, 2, name);
    auto rs =
        args[1].IsObject() ? std::dynamic_pointer_cast<db::Recordset>(args[1].obj()) : nullptr;
    return Variant(ReplacePlatzhalter(vb::CStr(args[0]), rs.get()));
  }
  (void)kind;
  ThrowNoMember(name);
}

}  // namespace fern
