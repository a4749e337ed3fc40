// The Start action: one transfer run over the checked portals in five phases of fixed order
// (types 6, 5, 11, 10, 113), the state reports of the exporters turned into list lines, log
// lines and the error count, then the run line and the archive copies of the logs. It runs
// without a window; the window is one client, the tests another.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/cFernDispatcher.h"
#include "core/exporters.h"
#include "core/portal_grid.h"

namespace fern {

// The run's message list: at most 2,501 lines, the oldest dropped first.
class MessageList {
 public:
  static constexpr size_t kMaxBeforeAdd = 2500;
  void Clear() { lines_.clear(); }
  void AddMessage(const std::string& text) {
    if (lines_.size() > kMaxBeforeAdd) lines_.pop_front();
    lines_.push_back(text);
  }
  const std::deque<std::string>& Lines() const { return lines_; }

 private:
  std::deque<std::string> lines_;
};

// What the run shows; every member may be left empty.
struct RunView {
  std::function<void(const std::string&)> messageAdded;  // after MessageList::AddMessage
  std::function<void()> messagesCleared;
  std::function<void(const std::string&)> progressText;
  std::function<void(bool running)> runningChanged;  // Start disabled, Cancel enabled
};

class RunDriver {
 public:
  RunDriver(PortalGrid& grid, const ExporterFactory& factory = {}, RunView view = {});

  // kLockFailed: the run lock could not be taken for another reason than a second run;
  // kLogFailed: a log can't be written. A box said why; nothing ran.
  enum class StartResult { kRan, kRefused, kRefusedEndProcess, kLockFailed, kLogFailed };

  // Start: the session object, the run, the logs closed, the check states saved.
  StartResult butStart_Click();

  // The checked portals of one type, as a recordset of Boersen rows.
  std::shared_ptr<db::Recordset> GetSelectedPortals(int32_t lngType);
  void ApplyScopeSwitch(db::Recordset& rs);
  void Report(int32_t lngState, const std::string& strText, bool blnShow, bool blnIsError);
  // The time stamp of send-log lines: "HH:nn:ss:" and three-digit milliseconds.
  static std::string GetTimeStamp();

  bool m_blnUnattended = false;
  bool m_blnScopeFull = false;
  bool m_blnScopePartial = false;
  int32_t m_lngErrors = 0;
  // SIGTERM or SIGINT came during the last run: it was cut short and said so.
  bool m_blnCancelledBySignal = false;
  // The user stopped the last run from the window: it was cut short and said so.
  bool m_blnStoppedByUser = false;
  // Stops the run under way as SIGTERM does: the current step ends at its next look at the
  // cancel flag, the rest is skipped, and the logs and run line say it was cancelled.
  // `button` names what the user pressed.
  void StopRun(const std::string& button);
  bool Running() const { return m_oFernDispatcher != nullptr; }
  // Names of an unattended run's portal list that match no portal; each is a counted error.
  std::vector<std::string> m_unmatchedPortals;
  double m_dtmStart = 0;
  // The last run's line of the transfer log, and the first of its error-log lines (the count of
  // all is m_lngErrors).
  static constexpr size_t kKeptErrorLines = 50;
  const std::string& RunLine() const { return runLine_; }
  const std::vector<std::string>& ErrorLines() const { return errorLines_; }
  MessageList& Messages() { return messages_; }
  const MessageList& Messages() const { return messages_; }

 private:
  void RunTransfer();
  void RunPhase(int32_t type);
  void WebsitePhase(db::Recordset& rs, bool signature);
  void OpenImmoPhase(db::Recordset& rs, bool signature, int32_t type);
  void RestPhase(db::Recordset& rs);
  void AskShowErrorLog();
  void WriteRunLine();
  void ArchiveLogs();
  bool Signature() const;
  void AddMessage(const std::string& text);
  void SetProgressText(const std::string& text);
  void ReportPhaseFailure(const std::string& reason);
  void ReportPortalsNotSent();

  PortalGrid& grid_;
  ExporterFactory factory_;
  RunView view_;
  MessageList messages_;
  std::unique_ptr<cFernDispatcher> m_oFernDispatcher;
  std::string runLine_;
  std::vector<std::string> errorLines_;
  std::string stopButton_;
};

// Opens a host file with the desktop's viewer; when none can start, a box says so in German
// with the file's real path.
void ShowDocument(const std::string& hostPath);

// One message box of an unattended run as a line on standard error ("title: text", or the text
// alone without a title).
void WriteBoxToConsole(const std::string& title, const std::string& text);

}  // namespace fern
