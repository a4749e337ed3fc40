#include "restportal/cIS24RestTransfer.h"

#include <gtest/gtest.h>

#include <QImage>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "host/cDbIni.h"
#include "platform/base64.h"
#include "platform/host_path.h"
#include "platform/vb.h"
#include "platform/waits.h"
#include "restportal/cKavantorAPIMini.h"
#include "restportal/rest_fixture.h"
#include "support/http_server.h"

namespace fern::testing {
namespace {

namespace fs = std::filesystem;

struct Line {
  int16_t state;
  std::string text;
  bool operator==(const Line&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Line& l) { return o << l.state << ";" << l.text; }

class VersionedTransfer : public cIS24RestTransfer {
 public:
  int32_t build = 520, major = 20;

 protected:
  int32_t VersionBuild() const override { return build; }
  int32_t VersionMajor() const override { return major; }
};

// Hooks that say what they were given; BEFORE_ANSWER in the before-transfer hook's answer.
constexpr const char* kHooks = R"VBS(
Class RestHooks
  Public Function Callback_BeforeTransfer(rsboersen)
    Callback_BeforeTransfer = "BEFORE_ANSWER"
  End Function
  Public Function Callback_AfterTransfer(rsboersen, blnTransferOk)
    Callback_AfterTransfer = "after=" & blnTransferOk
  End Function
End Class
Dim oRestHooks
Set oRestHooks = New RestHooks
Application.EventsConsumers.Add oRestHooks
)VBS";

class RestTransferTest : public RestHostTest {
 protected:
  void Hooks(const std::string& beforeAnswer = "\"ok\"") {
    const fs::path folder = host() / "System" / "Services" / "IS24Rest";
    fs::create_directories(folder);
    std::string text = kHooks;
    text.replace(text.find("\"BEFORE_ANSWER\""), 15, beforeAnswer);
    std::ofstream(folder / "hooks.vbs") << text;
  }
  // One run over the type-113 portal with the host's version.
  void Run(const std::string& base, int32_t build = 520, int32_t major = 20) {
    Preference("RESTAPI.URL", base);
    lines.clear();
    VersionedTransfer t;
    t.build = build;
    t.major = major;
    t.events.WorkState = [this](int16_t s, const std::string& x) { lines.push_back({s, x}); };
    std::string connect = Session().g_strConnect, user = UserDsn();
    if (!vb::CBool(t.Init(app, connect, user))) return;
    branded = ResolveHostPath(t.BrandedFolder());
    auto rs =
        Session().g_oDal->GetRecordset(connect, "select * from Boersen where boersentyp = 113");
    portal = cUtil::k(rs->Value("DSN"));
    t.Transfer(*rs);
  }
  std::string Texts(int16_t state) const {
    std::string out;
    for (const auto& l : lines)
      if (l.state == state) out += l.text + "\n";
    return out;
  }
  // No listing of the portal: the run sends its request without preparing pictures.
  void NoListings() {
    Exec(
        "DELETE FROM boersenobj WHERE boersen_dsn IN (SELECT DSN FROM Boersen WHERE "
        "boersentyp = 113)");
  }
  static size_t Files(const fs::path& folder) {
    size_t n = 0;
    for (const auto& e : fs::recursive_directory_iterator(folder)) n += e.is_regular_file();
    return n;
  }

  std::vector<Line> lines;
  fs::path branded;
  std::string portal;
};

TEST_F(RestTransferTest, VersionGate) {
  const struct {
    int32_t build, major;
    bool runs;
  } cases[] = {{509, 19, false}, {400, 20, true}, {510, 5, true}};
  for (const auto& k : cases) {
    VersionedTransfer t;
    t.build = k.build;
    t.major = k.major;
    lines.clear();
    t.events.WorkState = [this](int16_t s, const std::string& x) { lines.push_back({s, x}); };
    std::string connect = Session().g_strConnect, user = UserDsn();
    EXPECT_EQ(vb::CBool(t.Init(app, connect, user)), k.runs) << k.build;
    if (k.runs) {
      EXPECT_TRUE(lines.empty());
    } else {
      EXPECT_EQ(lines, (std::vector<Line>{{102, std::string(80, '*')},
                                          {102,
                                           "Fehler bei IS24RestTransfer. Kavantor-Build muss "
                                           "mindestens 510 sein."},
                                          {6, ""}}));
    }
  }
}

TEST_F(RestTransferTest, AccessChecksEndTheRunBeforeAnyHookOrPublish) {
  Hooks();
  NoListings();
  RestServiceOptions o;
  o.super = true;
  RestService s(dir / "rec", o);

  Exec("UPDATE PREFERENCES SET VALUE = '0' WHERE PREFKEY = 'ALLOWED_USE_RESTAPI'");
  Run(s.Base());
  EXPECT_EQ(lines, (std::vector<Line>{
                       {102, "Sie sind nicht berechtigt mit der Kavantor-API zu kommunizieren."},
                       {6, ""}}));
  Exec("UPDATE PREFERENCES SET VALUE = '1' WHERE PREFKEY = 'ALLOWED_USE_RESTAPI'");

  Exec("UPDATE ben SET AD_DSN = NULL WHERE login_name = 'DEMO'");
  Run(s.Base());
  EXPECT_EQ(
      lines,
      (std::vector<Line>{{102, "Im KAVANTOR-Benutzer 'Dana Demo' ist keine Adresse verknüpft."}}));
  EXPECT_TRUE(s.Received().empty());
  Exec("UPDATE ben SET AD_DSN = (SELECT MIN(DSN) FROM AD) WHERE login_name = 'DEMO'");

  Run(s.Base() + "/elsewhere");  // answers 404
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text,
            "Die KAVANTOR-API ist nicht erreichbar. (Status 404, application/xml; "
            "charset=UTF-8)");

