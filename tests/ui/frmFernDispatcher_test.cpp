// The main window offscreen on a demo host: grid, saved check states and position, the run's
// message list and buttons, Esc, Cancel and Close during a run, links and the login buttons.
#include <unistd.h>

#include <QHelpEvent>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include <csignal>
#include <fstream>

#include "core/startup.h"
#include "openimmo/cImmoXmlV2.h"
#include "platform/cp1252.h"
#include "platform/host_error.h"
#include "platform/waits.h"
#include "restportal/login_rest.h"
#include "support/stalled_portal.h"
#include "support/test_files.h"
#include "ui/lnkLabel.h"
#include "ui_fixture.h"

namespace fern::testing {
namespace {

constexpr int kCheck = frmFernDispatcher::kColCheck;

std::string Checks(QTableWidget* t) {
  std::string out;
  for (int r = 0; r < t->rowCount(); ++r)
    out += t->item(r, kCheck)->checkState() == Qt::Checked ? '1' : '0';
  return out;
}

QTableWidgetItem* CheckOf(QTableWidget* t, const std::string& name) {
  for (int r = 0; r < t->rowCount(); ++r)
    if (t->item(r, frmFernDispatcher::kColName)->text().toStdString() == name)
      return t->item(r, kCheck);
  return nullptr;
}

using WindowTest = UiTest;

TEST_F(WindowTest, GridShowsEveryPortalWithHiddenKeyAndNotesByKey) {
  // Two portals of one name: each row must show its own note, whatever order the query gives.
  Sql("INSERT INTO Boersen (DSN, boersen_name, boersentyp, notiz) VALUES "
      "('{0000AAAA-0000-0000-0000-000000000001}', 'Remax Demo', 10, 'die zweite Remax'), "
      "('{0000AAAA-0000-0000-0000-000000000002}', 'Zuletzt', 5, NULL)");
  auto w = Open();
  QTableWidget* t = w->fpSCheckUebertragung;
  std::vector<std::string> names, notes;
  for (int r = 0; r < t->rowCount(); ++r) {
    names.push_back(t->item(r, kCheck)->text().toStdString());
    bool second = t->item(r, frmFernDispatcher::kColDsn)->text().contains("0000AAAA");
    notes.push_back(t->item(r, kCheck)->toolTip().toStdString() + (second ? "*" : ""));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Eigene Homepage", "ImmobilienScout24",
                                             "ImmoPortal Demo", "IS24 XML Demo", "Remax Demo",
                                             "Remax Demo", "Wohnen HTTP Demo", "Zuletzt"}));
  EXPECT_EQ(notes[0], "Die Web-Site des Büros");
  EXPECT_EQ(notes[7], "*");
  EXPECT_TRUE((notes[4] == "nicht umgesetzt" && notes[5] == "die zweite Remax*") ||
              (notes[5] == "nicht umgesetzt" && notes[4] == "die zweite Remax*"))
      << notes[4] << " / " << notes[5];
  EXPECT_TRUE(t->isColumnHidden(frmFernDispatcher::kColDsn));
  EXPECT_FALSE(t->isColumnHidden(kCheck));
  EXPECT_EQ(t->item(0, kCheck)->flags() & (Qt::ItemIsUserCheckable | Qt::ItemIsEditable),
            Qt::ItemIsUserCheckable);

  // A wide grid gives its width to the names.
  w->resize(1600, w->height());
  w->show();
  QCoreApplication::processEvents();
  EXPECT_GE(t->columnWidth(kCheck), t->viewport()->width() - 2);
}

