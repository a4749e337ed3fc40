#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "core/cFernDispatcher.h"
#include "core/run_driver.h"
#include "core/startup.h"
#include "platform/file_error.h"
#include "platform/host_path.h"
#include "platform/text_file.h"
#include "platform/vb.h"
#include "platform/waits.h"
#include "support/demo_host_fixture.h"
#include "support/test_files.h"

namespace fern {
namespace {

namespace fs = std::filesystem;
using testing::DemoHostTest;

// Exporters that raise a scripted sequence and record what the driver handed them.
struct Script {
  std::vector<std::string> calls;
  std::vector<std::pair<int16_t, std::string>> work, internal;
  bool throwInImmo = false;
  bool throwInWeb = false;
  bool escAfterWebsite = false;
  bool termAfterWebsite = false;
  rlim_t fileLimitAfterWebsite = 0;  // a file may not grow beyond this from then on
};

// No file may grow beyond `bytes` (0: as far as the hard limit allows); a write beyond fails.
void LimitFiles(rlim_t bytes) {
  rlimit limit{};
  ::getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = bytes > 0 ? bytes : limit.rlim_max;
  ::setrlimit(RLIMIT_FSIZE, &limit);
  ::signal(SIGXFSZ, bytes > 0 ? SIG_IGN : SIG_DFL);
}

class FakeWeb : public WebsiteExporter {
 public:
  explicit FakeWeb(Script& s) : s_(s) {}
  void Init(const std::string&, cFernDispatcher&, const Variant&) override {}
  void Transfer(db::Recordset& rs, int32_t, int32_t, bool showUrl) override {
    s_.calls.push_back("web " + vb::CStr(rs.Value("boersen_name")) + (showUrl ? " url" : ""));
    if (s_.throwInWeb && s_.calls.size() == 1) throw HostError(5, "Kaputt", "FakeWeb");
    for (auto& [st, t] : s_.work) events.RaiseWorkState(st, t);
    for (auto& [st, t] : s_.internal) events.RaiseInternalState(st, t);
    if (ProgressState) ProgressState("packe");
    if (s_.escAfterWebsite) SetEsc();
    if (s_.fileLimitAfterWebsite > 0) {
      events.RaiseWorkState(7, std::string(5600, 'x'));
      LimitFiles(s_.fileLimitAfterWebsite);
    }
    if (s_.termAfterWebsite) {
      InstallCancelSignals();
      std::raise(SIGTERM);
    }
  }

 private:
  Script& s_;
};

class FakeImmo : public OpenImmoExporter {
 public:
  explicit FakeImmo(Script& s) : s_(s) {}
  void StartImmoXML(cFernDispatcher&, const std::string&, db::Recordset& rs, bool, bool unattend,
                    int32_t type) override {
    std::string names;
    for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext())
      names += vb::CStr(rs.Value("boersen_name")) + "/" + vb::CStr(rs.Value("teil_or_voll")) + " ";
    s_.calls.push_back("immo " + std::to_string(type) + (unattend ? " unattended " : " ") + names);
    if (s_.throwInImmo && type == 5) throw HostError(5, "Kaputt", "FakeImmo");
    events.RaiseWorkState(7, "immo sieben");
  }

 private:
  Script& s_;
};

class FakeRest : public RestExporter {
 public:
  explicit FakeRest(Script& s) : s_(s) {}
  Variant Init(cFernDispatcher&, std::string&, std::string&) override { return Variant::Null(); }
  void Transfer(db::Recordset&) override { s_.calls.push_back("rest"); }

 private:
  Script& s_;
};

class PortalGridTest : public ::testing::Test, public DemoHostTest {
 protected:
  void SetUp() override {
    Start();
    InitHostSession();
    grid.LoadPortalGrid();
  }
  PortalGrid grid;
};

class RunDriverTest : public PortalGridTest {
 protected:
  void SetUp() override {
    ResetEsc();
    PortalGridTest::SetUp();
    ExporterFactory f;
    f.website = [this] { return std::make_unique<FakeWeb>(script); };
    f.openImmo = [this] { return std::make_unique<FakeImmo>(script); };
    f.rest = [this] { return std::make_unique<FakeRest>(script); };
    driver = std::make_unique<RunDriver>(grid, f, RunView{});
  }
  void TearDown() override {
    ResetEsc();
    ResetCancelSignal();
  }