  // The super user skips the availability check; its publish goes out as the super user.
  Ini("USER", "ApiSuperAD", "1", "sql\\sql.ini");
  const size_t before = s.Received().size();
  Run(s.Base());
  const auto got = s.Received();
  ASSERT_EQ(got.size(), before + 1);
  EXPECT_EQ(RequestLine(got.back()), "POST /api/portals/publish HTTP/1.1");
  EXPECT_EQ(Header(got.back(), "Authorization"), "Basic " + Base64Encode("local/superAdmin:"));
  EXPECT_EQ(Texts(102), "");
}

TEST_F(RestTransferTest, PublishRunPreparesPicturesWithinLimitsAndSendsOneRequest) {
  Hooks();
  Ini("OPTIONS", "XML_PICWIDTH", "500");
  Ini("OPTIONS", "IS24XML_PICWIDTH", "300");
  Ini("OPTIONS", "IS24XMLGRUND_PICWIDTH", "250");
  Ini("OPTIONS", "VERERBTE_FELDARTENPLATZHALTER", "0");
  Ini("KAVANTORAPI", "VerifyCertificate", "0");
  // A parent chain that loops must not stop the run.
  Exec(
      "UPDATE obj SET OBJ_DSN = (SELECT DSN FROM obj WHERE KENNUNG = (SELECT MAX(KENNUNG) FROM "
      "obj)) WHERE OBJ_DSN IS NULL");
  Ini("IS24Transfer", "CopyObjRootDetails", " 1 ");
  Exec("UPDATE obj SET PROV_INT = 'P-' || KENNUNG");
  RestService s(dir / "rec");
  Run(s.Base());

  ASSERT_FALSE(lines.empty());
  // "  ProvUpdate Objekt: <parent>/<listing>": the listing took its parent's commission.
  const std::string prov = Texts(0).substr(Texts(0).find("  ProvUpdate Objekt: ") + 21);
  const std::string parent = prov.substr(0, prov.find('/'));
  const std::string child = prov.substr(prov.find('/') + 1, prov.find('\n') - prov.find('/') - 1);
  auto row = Session().g_oDal->GetRecordset(
      Session().g_strConnect, "SELECT PROV_INT FROM obj WHERE REPLACE(KENNUNG, ' ', '') = " +
                                  cUtil::SqlStr(Variant(child)));
  EXPECT_EQ(cUtil::k(row->Value("PROV_INT")), "P-" + parent) << prov;
  EXPECT_EQ(lines.front(), (Line{0,
                                 "Warnung: Die Zertifikate der KAVANTOR-API werden nicht "
                                 "geprüft (Kavantor.INI, [KAVANTORAPI] VerifyCertificate=0)."}));
  EXPECT_EQ(Texts(102), "");
  EXPECT_NE(Texts(4).find("Beginne IS24RestTransfer für Börse: 'ImmobilienScout24' zu erstellen"),
            std::string::npos);
  EXPECT_EQ(Texts(14), "Scripting: ok\nScripting: after=True\n");
  EXPECT_EQ(lines.back().state, 14);
  EXPECT_EQ(lines[lines.size() - 2].text.rfind("Beenden der IS24RestTransfer-Erstellung", 0), 0u);

  const auto got = s.Received();
  ASSERT_EQ(got.size(), 2u);
  std::string key = portal;
  EXPECT_EQ(Body(got[1]),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><publishPortalsType><language>de</language>"
            "<portalIds>" +
                cUtil::removeBrace(key) +
                "</portalIds><propertyInheritanceEnabled>0</propertyInheritanceEnabled>"
                "<imageInheritanceEnabled>1</imageInheritanceEnabled></publishPortalsType>");

  size_t pictures = 0;
  for (const auto& e : fs::recursive_directory_iterator(branded)) {
    if (!e.is_regular_file()) continue;
    ++pictures;
    QImage image(QString::fromStdString(e.path().string()));
    EXPECT_FALSE(image.isNull()) << e.path();
    // The demo's second picture of a listing is its floor plan ("Grundriss").
    const bool floorPlan = e.path().filename().string().find("_1.") != std::string::npos;
    EXPECT_LE(image.width(), floorPlan ? 250 : 300) << e.path();
  }
  EXPECT_GT(pictures, 3u);
}

TEST_F(RestTransferTest, StatusMatrixAndTheAfterHooksFlag) {
  Hooks();
  NoListings();
  const struct {
    int status;  // 0: the publish endpoint is unset, so the call fails
    int32_t build, major;
    const char* error;
    const char* after;
  } cases[] = {
      {200, 520, 20, "", "Scripting: ok\nScripting: after=True\n"},
      {500, 520, 20, "Fehler bei IS24RestTransfer. Status = 500\n", "after=False"},
      {0, 627, 19, "", "after=False"},
      {0, 628, 19, "Fehler bei IS24RestTransfer. Status = 0 (see KV-11463)\n", "after=False"},
      {0, 400, 20, "Fehler bei IS24RestTransfer. Status = 0 (see KV-11463)\n", "after=False"},
  };
  int n = 0;
  for (const auto& k : cases) {
    RestServiceOptions o;
    o.publishStatus = k.status ? k.status : 200;
    RestService s(dir / ("rec" + std::to_string(++n)), o);
    if (k.status == 0) Preference(cKavantorAPIMini::kTransferStartKey, "");
    Run(s.Base(), k.build, k.major);
    EXPECT_EQ(Texts(102), k.error) << k.status << " " << k.build;
    EXPECT_NE(Texts(14).find(k.after), std::string::npos) << Texts(14);
    EXPECT_EQ(s.Received().size(), k.status ? 2u : 1u);
  }
}

TEST_F(RestTransferTest, RedirectsAreNotFollowedAndNamedInTheError) {
  NoListings();
  std::atomic<bool> usersMoved{true};
  std::atomic<int> followed{0};
  testing_servers::HttpServer service;
  auto to = [&](const std::string& path) { return "http://" + service.Address(path); };
  service.server.Get(R"(/api/users/.*)", [&](const httplib::Request&, httplib::Response& res) {
    if (usersMoved)
      res.set_redirect(to("/sso/login"), 302);
    else
      res.set_content("<user/>", "application/xml");
  });
  service.server.Post("/api/portals/publish", [&](const httplib::Request&, httplib::Response& res) {
    res.set_redirect(to("/sso/login?from=publish"), 307);
  });
  service.server.Get("/sso/login", [&](const httplib::Request&, httplib::Response& res) {
    ++followed;
    res.set_content("Anmeldung", "text/html");
  });
  service.Start();

  Run(to("/api"));
  EXPECT_EQ(Texts(102), "Die KAVANTOR-API ist nicht erreichbar. (Status 302, Weiterleitung nach " +
                            to("/sso/login") + " nicht gefolgt)\n");
  usersMoved = false;
  Run(to("/api"));
  EXPECT_EQ(Texts(102), "Fehler bei IS24RestTransfer. Status = 307 (Weiterleitung nach " +
                            to("/sso/login?from=publish") + " nicht gefolgt)\n");
  EXPECT_EQ(followed, 0);
}

TEST_F(RestTransferTest, ScriptLineWithFourMarksStopsTheRun) {
  Hooks("\"ok\" & vbCrLf & \">>>> stop\" & vbCrLf & \"later\"");
  RestService s(dir / "rec");
  Run(s.Base());
  EXPECT_EQ(lines,
            (std::vector<Line>{{14, "Scripting: ok"},
                               {102,
                                ">>>> Fehler : 50021(>>>> stop; Callback_BeforeTransfer) [Proc: "
                                "IS24Rest.Transfer]0"}}));
  ASSERT_EQ(s.Received().size(), 1u);  // the availability check only
  EXPECT_FALSE(fs::exists(branded));
}

// The stop is what the run reports then, not an unreachable service.
TEST_F(RestTransferTest, AStopDuringTheAvailabilityCheckEndsTheRunWithoutAnError) {
  Hooks();
  RestServiceOptions o;
  o.delaySeconds = 30;
  RestService s(dir / "rec", o);
  InstallCancelSignals();
  std::thread term([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(::getpid(), SIGTERM);
  });
  const auto start = std::chrono::steady_clock::now();
  Run(s.Base());
  term.join();
  const bool stopped = EscPressed();
  ResetEsc();
  ResetCancelSignal();
  ::signal(SIGTERM, SIG_DFL);
  EXPECT_TRUE(stopped);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  for (const Line& l : lines) EXPECT_LT(l.state, 100) << l;
  EXPECT_EQ(Texts(14), "") << "no hook runs after the stop";
  EXPECT_LE(s.Received().size(), 1u);
}

// A service whose answer makes the logging's masking work hard: the stop still ends the run.
TEST_F(RestTransferTest, SigtermWhileAHostileAnswerIsMaskedEndsTheRunAtOnce) {
  std::string answer;
  while (answer.size() < 1024 * 1024) answer += "<verifier a=1 ";
  answer += ">";
  // The signal comes as the check's answer arrives; the publish waits for it.
  std::atomic<bool> served = false;
  std::atomic<std::chrono::steady_clock::time_point> sent{};
  testing_servers::HttpServer service;
  service.server.Get(R"(/api/users/.*)", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content(answer, "application/xml");
    served = true;
  });
  service.server.Post(R"(/api/portals/publish)",
                      [&](const httplib::Request&, httplib::Response& res) {
                        for (int i = 0; i < 500 && sent.load() == decltype(sent.load()){}; ++i)
                          std::this_thread::sleep_for(std::chrono::milliseconds(20));
                        res.set_content(answer, "application/xml");
                      });
  service.Start();
  Session().g_blnDebugLog = true;
  InstallCancelSignals();
  std::thread term([&] {
    for (int i = 0; i < 1000 && !served; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    sent = std::chrono::steady_clock::now();
    ::kill(::getpid(), SIGTERM);
  });
  Run("http://" + service.Address("/api"));
  const auto ended = std::chrono::steady_clock::now();
  term.join();
  Session().g_blnDebugLog = false;
  const bool stopped = EscPressed();
  ResetEsc();
  ResetCancelSignal();
  ::signal(SIGTERM, SIG_DFL);
  EXPECT_TRUE(stopped);
  EXPECT_LT(ended - sent.load(), std::chrono::seconds(1));
}

TEST_F(RestTransferTest, BrandedFolderSettingMustBeOnePlainName) {
  // Decorations off: a folder that may be renewed is deleted on every run.
  app.DBIni().WriteStr("JPGFrame", "OnlineFrameVisible", "0");
  app.DBIni().WriteStr("JPGFrame", "OnlineEyecatcherVisible", "0");
  RestService s(dir / "rec");
  const size_t hostFiles = Files(host());
  for (const char* name : {" ", ".", "..", "..\\..", "a\\b", "a/b", "C:x"}) {
    Ini("PicObj", "IS24RestFolderNameForBrandedPictures", name);
    Run(s.Base());
    EXPECT_NE(Texts(102).find("ist ungültig"), std::string::npos) << name << "\n" << Texts(102);
    EXPECT_EQ(Files(host()), hostFiles) << name;
  }
  EXPECT_EQ(s.Received().size(), 14u) << "each run still publishes";
}

TEST_F(RestTransferTest, BrandedFolderIsRenewedAfterMoreThan24HourBoundaries) {
  NoListings();
  RestService s(dir / "rec");
  const fs::path old = host() / "pic.obj" / "branded" / "old.jpg";
  for (const auto& [hoursAgo, renewed] : {std::pair{25, true}, std::pair{23, false}}) {
    fs::create_directories(old.parent_path());
    std::ofstream(old) << "x";
    app.DBIni().WriteStr("FernDispatchr", "LastIs24RestTransfer",
                         vb::CStr(Variant::Date(vb::Now() - hoursAgo / 24.0)));
    Run(s.Base());  // the demo's online frame is on
    EXPECT_EQ(fs::exists(old), !renewed) << hoursAgo;
    EXPECT_TRUE(fs::is_directory(old.parent_path()));
    const double stored = app.DBIni().GetDate("FernDispatchr", "LastIs24RestTransfer");
    EXPECT_EQ(vb::Now() - stored < 0.01, renewed) << "the date marks the last renewal";
  }
}

}  // namespace
}  // namespace fern::testing