TEST_F(WindowTest, EmptyPortalTableGivesOneLockedRedRow) {
  Sql("DELETE FROM boersenobj");
  Sql("DELETE FROM Boersen");
  auto w = Open();
  ASSERT_EQ(w->fpSCheckUebertragung->rowCount(), 1);
  QTableWidgetItem* item = w->fpSCheckUebertragung->item(0, kCheck);
  EXPECT_EQ(item->text().toStdString(), frmFernDispatcher::kNoData);
  EXPECT_EQ(item->foreground().color(), QColor(255, 0, 0));
  EXPECT_FALSE(item->flags() & (Qt::ItemIsUserCheckable | Qt::ItemIsEditable));

  // Touching the locked row changes nothing; a run has an empty portal list.
  item->setCheckState(Qt::Checked);
  EXPECT_TRUE(w->Grid().Empty());
  EXPECT_EQ(w->butStart_Click(), RunDriver::StartResult::kRan);
  EXPECT_EQ(ReadGui("TransferStatus"), "");
}

TEST_F(WindowTest, CheckStatesAreRestoredFollowTheUserAndAreSavedAfterTheRun) {
  WriteGui("TransferStatus", "ImmoPortal Demo=0| remax demo =1|Eigene Homepage=0|Gibt es nicht=0|");
  auto w = Open();
  QTableWidget* t = w->fpSCheckUebertragung;
  EXPECT_EQ(Checks(t), "010111");

  // The user's clicks reach the model the run reads.
  CheckOf(t, "ImmobilienScout24")->setCheckState(Qt::Unchecked);
  CheckOf(t, "ImmoPortal Demo")->setCheckState(Qt::Checked);
  EXPECT_EQ(w->Grid().GetPortalList(true),
            "ImmoPortal Demo|IS24 XML Demo|Remax Demo|Wohnen HTTP Demo|");

  EXPECT_EQ(w->butStart_Click(), RunDriver::StartResult::kRan);
  EXPECT_EQ(ReadGui("TransferStatus"),
            "Eigene Homepage=0|ImmobilienScout24=0|ImmoPortal Demo=1|IS24 XML Demo=1|"
            "Remax Demo=1|Wohnen HTTP Demo=1|");

  // A new start shows what was saved.
  w.reset();
  ResetSession();
  EXPECT_EQ(Checks(Open()->fpSCheckUebertragung), "001111");
}

TEST_F(WindowTest, SavedPositionIsClampedAndMinimisedComesBackMaximised) {
  QRect screen = QGuiApplication::primaryScreen()->geometry();
  const struct {
    const char* saved;
    bool maximised;
    QRect normal;
  } cases[] = {
      {"2|-30000|-30000|100|100", true, QRect(0, 0, 200, 200)},
      {"1|40|50|300|250", true, QRect(40, 50, 300, 250)},
      {"0|40|50|300|250", false, QRect(40, 50, 300, 250)},
      {"0|7|8|99999|99999", false, QRect(7, 8, screen.width(), screen.height())},
      {"kaputt|x|y|z|", false, QRect(0, 0, 200, 200)},
      {"0|12.6|3.4|400|300", false, QRect(13, 3, 400, 300)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.saved);
    WriteGui("MAINPOS", c.saved);
    auto w = Open();
    EXPECT_EQ(w->isMaximized(), c.maximised);
    EXPECT_EQ(w->normalGeometry(), c.normal);
    w.reset();
    ResetSession();
  }
}

TEST_F(WindowTest, PositionWithoutSavedValueIsCentredAndSavedOnClose) {
  auto w = Open();
  QRect screen = QGuiApplication::primaryScreen()->geometry();
  EXPECT_EQ(w->geometry().topLeft(),
            QPoint((screen.width() - w->width()) / 2, (screen.height() - w->height()) / 2));
  w->setGeometry(30, 40, 420, 380);
  w->close();
  EXPECT_EQ(ReadGui("MAINPOS"), "0|30|40|420|380");
  w->setWindowState(Qt::WindowMaximized);
  w->SaveWindowPos();
  EXPECT_EQ(ReadGui("MAINPOS"), "2|30|40|420|380");
}