  std::vector<std::string> Lines(const std::string& log) {
    std::vector<std::string> out;
    std::ifstream in(host() / "DAT" / log, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      out.push_back(line);
    }
    return out;
  }
  // The send-log line without its time stamp.
  static std::string Plain(const std::string& line) {
    size_t a = line.find("; ");
    if (a == std::string::npos) return line;
    size_t b = line.find("; ", a + 2);
    return line.substr(0, a) + "; " + line.substr(b + 2);
  }

  Script script;
  std::unique_ptr<RunDriver> driver;
};

TEST_F(RunDriverTest, PhasesRunInFixedOrderOverTheCheckedPortals) {
  driver->m_blnScopePartial = true;
  RunUnattended(grid, *driver, "Wohnen HTTP Demo|eigene homepage|ImmoPortal Demo|IS24 XML Demo|");
  ASSERT_EQ(script.calls.size(), 3u);
  EXPECT_EQ(script.calls[0], "web Eigene Homepage url");
  // Scope "partial" marks the type-5 rows; the exporter is never told it runs unattended.
  EXPECT_EQ(script.calls[1], "immo 5 ImmoPortal Demo/1 Wohnen HTTP Demo/1 ");
  EXPECT_EQ(script.calls[2], "immo 11 IS24 XML Demo/0 ");
}

TEST_F(RunDriverTest, ReportsReachListLogsAndErrorCountByTheirRules) {
  script.work = {{4, "Schritt"},         {102, "kaputt '/tmp\\TRANSFER\\a.xml'"},
                 {7, "nur geloggt"},     {20, "File exists"},
                 {8, "50% von 10 Byte"}, {100, "abgebrochen"}};
  script.internal = {{3, "intern"}};
  int rc = RunUnattended(grid, *driver, "Eigene Homepage|");
  EXPECT_EQ(rc, exitcode::kErrors);
  EXPECT_EQ(driver->m_lngErrors, 2);

  std::vector<std::string> shown(driver->Messages().Lines().begin(),
                                 driver->Messages().Lines().end());
  EXPECT_EQ(shown, (std::vector<std::string>{"Schritt", "kaputt '/tmp/TRANSFER/a.xml'",
                                             "50% von 10 Byte", "abgebrochen"}));

  EXPECT_EQ(Lines("Error.log"),
            (std::vector<std::string>{"102; kaputt '/tmp/TRANSFER/a.xml'", "100; abgebrochen"}));
  std::vector<std::string> send;
  for (const std::string& l : Lines("Send.log")) send.push_back(Plain(l));
  EXPECT_EQ(send,
            (std::vector<std::string>{"", "4; Schritt", "", "102; kaputt '/tmp/TRANSFER/a.xml'",
                                      "7; nur geloggt", "100; abgebrochen", "3; intern"}));

  std::vector<std::string> transfer = Lines("Transfer.log");
  ASSERT_EQ(transfer.size(), 1u);
  EXPECT_NE(transfer[0].find("; Errors: 2; PortalList: Eigene Homepage|;"), std::string::npos);
  std::string prefix = vb::Format(Variant::Date(driver->m_dtmStart), "_yyyyMMdd_hhmmss_");
  EXPECT_TRUE(fs::exists(host() / "DAT" / "FernDispatcher" / (prefix + "Send.log")));
  EXPECT_TRUE(fs::exists(host() / "DAT" / "FernDispatcher" / (prefix + "Error.log")));
}

TEST_F(RunDriverTest, OpenImmoStateSevenIsListedAndRestNeedsATrueInit) {
  RunUnattended(grid, *driver, "ImmoPortal Demo|ImmobilienScout24|");
  EXPECT_EQ(driver->Messages().Lines().back(), "immo sieben");
  // Init answered Null: the REST transfer is not started.
  for (const std::string& c : script.calls) EXPECT_NE(c, "rest");
  EXPECT_EQ(driver->m_lngErrors, 0);
}

TEST_F(RunDriverTest, EscSkipsTheLaterPhasesButTheRunIsFinished) {
  script.escAfterWebsite = true;
  RunUnattended(grid, *driver, grid.GetAllPortalNames());
  EXPECT_EQ(script.calls, std::vector<std::string>{"web Eigene Homepage url"});
  EXPECT_EQ(Lines("Transfer.log").size(), 1u);
}

TEST_F(RunDriverTest, ASignalEndsTheRunAsCancelledWithItsOwnExitCode) {
  script.termAfterWebsite = true;
  int rc = RunUnattended(grid, *driver, grid.GetAllPortalNames());
  EXPECT_EQ(rc, exitcode::kCancelled);
  EXPECT_EQ(script.calls, std::vector<std::string>{"web Eigene Homepage url"});
  EXPECT_EQ(Lines("Error.log"),
            std::vector<std::string>{
                "100; >>>> \xDC"
                "bertragung abgebrochen: Signal SIGTERM empfangen"  // the log is Windows-1252
            });
  ASSERT_EQ(Lines("Transfer.log").size(), 1u);
  EXPECT_NE(Lines("Transfer.log")[0].find("; Errors: 1;"), std::string::npos);
}

class ArchiveCopyTest : public RunDriverTest {
 protected:
  fs::path Copy(const std::string& name) const {
    return host() / "DAT" / "FernDispatcher" /
           (vb::Format(Variant::Date(driver->m_dtmStart), "_yyyyMMdd_hhmmss_") + name);
  }
  // The exit code and the lines on standard error about the archive; files may grow again.
  std::pair<int, std::vector<std::string>> Run() {
    ::testing::internal::CaptureStderr();
    const int rc = RunUnattended(grid, *driver, "Eigene Homepage|");
    LimitFiles(0);
    std::istringstream err(::testing::internal::GetCapturedStderr());
    std::vector<std::string> lines;
    for (std::string line; std::getline(err, line);)
      if (line.find("Archiv") != std::string::npos) lines.push_back(line);
    return {rc, lines};
  }
};

// The night job's mail is the run's standard error: a missing copy is named there, no cut one
// is left, and the exit code stays the run's.
TEST_F(ArchiveCopyTest, ACopyCutByAFullDiskIsRemovedAndNamed) {
  script.fileLimitAfterWebsite = 4096;
  const auto [rc, lines] = Run();
  EXPECT_EQ(rc, exitcode::kOk);
  EXPECT_GT(fs::file_size(host() / "DAT" / "Send.log"), 5600u);
  EXPECT_FALSE(fs::exists(Copy("Send.log")));
  EXPECT_TRUE(fs::exists(Copy("Error.log")));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("Die Archivkopie " + Copy("Send.log").string() +
                          " fehlt: " + FileErrorText(EFBIG)),
            std::string::npos)
      << lines[0];
}

