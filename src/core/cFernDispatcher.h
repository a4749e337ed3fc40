// The per-run session object: owns the run's three logs and hands the host session to the
// exporters, which call its members directly or, from scripts, by name.
#pragma once

#include <memory>
#include <string>

#include "core/log_stream.h"
#include "db/Recordset.h"
#include "platform/dispatch.h"

namespace fern {

class cUtil;
class cDbIni;
class LanguagePack;

class cFernDispatcher : public Dispatch {
 public:
  std::shared_ptr<LogStream> m_tErrorLog;
  std::shared_ptr<LogStream> m_tSendLog;
  std::shared_ptr<LogStream> m_tTransferLog;

  enum class InitResult {
    kOpened,        // this run holds the logs (a log that failed to open stays unset)
    kRefusedShown,  // another run is active; the stop box was shown ("/NOTCLOSEONERROR" 1)
    kRefusedEnd,    // another run is active; the process must end
    kLockFailed,    // the lock file can't be opened or locked; a box said why, nothing runs
    kLogFailed,     // a log can't be written; a box named it, nothing runs
  };

  ~cFernDispatcher() override;

  // Takes the run lock, rotates the transfer log and opens the three logs. A second run is
  // refused before it touches the logs of the first, and says so on standard error. A lock that
  // can't be taken for another reason refuses the run too: two runs must never share the logs.
  // So does a log that can't be written: a night without its record must not send anything.
  // The last run's logs are emptied only once all three are open.
  InitResult Init();
  // Closes the logs and gives up the run lock.
  void Done();

  std::shared_ptr<db::Recordset> GetRecordset(const std::string& strSQL);
  void UpdateRecordset(std::shared_ptr<db::Recordset>& rs);
  std::string Folder() const;  // the host folder without its trailing "\"
  cUtil& Util() const;
  cDbIni& DBIni() const;
  std::shared_ptr<db::Recordset> StdRS() const;
  std::shared_ptr<db::Recordset> CurrentUserRS() const;
  LanguagePack& Language() const;
  int32_t VersionBuild() const;
  int32_t VersionMajor() const;
  int32_t VersionTyp() const { return 8; }

  std::string GetArtDsn(const std::string& strArtBez, const std::string& strNamePipeList1,
                        const std::string& strDefDsnPipList = {},
                        const std::string& strNamePipeList2 = {});
  bool GetArtDsnAndName(const std::string& strArtBez, std::string strNamePipeList1,
                        std::string strDefDsnPipList, std::string strNamePipeList2,
                        std::string& strResultDsn, std::string& strResultName);
  std::string ReplacePlatzhalter(const std::string& strText, const db::Recordset* rs) const;

  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "cFernDispatcher"; }

 private:
  bool LookUpArt(const std::string& sql, std::string& dsn, std::string& name);
  int lockFd_ = -1;
};

}  // namespace fern