// Raises the scripted lines, notes what the window showed meanwhile, and presses Esc in the
// window when asked to.
struct Script {
  frmFernDispatcher* window = nullptr;
  int lines = 0;
  std::string longLine;  // raised after the numbered lines
  bool pressEsc = false;
  std::string seen;
  std::vector<int32_t> types;
};

// The newest line is the current one, lies wholly inside the list, and the list shows the
// lines' beginnings.
std::string NewestInView(QListView* list) {
  const QModelIndex last = list->model()->index(list->model()->rowCount() - 1, 0);
  std::string out;
  if (list->currentIndex() != last) out += "not current ";
  if (!list->viewport()->rect().contains(list->visualRect(last))) out += "not in view ";
  if (list->horizontalScrollBar()->value() != 0) out += "scrolled sideways ";
  return out.empty() ? "ok" : out;
}

class ScriptedOpenImmo : public OpenImmoExporter {
 public:
  explicit ScriptedOpenImmo(Script& script) : s_(script) {}
  void StartImmoXML(cFernDispatcher&, const std::string&, db::Recordset&, bool, bool,
                    int32_t type) override {
    s_.types.push_back(type);
    // Waiting code pumps the window's events through the hook.
    bool pumped = false;
    QTimer::singleShot(0, [&pumped] { pumped = true; });
    PumpEvents();
    const QCursor* cursor = QApplication::overrideCursor();
    s_.seen += std::string(pumped ? "pumped " : "") +
               (cursor && cursor->shape() == Qt::WaitCursor ? "busy " : "") +
               (s_.window->butStart->isEnabled() ? "start " : "") +
               (s_.window->butCancel->isEnabled() ? "cancel " : "");
    events.RaiseInternalState(3, "Verbindung");
    s_.seen += s_.window->lblProgress->text().toStdString();
    for (int i = 1; i <= s_.lines; ++i) events.RaiseWorkState(0, "m" + std::to_string(i));
    if (!s_.longLine.empty()) {
      events.RaiseWorkState(102, s_.longLine);
      // What the user sees while the run goes on, once the list has laid out its lines.
      for (int i = 0; i < 40 && NewestInView(s_.window->lisMeldung) != "ok"; ++i) Sleep(50);
      s_.seen += " " + NewestInView(s_.window->lisMeldung);
    }
    if (s_.pressEsc) QTest::keyClick(s_.window, Qt::Key_Escape);
    s_.pressEsc = false;
  }

 private:
  Script& s_;
};

class RunWindowTest : public UiTest {
 protected:
  void OpenWith(const std::string& portals) {
    ExporterFactory f;
    f.openImmo = [this] { return std::make_unique<ScriptedOpenImmo>(script); };
    w = Open(f);
    script.window = w.get();
    w->Grid().ClearPortalChecks();
    w->Grid().ApplyPortalList(portals);
  }
  Script script;
  std::unique_ptr<frmFernDispatcher> w;
};

TEST_F(RunWindowTest, RunFillsTheCappedListAndTogglesTheButtons) {
  script.lines = 2600;
  OpenWith("ImmoPortal Demo|");
  EXPECT_EQ(w->butStart_Click(), RunDriver::StartResult::kRan);
  EXPECT_EQ(script.seen, "pumped busy cancel Übertragungsstatus: ...Verbindung");
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  const QAbstractItemModel* lines = w->lisMeldung->model();
  ASSERT_EQ(lines->rowCount(), 2501);
  EXPECT_EQ(lines->index(0, 0).data().toString().toStdString(), "m100");
  EXPECT_EQ(w->lisMeldung->currentIndex().data().toString().toStdString(), "m2600");
  EXPECT_TRUE(w->butStart->isEnabled());
  EXPECT_FALSE(w->butCancel->isEnabled());
  EXPECT_EQ(w->lblProgress->text().toStdString(), "");
}