TEST_F(ArchiveCopyTest, AnArchiveFolderThatCantBeMadeIsNamedForEachCopy) {
  // A file where the folder belongs: root, too, can't write there.
  std::ofstream(host() / "DAT" / "FernDispatcher") << "kein Ordner";
  const auto [rc, lines] = Run();
  EXPECT_EQ(rc, exitcode::kOk);
  ASSERT_EQ(lines.size(), 2u);
  const std::string both = lines[0] + "\n" + lines[1];
  for (const std::string name : {"Send.log", "Error.log"})
    EXPECT_NE(both.find("Die Archivkopie " + Copy(name).string() + " fehlt: "), std::string::npos)
        << both;
  for (const std::string& line : lines) EXPECT_NE(line.find("Ordner"), std::string::npos) << line;
}

// A night script runs portals one after another; the first may fail at once, so the next run
// starts in the same second. No run's copies are overwritten: a run whose second is taken uses
// the next free one for both.
TEST_F(ArchiveCopyTest, RunsInTheSameSecondKeepEachTheirOwnCopies) {
  const fs::path archive = host() / "DAT" / "FernDispatcher";
  const auto copy = [&](double date, const std::string& name) {
    return archive / (vb::Format(Variant::Date(date), "_yyyyMMdd_hhmmss_") + name);
  };
  script.work = {{102, "erster Lauf"}};
  Run();
  const double first = driver->m_dtmStart;
  const std::string firstSend = testing_files::ReadAll(Copy("Send.log"));
  ASSERT_NE(firstSend.find("erster Lauf"), std::string::npos);
  // Other runs' copies for the seconds that follow, as a busy night leaves them.
  std::map<fs::path, std::string> others;
  for (int second = 1; second <= 3; ++second)
    for (const char* name : {"Send.log", "Error.log"}) {
      const fs::path p = copy(first + second / 86400.0, name);
      if (fs::exists(p)) continue;
      others[p] = std::string("anderer Lauf ") + name;
      std::ofstream(p) << others[p];
    }

  script.work = {{102, "zweiter Lauf"}};
  Run();
  EXPECT_EQ(testing_files::ReadAll(copy(first, "Send.log")), firstSend);
  for (const auto& [p, text] : others) EXPECT_EQ(testing_files::ReadAll(p), text) << p;
  // The second run's two copies: one name form, one second, not before the run started.
  std::vector<std::string> seconds;
  for (const auto& e : fs::directory_iterator(archive)) {
    const std::string name = e.path().filename().string();
    if (testing_files::ReadAll(e.path()).find("zweiter Lauf") == std::string::npos) continue;
    ASSERT_TRUE(name.ends_with("_Send.log") || name.ends_with("_Error.log")) << name;
    seconds.push_back(name.substr(0, 17));
  }
  ASSERT_EQ(seconds.size(), 2u);
  EXPECT_EQ(seconds[0], seconds[1]);
  EXPECT_GE(seconds[0], vb::Format(Variant::Date(driver->m_dtmStart), "_yyyyMMdd_hhmmss_"));
  EXPECT_TRUE(std::regex_match(seconds[0], std::regex("_[0-9]{8}_[0-9]{6}_")));
}