TEST_F(RunWindowTest, NewestLineStaysInViewAndACutLineShowsItsWholeTextAsTip) {
  script.lines = 400;
  script.longLine =
      ">>>> Anmeldung am FTP-Server 127.0.0.1 fehlgeschlagen: " + std::string(300, '.') +
      " Kennwort falsch";
  OpenWith("ImmoPortal Demo|");
  w->resize(600, 500);
  w->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
  w->butStart_Click();
  EXPECT_TRUE(script.seen.ends_with("Verbindung ok")) << script.seen;
  QListView* list = w->lisMeldung;
  EXPECT_TRUE(QTest::qWaitFor([&] { return NewestInView(list) == "ok"; }, 2000))
      << NewestInView(list);
  EXPECT_EQ(list->horizontalScrollBar()->maximum(), 0);
  EXPECT_EQ(list->currentIndex().data().toString().toStdString(), script.longLine);

  // The cut line tells its whole text; a line that fits needs no tip.
  auto tipAt = [&](int row) {
    QRect rect = list->visualRect(list->model()->index(row, 0));
    QHelpEvent help(QEvent::ToolTip, rect.center(), list->viewport()->mapToGlobal(rect.center()));
    QCoreApplication::sendEvent(list->viewport(), &help);
    return QToolTip::isVisible() ? QToolTip::text().toStdString() : std::string();
  };
  const int last = list->model()->rowCount() - 1;
  EXPECT_EQ(tipAt(last - 1), "");
  EXPECT_EQ(tipAt(last), script.longLine);
  QToolTip::hideText();
}

TEST_F(RunWindowTest, EscDuringARunSkipsItsLaterPhasesButNotTheNextRun) {
  OpenWith("ImmoPortal Demo|IS24 XML Demo|");
  script.pressEsc = true;
  w->butStart_Click();
  EXPECT_TRUE(EscPressed());
  EXPECT_EQ(script.types, std::vector<int32_t>{5});
  // The error log tells why the rest is missing; the window stays.
  EXPECT_EQ(cp1252::ToUtf8(testing_files::ReadAll(host() / "DAT" / "Error.log")),
            "100; >>>> Übertragung abgebrochen: Esc gedrückt\r\n");
  EXPECT_TRUE(w->butStart->isEnabled());
  EXPECT_EQ(answers->texts, std::vector<std::string>{});  // Esc alone asks nothing

  script.types.clear();
  w->butStart_Click();
  EXPECT_EQ(script.types, (std::vector<int32_t>{5, 11}));
  ResetEsc();
}

// The host service's check answers, as the host REST client would hand them over.
struct CheckClient : LoginRestClient {
  explicit CheckClient(std::string a) : answer(std::move(a)) {}
  std::string CallIS24RestApiStartCreateLogin(const std::string&) override { return {}; }
  std::string CallIS24RestApiEndCreateLogin(const std::string&, const std::string&) override {
    return {};
  }
  std::string CallIS24RestApiCheckLogin(const std::string&) override { return answer; }
  int32_t getResponseCode() override { return 200; }
  std::string answer;
};

TEST_F(WindowTest, LoginButtonsNeedExactlyOneCheckedRestPortal) {
  Sql("INSERT INTO Boersen (DSN, boersen_name, boersentyp) VALUES "
      "('{0000AAAA-0000-0000-0000-000000000003}', 'IS24 Zweitkonto', 113)");
  auto w = Open();
  QTableWidget* t = w->fpSCheckUebertragung;
  CheckOf(t, "IS24 Zweitkonto")->setCheckState(Qt::Unchecked);
  const std::string restDsn = w->Grid().Rows()[CheckOf(t, "ImmobilienScout24")->row()].dsn;

  // One of type 113 checked among the others; no login window in this window alone.
  w->butIS24Login->click();
  ASSERT_EQ(answers->texts.size(), 1u);
  EXPECT_NE(answers->texts[0].find("nicht verfügbar"), std::string::npos);

  std::vector<std::string> calls;
  w->showLoginWindow = [&](std::string& dsn) { calls.push_back("login " + dsn); };
  w->butIS24Login->click();
  EXPECT_EQ(calls, std::vector<std::string>{"login " + restDsn});

  answers->texts.clear();
  CheckOf(t, "IS24 Zweitkonto")->setCheckState(Qt::Checked);
  w->Command1->click();
  w->butIS24LoginV2->click();
  CheckOf(t, "IS24 Zweitkonto")->setCheckState(Qt::Unchecked);
  CheckOf(t, "ImmobilienScout24")->setCheckState(Qt::Unchecked);
  w->butIS24Login->click();
  EXPECT_EQ(answers->texts,
            (std::vector<std::string>{"zuviel IS24Boersen markiert", "zuviel IS24Boersen markiert",
                                      "keine IS24Boerse markiert"}));
  EXPECT_EQ(calls.size(), 1u);

  // A failing login window is reported with the handler's name, number and reason.
  CheckOf(t, "ImmobilienScout24")->setCheckState(Qt::Checked);
  answers->texts.clear();
  w->showLoginWindow = [](std::string&) { throw HostError(91, "kein Fenster", "Shower"); };
  w->butIS24Login->click();
  EXPECT_EQ(answers->texts, std::vector<std::string>{
                                "There was an error in butIS24Login_Click.\r\n91\r\nkein Fenster"});
}

TEST_F(WindowTest, LoginCheckShowsTheAnswerAndSaysWhatItMeans) {
  auto w = Open();
  std::vector<std::string> shown;
  w->showAnswerWindow = [&](const std::string& answer) { shown.push_back(answer); };
  struct Case {
    std::string answer;
    std::vector<std::string> boxes;
  } cases[] = {
      {"Successfully sent an test-request", {"Das Portal ist authentifiziert."}},
      {"portal is not authenticated", {"Das Portal ist nicht authentifiziert."}},
      {"<html>etwas anderes</html>", {}},
      {"", {}},
  };
  for (const Case& c : cases) {
    answers->texts.clear();
    shown.clear();
    w->restClient = [&] { return std::make_unique<CheckClient>(c.answer); };
    w->Command1->click();
    EXPECT_EQ(answers->texts, c.boxes) << c.answer;
    EXPECT_EQ(shown,
              c.answer.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.answer});
  }
}

TEST_F(WindowTest, StartAndTheLoginsWaitWhileTheLoginCheckAsksTheService) {
  // The service call lets window events through, so a click meanwhile would start a run or a
  // second login beside the check.
  auto w = Open();
  struct Watching : CheckClient {
    Watching(frmFernDispatcher* window, std::vector<bool>* out)
        : CheckClient(""), w(window), seen(out) {}
    std::string CallIS24RestApiCheckLogin(const std::string&) override {
      *seen = {w->butStart->isEnabled(), w->butIS24Login->isEnabled(),
               w->butIS24LoginV2->isEnabled(), w->Command1->isEnabled()};
      return "portal is not authenticated";
    }
    frmFernDispatcher* w;
    std::vector<bool>* seen;
  };
  std::vector<bool> enabledMeanwhile;
  w->restClient = [&] { return std::make_unique<Watching>(w.get(), &enabledMeanwhile); };
  w->Command1->click();
  EXPECT_EQ(enabledMeanwhile, std::vector<bool>(4, false));
  EXPECT_TRUE(w->butStart->isEnabled() && w->Command1->isEnabled());
}