TEST_F(RunDriverTest, AFailingExporterIsCountedAndTheRunStillFinishes) {
  script.throwInImmo = true;
  int rc = RunUnattended(grid, *driver, "ImmoPortal Demo|IS24 XML Demo|");
  EXPECT_EQ(rc, exitcode::kErrors);
  EXPECT_EQ(driver->m_lngErrors, 1);
  EXPECT_EQ(Lines("Error.log"),
            std::vector<std::string>{"102; There was an error in RunTransfer. Kaputt"});
  EXPECT_EQ(script.calls.size(), 2u);  // the type-11 phase still ran
  EXPECT_EQ(Lines("Transfer.log").size(), 1u);
}

TEST_F(RunDriverTest, AFailingWebSitePortalLeavesTheNextOneItsRun) {
  Session().g_oDal->ExecQuery(Session().g_strConnect,
                              "insert into Boersen (DSN, boersen_name, boersentyp) values "
                              "('{0000000A-0000-4000-8000-000000000001}', 'Zweite Homepage', 6)");
  grid.LoadPortalGrid();
  script.throwInWeb = true;
  RunUnattended(grid, *driver, "Eigene Homepage|Zweite Homepage|");
  EXPECT_EQ(script.calls,
            (std::vector<std::string>{"web Eigene Homepage url", "web Zweite Homepage url"}));
  EXPECT_EQ(
      Lines("Error.log"),
      std::vector<std::string>{"102; There was an error in RunTransfer. Eigene Homepage: Kaputt"});
}

TEST_F(RunDriverTest, WithoutExportersEveryTypeReportsThatItCantBeSentYet) {
  RunDriver plain(grid);
  int rc = RunUnattended(grid, plain, grid.GetAllPortalNames());
  EXPECT_EQ(rc, exitcode::kErrors);
  EXPECT_EQ(plain.m_lngErrors, 5);
}