TEST_F(WindowTest, LoginProgramRunsBesideTheProgramWithTheWindowAlive) {
  auto w = Open();
  const std::string path = ::getenv("PATH") ? ::getenv("PATH") : "";
  ::setenv("PATH", dir.path().c_str(), 1);
  w->butIS24LoginV2->click();
  ::setenv("PATH", path.c_str(), 1);
  ASSERT_EQ(answers->texts.size(), 1u);
  EXPECT_NE(answers->texts[0].find("IS24Login.exe"), std::string::npos);

  // The fake program writes its arguments and waits to be seen running.
  const std::filesystem::path program = Session().programFolder / "IS24Login.exe";
  const std::filesystem::path out = dir.path() / "args.txt";
  std::ofstream(program) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" << out.string()
                         << "'\nsleep 0.3\n";
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);
  std::vector<bool> enabledMeanwhile;
  QTimer::singleShot(150, [&] {
    enabledMeanwhile = {w->butStart->isEnabled(), w->butIS24Login->isEnabled(),
                        w->butIS24LoginV2->isEnabled(), w->Command1->isEnabled()};
  });
  answers->texts.clear();
  w->butIS24LoginV2->click();
  EXPECT_TRUE(answers->texts.empty());
  EXPECT_EQ(enabledMeanwhile, std::vector<bool>(4, false));
  EXPECT_TRUE(w->butStart->isEnabled() && w->butIS24LoginV2->isEnabled());
  std::ifstream in(out);
  std::string dsn, connect;
  std::getline(in, dsn);
  std::getline(in, connect);
  EXPECT_EQ(dsn,
            w->Grid().Rows()[CheckOf(w->fpSCheckUebertragung, "ImmobilienScout24")->row()].dsn);
  EXPECT_EQ(connect, Session().g_strConnect);
}

TEST_F(WindowTest, LinksOpenTheLogsAndTheClientListShowsOnlyWhenItExists) {
  auto w = Open();
  EXPECT_TRUE(w->lnkLabelMandant->isHidden());
  std::vector<std::string> opened;
  w->openDocument = [&](const std::string& path) { opened.push_back(path); };
  QTest::mouseClick(w->lnkLabelErrorLog, Qt::LeftButton);
  QTest::mouseClick(w->lnkLabelTransferLog, Qt::LeftButton);
  EXPECT_EQ(opened, (std::vector<std::string>{GetHostPath("Dat\\Error.log"),
                                              GetHostPath("Dat\\Transfer.log")}));

  // An opener that fails says so instead of ending the window.
  w->openDocument = [](const std::string&) { throw HostError(53, "xdg-open fehlt", "StartDoc"); };
  QTest::mouseClick(w->lnkLabelSendLog, Qt::LeftButton);
  EXPECT_EQ(answers->texts, std::vector<std::string>{"xdg-open fehlt"});

  w.reset();
  ResetSession();
  std::ofstream(host() / "System" / "Mandanten.ini") << "[Mandanten]\r\n";
  EXPECT_FALSE(Open()->lnkLabelMandant->isHidden());
}

std::string FileText(const std::filesystem::path& file) {
  return cp1252::ToUtf8(testing_files::ReadAll(file));
}

TEST_F(WindowTest, CancelAndCloseDuringARunStopItWithItsRecordThenEndTheProcess) {
  StalledPortal portal;
  Sql("UPDATE Boersen SET boersen_host = '" + portal.Url() +
      "' WHERE boersen_name = 'Wohnen HTTP Demo'");
  for (const char* button : {"Abbrechen", "Schließen"}) {
    SCOPED_TRACE(button);
    WriteGui("MAINPOS", "");
    auto w = Open(DefaultExporters());
    w->Grid().ClearPortalChecks();
    w->Grid().ApplyPortalList("Wohnen HTTP Demo|");
    w->show();
    // What the process leaves behind at its end.
    std::vector<int> codes;
    std::string transferLog, errorLog;
    w->endProcess = [&](int code) {
      codes.push_back(code);
      transferLog = FileText(host() / "DAT" / "Transfer.log");
      errorLog = FileText(host() / "DAT" / "Error.log");
      SetEsc();  // the process would be gone: nothing may wait on
    };
    QPushButton* press = std::string(button) == "Abbrechen" ? w->butCancel : w->butClose;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (!portal.Called()) return;
      poll.stop();
      press->click();
    });
    poll.start(10);
    w->butStart_Click();
    poll.stop();

    ASSERT_EQ(codes, std::vector<int>{exitcode::kCancelled});
    EXPECT_NE(transferLog.find("; PortalList: Wohnen HTTP Demo|;"), std::string::npos)
        << transferLog;
    EXPECT_EQ(transferLog.find("; Errors: 0;"), std::string::npos) << transferLog;
    EXPECT_NE(errorLog.find("Übertragung abgebrochen: \"" + std::string(button) + "\""),
              std::string::npos)
        << errorLog;
    EXPECT_EQ(ReadGui("MAINPOS").empty(), std::string(button) == "Abbrechen");
    ResetEsc();
    w.reset();
    ResetSession();
  }
}

TEST_F(WindowTest, CloseWithTheLoginWindowOpenEndsTheProcess) {
  auto w = Open();
  w->show();
  std::vector<int> codes;
  w->endProcess = [&](int code) { codes.push_back(code); };
  QWidget login;
  login.show();
  w->butClose->click();
  EXPECT_EQ(codes, std::vector<int>{exitcode::kOk});
  EXPECT_FALSE(ReadGui("MAINPOS").empty());
}

TEST_F(WindowTest, LinksAndTheErrorLogQuestionSayInGermanWhenNoViewerStarts) {
  auto w = Open();
  const std::string path = ::getenv("PATH") ? ::getenv("PATH") : "";
  ::setenv("PATH", dir.path().c_str(), 1);  // no viewer anywhere
  QTest::mouseClick(w->lnkLabelErrorLog, Qt::LeftButton);
  // An opener that is there but finds no viewer for the file gives up at once.
  {
    std::ofstream opener(dir / "xdg-open");
    opener << "#!/bin/sh\necho \"no method available for opening '$1'\" >&2\nexit 3\n";
  }
  std::filesystem::permissions(dir / "xdg-open", std::filesystem::perms::owner_all);
  QTest::mouseClick(w->lnkLabelErrorLog, Qt::LeftButton);
  std::filesystem::remove(dir / "xdg-open");

  // After a run with errors the user answers yes to seeing the error log.
  struct Yes : RecordingAnswerer {
    bool MsgAsk(const std::string& q, bool) override {
      texts.push_back(q);
      return true;
    }
  };
  auto yes = std::make_shared<Yes>();
  SetMessageAnswerer(yes);
  w->Grid().ClearPortalChecks();
  w->Grid().ApplyPortalList("Remax Demo|");
  w->butStart_Click();
  ::setenv("PATH", path.c_str(), 1);

  const std::string expected = (host() / "DAT" / "Error.log").string() +
                               " kann nicht angezeigt werden: Es ist kein Anzeigeprogramm "
                               "eingerichtet (xdg-open aus dem Paket xdg-utils).";
  EXPECT_EQ(answers->texts, (std::vector<std::string>{expected, expected}));
  ASSERT_EQ(yes->texts.size(), 2u);
  EXPECT_EQ(yes->texts[1], expected);
}

TEST_F(WindowTest, AnIdleWindowClosesOnSigterm) {
  auto w = Open();
  w->show();
  InstallCancelSignals();
  std::raise(SIGTERM);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !w->isVisible(); }, 2000));
  ResetEsc();
  ResetCancelSignal();
}

TEST_F(WindowTest, StartupFailureLeavesNoBusyBracketOpen) {
  Start({"/USERKV", "NIEMAND"});
  frmFernDispatcher w({}, false);
  EXPECT_THROW(w.InitMainWindow(), StartupFailure);
  EXPECT_EQ(BusyDepth(), 0);
  ASSERT_EQ(answers->texts.size(), 1u);
  EXPECT_NE(answers->texts[0].find("NIEMAND"), std::string::npos);
}

}  // namespace
}  // namespace fern::testing