TEST_F(RunDriverTest, UnknownTypesAndUnmatchedNamesAreCountedErrorsNamingThePortal) {
  Sql("UPDATE Boersen SET boersentyp = NULL WHERE boersen_name = 'ImmoPortal Demo'");
  Sql("UPDATE Boersen SET boersentyp = 42 WHERE boersen_name = 'IS24 XML Demo'");
  int rc = RunUnattended(grid, *driver, "ImmoPortal Demo|IS24 XML Demo|Nirgendwo|");
  EXPECT_EQ(rc, exitcode::kErrors);
  EXPECT_TRUE(script.calls.empty());
  EXPECT_EQ(Lines("Error.log"),
            (std::vector<std::string>{
                "102; >>>> Portal \"Nirgendwo\" nicht gefunden",
                "102; >>>> Portal \"ImmoPortal Demo\": Portaltyp \"\" ist unbekannt",
                "102; >>>> Portal \"IS24 XML Demo\": Portaltyp \"42\" ist unbekannt"}));
  EXPECT_NE(Lines("Transfer.log").at(0).find("; Errors: 3;"), std::string::npos);
}

TEST_F(RunDriverTest, SelectionQueryQuotesKeysAndEmptySelectionReturnsNoRows) {
  grid.ClearPortalChecks();
  EXPECT_TRUE(driver->GetSelectedPortals(5)->Eof());
  grid.Rows()[0].dsn = "{X'Y}";
  grid.Rows()[0].uebertragen = "1";
  EXPECT_TRUE(driver->GetSelectedPortals(5)->Eof());
}

TEST(MessageListCap, TheOldestLineGoesAtTwoThousandFiveHundredAndOne) {
  MessageList list;
  for (int i = 1; i <= 2502; ++i) list.AddMessage(std::to_string(i));
  EXPECT_EQ(list.Lines().size(), 2501u);
  EXPECT_EQ(list.Lines().front(), "2");
}

TEST_F(PortalGridTest, CheckStatesRoundTripThroughGuiIni) {
  EXPECT_EQ(grid.GetPortalList(true), grid.GetAllPortalNames());  // all checked at first
  grid.ClearPortalChecks();
  grid.ApplyPortalList(" remax demo =1|Unbekannt=1|Eigene Homepage|");
  EXPECT_EQ(grid.GetPortalList(true), "Eigene Homepage|Remax Demo|");
  grid.SaveTransferStatus();
  PortalGrid again;
  again.LoadPortalGrid();
  again.LoadTransferStatus();
  EXPECT_EQ(again.GetPortalList(true), "Eigene Homepage|Remax Demo|");
  EXPECT_NE(ReadText(ResolveHostPath(GuiIniPath())).find("TransferStatus=Eigene Homepage=1|"),
            std::string::npos);
}

TEST_F(PortalGridTest, NotesAreFoundByKeyNotByRow) {
  std::string first = grid.GetNotiz(1);
  EXPECT_FALSE(first.empty());
  std::swap(grid.Rows()[0], grid.Rows()[1]);
  EXPECT_EQ(grid.GetNotiz(2), first);
  EXPECT_EQ(grid.GetNotiz(99), "");
}

}  // namespace
}  // namespace fern

namespace fern {
namespace {

class UnattendedBoxesTest : public ::testing::Test, public testing::DemoHostTest {};

TEST_F(UnattendedBoxesTest, ABoxDuringAnUnattendedRunIsWrittenToTheSendLog) {
  SetMessageAnswerer(nullptr);  // the unattended default, as in a night run
  Start();
  InitHostSession();
  PortalGrid grid;
  grid.LoadPortalGrid();
  ExporterFactory f;
  int answer = 0;
  struct Asking : OpenImmoExporter {
    explicit Asking(int& a) : answer(a) {}
    int& answer;
    void StartImmoXML(cFernDispatcher&, const std::string&, db::Recordset&, bool, bool,
                      int32_t) override {
      answer = MessageBox("Weiter?", 4 + 256, "Frage");
    }
  };
  f.openImmo = [&] { return std::make_unique<Asking>(answer); };
  RunDriver driver(grid, f);
  RunUnattended(grid, driver, "ImmoPortal Demo|");
  EXPECT_EQ(answer, 7);  // the default button, No
  std::string send = ReadText(host() / "DAT" / "Send.log");
  EXPECT_NE(send.find("; Frage: Weiter?"), std::string::npos);
}

}  // namespace
}  // namespace fern
