#include "restportal/cKavantorAPIMini.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/base64.h"
#include "platform/host_error.h"
#include "restportal/rest_fixture.h"
#include "support/http_server.h"

namespace fern::testing {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class KavantorApiTest : public RestHostTest {
 protected:
  // A client whose base address is `base`.
  std::unique_ptr<cKavantorAPIMini> Client(const std::string& base) {
    Preference("RESTAPI.URL", base);
    auto c = std::make_unique<cKavantorAPIMini>();
    c->Init(Folder(), Session().g_strConnect, UserDsn());
    return c;
  }
  std::string Log() const { return ReadAll(cKavantorAPIMini::LogPath()); }
  // Starts a login for portal keys ending 00 to count-1 at `service` (its handler answers by
  // those digits) with the debug log on; the API log and the debug log afterwards.
  std::vector<std::string> LogsOfLoginStarts(testing_servers::HttpServer& service, size_t count) {
    service.Start();
    Ini("options", "DebugMode", "1");
    Session().g_blnDebugLog = true;
    auto c = Client("http://" + service.Address("/api"));
    for (size_t n = 0; n < count; ++n)
      c->CallIS24RestApiStartCreateLogin("{8A0B5C1D-0000-4000-8000-0000000000" +
                                         std::string(n < 10 ? "0" : "") + std::to_string(n) + "}");
    Session().g_blnDebugLog = false;
    return {Log(), ReadAll((host() / "DAT" / "FernDispatcherDebug.txt").string())};
  }
  // The same for logins that the service refuses with 400 and `bodies[n]` then " rest42"; each
  // log shows every answer.
  std::vector<std::string> LogsOfRefusedStarts(const std::vector<std::string>& bodies,
                                               const std::string& type) {
    testing_servers::HttpServer service;
    service.server.Get(R"(/api/portals/[^/]+-0000000000(\d\d)/authenticationStart)",
                       [&](const httplib::Request& req, httplib::Response& res) {
                         res.status = 400;
                         res.set_content(bodies[std::stoul(req.matches[1])] + " rest42", type);
                       });
    std::vector<std::string> logs = LogsOfLoginStarts(service, bodies.size());
    for (const std::string& log : logs) {
      size_t shown = 0;
      for (size_t pos = 0; (pos = log.find(" rest42", pos)) != std::string::npos; ++pos) ++shown;
      EXPECT_GE(shown, bodies.size());
    }
    return logs;
  }
};

TEST(KavantorApiUrl, OnlyWholePathSegmentsEqualToTheCompanyNumberBecomeLocal) {
  const struct {
    const char* url;
    int32_t company;
    const char* expected;
  } cases[] = {
      {"http://127.0.0.1:8090/api", 1, "http://127.0.0.1:8090/api"},
      {"http://host12:8012/api/12/x", 12, "http://host12:8012/api/local/x"},
      {"https://h/12", 12, "https://h/local"},
      {"http://h/a12/12/?c=12", 12, "http://h/a12/local/?c=12"},
      {"", 1, ""},
  };
  for (const auto& k : cases)
    EXPECT_EQ(cKavantorAPIMini::ReplaceCompanySegments(k.url, k.company), k.expected) << k.url;
}

TEST(KavantorApiMask, TokensSecretsAndVerifiersAreHidden) {
  EXPECT_EQ(cKavantorAPIMini::MaskSecrets(
                "<portalAuthenticationType xmlns=\"urn:x\"><authenticationUrl>http://p/a?"
                "oauth_token=T1&amp;x=1</authenticationUrl><authenticationToken>T1</"
                "authenticationToken><ns:authenticationTokenSecret>S1</"
                "ns:authenticationTokenSecret><verifier>V1</verifier></portalAuthenticationType>"),
            "<portalAuthenticationType xmlns=\"urn:x\"><authenticationUrl>http://p/a?"
            "oauth_token=****&amp;x=1</authenticationUrl><authenticationToken>****</"
            "authenticationToken><ns:authenticationTokenSecret>****</"
            "ns:authenticationTokenSecret><verifier>****</verifier></portalAuthenticationType>");
  EXPECT_EQ(cKavantorAPIMini::MaskSecrets("{\"verifier\": \"V\", \"other\": \"o\"} "
                                          "/cb?oauth_verifier=V&oauth_token=T"),
            "{\"verifier\": \"****\", \"other\": \"o\"} /cb?oauth_verifier=****&oauth_token=****");
  const struct {
    const char* text;
    const char* masked;
  } cases[] = {
      {"<verifier><![CDATA[V<1>]]></verifier>", "<verifier>****</verifier>"},
      {"<AuthenticationTokenSecret> <![CDATA[S]]>\n<![CDATA[T]]></AuthenticationTokenSecret>",
       "<AuthenticationTokenSecret>****</AuthenticationTokenSecret>"},
      {"<verifier><![CDATA[unclosed</verifier>", "<verifier>****"},
      {R"({"authenticationTokenSecret":"a\"b\\\"c","x":"y"})",
       R"({"authenticationTokenSecret":"****","x":"y"})"},
      {R"({"verifier" : "ends\\", "oauth_token": "T"})",
       R"({"verifier" : "****", "oauth_token": "****"})"},
      {R"({"verifier": "open\")", R"({"verifier": "****)"},
      {"<verifier a=\"?oauth_token=T\">V</verifier><verifier/>x<b>oauth_verifier=W;</b>",
       "<verifier a=\"****\">****</verifier><verifier/>x<b>oauth_verifier=****;</b>"},
      // Every attribute of a secret element, and attributes and members of a secret's name.
      {"<a href=\"/cb?oauth_token=T&amp;x=1\" oauth_token=\"U\" Verifier = 'V' b=\"keep\">",
       "<a href=\"/cb?oauth_token=****&amp;x=1\" oauth_token=\"****\" Verifier = '****' "
       "b=\"keep\">"},
      {R"({"verifier": null, "oauth_token": {"a": ["}", {}]}, "keep": 1})",
       R"({"verifier": ****, "oauth_token": ****, "keep": 1})"},
      {"&lt;verifier a=&quot;V&quot;&gt;W&lt;/verifier&gt;keep",
       "&lt;verifier a=&quot;****&quot;&gt;****&lt;/verifier&gt;keep"},
      {"my_oauth_token=keep <verifierX>keep</verifierX>",
       "my_oauth_token=keep <verifierX>keep</verifierX>"},
      // The whole content goes, with comments and CDATA that look like the end tag.
      {"<ns:verifier><a><b>S</b><!-- </ns:verifier> --><![CDATA[</ns:verifier>]]>T</a>"
       "</ns:verifier>keep",
       "<ns:verifier>****</ns:verifier>keep"},
      {"<verifier><verifier>S</verifier><verifier/>T</verifier >keep",
       "<verifier>****</verifier >keep"},
      {"<verifier><a>S", "<verifier>****"},
  };
  for (const auto& k : cases) EXPECT_EQ(cKavantorAPIMini::MaskSecrets(k.text), k.masked) << k.text;
}

TEST_F(KavantorApiTest, AvailabilityNeedsStatus200AndAnXmlOrJsonAnswer) {
  const struct {
    const char* contentType;
    bool available;
  } cases[] = {{"application/xml; charset=UTF-8", true},
               {"APPLICATION/JSON; charset=utf-8", true},
               {"text/html", false}};
  int n = 0;
  for (const auto& k : cases) {
    RestServiceOptions o;
    o.usersContentType = k.contentType;
    RestService s(dir / ("rec" + std::to_string(++n)), o);
    auto c = Client(s.Base() + "/");  // a trailing "/" changes nothing
    EXPECT_EQ(c->CheckIfKavantorAPIAvailable(), k.available) << k.contentType;
    EXPECT_EQ(c->IsKavantorAPIAvailable, k.available);
    const auto got = s.Received();
    ASSERT_EQ(got.size(), 1u);
    std::string dsn = UserDsn();
    EXPECT_EQ(RequestLine(got[0]), "GET /api/users/" + cUtil::removeBrace(dsn) + " HTTP/1.1");
    EXPECT_EQ(Header(got[0], "Authorization"), "Basic " + Base64Encode("1/DEMO:demo"));
  }
}

TEST_F(KavantorApiTest, SuperUserModeSpeaksAsTheApiSuperUserExceptForTheLoginCalls) {
  Ini("USER", "ApiSuperAD", "1", "sql\\sql.ini");
  RestServiceOptions o;
  o.super = true;
  RestService s(dir / "rec", o);
  auto c = Client(s.Base());
  const std::string portal = "{8A0B5C1D-0000-4000-8000-0000000000AA}";
  EXPECT_TRUE(c->CheckIfKavantorAPIAvailable());
  EXPECT_EQ(c->CallIS24RestApiTransferStart("<publishPortalsType><portalIds>A</portalIds>"
                                            "</publishPortalsType>"),
            200);
  EXPECT_NE(c->CallIS24RestApiCheckLogin(portal).find("NOT AUTHENTICATED"), std::string::npos);
  EXPECT_NE(c->CallIS24RestApiStartCreateLogin(portal).find("<authenticationUrl>"),
            std::string::npos);
  const auto got = s.Received();
  ASSERT_EQ(got.size(), 4u);
  const std::string super = "Basic " + Base64Encode("local/superAdmin:");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Header(got[i], "Authorization"), super) << got[i];
  EXPECT_EQ(Header(got[3], "Authorization"), "Basic " + Base64Encode("1/DEMO:demo"));
  EXPECT_EQ(RequestLine(got[3]),
            "GET /api/portals/8A0B5C1D-0000-4000-8000-0000000000AA/authenticationStart HTTP/1.1");
}

TEST_F(KavantorApiTest, CallLogKeepsFailuresAlwaysSuccessesInDebugModeAndNoSecrets) {
  RestService s(dir / "rec");
  auto c = Client(s.Base());
  const std::string portal = "{8A0B5C1D-0000-4000-8000-0000000000AA}";
  EXPECT_TRUE(c->CheckIfKavantorAPIAvailable());
  EXPECT_EQ(Log(), "") << "DebugMode 0 keeps no successful call";

  Ini("options", "DebugMode", "1");
  const std::string start = c->CallIS24RestApiStartCreateLogin(portal);
  const std::string token = start.substr(start.find("<authenticationToken>") + 21, 16);
  std::string log = Log();
  EXPECT_NE(log.find(";GET;"), std::string::npos);
  EXPECT_NE(log.find(";200;OK;<portalAuthenticationType>"), std::string::npos) << log;
  EXPECT_EQ(log.find(token), std::string::npos) << "the token must not reach the log";
  struct stat st {};
  ASSERT_EQ(::stat(cKavantorAPIMini::LogPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  Ini("options", "DebugMode", "0");
  s.Stop();
  c->CallIS24RestApiEndCreateLogin(portal, "<portalAuthenticationType><authenticationToken>" +
                                               token + "</authenticationToken><verifier>V9" +
                                               "</verifier></portalAuthenticationType>");
  EXPECT_EQ(c->getResponseCode(), 0);
  log = Log();
  EXPECT_NE(log.find(";POST;" + s.Base() +
                     "/portals/8A0B5C1D-0000-4000-8000-0000000000AA/"
                     "authenticationEnd;0;ERROR;Err.Description: "),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find(token), std::string::npos);
  EXPECT_EQ(log.find("V9"), std::string::npos);

  // A link in the log's place is never written through.
  const std::string victim = (dir / "victim.txt").string();
  std::ofstream(victim) << "keep";
  std::filesystem::remove(cKavantorAPIMini::LogPath());
  std::filesystem::create_symlink(victim, cKavantorAPIMini::LogPath());
  c->CheckIfKavantorAPIAvailable();
  EXPECT_EQ(ReadAll(victim), "keep");
}

TEST_F(KavantorApiTest, HugeAnswersAreLoggedMasked) {
  // An answer of 10 MB whose secrets run for 60,000 characters each, in every form.
  const std::string secret(60000, 'Q');
  std::string answer = "<portalAuthenticationType><verifier>" + secret + "</verifier>" +
                       "<json>{\"authenticationToken\": \"" + secret + "\"}</json><url>/cb?" +
                       "oauth_verifier=" + secret + "</url><authenticationTokenSecret><value>" +
                       secret + "</value></authenticationTokenSecret><verifier><!-- c -->" +
                       secret + "</verifier><rest>";
  answer +=
      std::string(10 * 1024 * 1024 - answer.size(), 'r') + "</rest></portalAuthenticationType>";
  testing_servers::HttpServer service;
  service.server.Get(R"(/api/portals/[^/]+/authenticationStart)",
                     [&](const httplib::Request&, httplib::Response& res) {
                       res.set_content(answer, "application/xml");
                     });
  service.Start();
  Ini("options", "DebugMode", "1");
  Session().g_blnDebugLog = true;
  auto c = Client("http://" + service.Address("/api"));
  EXPECT_EQ(c->CallIS24RestApiStartCreateLogin("{8A0B5C1D-0000-4000-8000-0000000000AA}").size(),
            answer.size());
  Session().g_blnDebugLog = false;
  const std::string debugLog = ReadAll((host() / "DAT" / "FernDispatcherDebug.txt").string());
  for (const std::string& log : {Log(), debugLog}) {
    EXPECT_GT(log.size(), answer.size() - 5 * secret.size());
    EXPECT_EQ(log.find("QQQQ"), std::string::npos);
    EXPECT_NE(log.find("<verifier>****</verifier><json>{\"authenticationToken\": \"****\"}</json>"
                       "<url>/cb?oauth_verifier=****</url><authenticationTokenSecret>****"
                       "</authenticationTokenSecret><verifier>****</verifier><rest>rrr"),
              std::string::npos);
  }
}

TEST_F(KavantorApiTest, SecretsInAttributesObjectsEscapesAndEntitiesStayOutOfBothLogs) {
  // Each answer carries "S3cr+t/<n>z" once, as a service or its error page may write it.
  const struct {
    int status;
    const char* body;
  } cases[] = {
      {200, "<p><authenticationToken value=\"S3cr+t/1z\">x</authenticationToken></p>"},
      {200, "<p><verifier value=\"S3cr+t/2z\"/><ns:authenticationTokenSecret a='S3cr+t/3z'/></p>"},
      {400,
       "<fehler verifier=\"S3cr+t/4z\" oauth_token=\"S3cr+t/5z\" x:oauth_token = 'S3cr+t/6z'/>"},
      {200, R"({"authenticationToken": {"value": "S3cr+t/7z", "n": [1, "}"]}, "rest": 1})"},
      {200, R"({"\u0076erifier": "S3cr+t/8z", "oauth_\u0074oken": ["S3cr+t/9z"]})"},
      {500,
       "<error>&lt;authenticationToken&gt;S3cr+t/10z&lt;/authenticationToken&gt;"
       "&lt;verifier value=&quot;S3cr+t/11z&quot;/&gt;</error>"},
      {500,
       "<error>{&quot;authenticationTokenSecret&quot;: &quot;S3cr+t/12z&quot;}"
       "&amp;lt;verifier&amp;gt;S3cr+t/13z&amp;lt;/verifier&amp;gt;</error>"},
      {429, R"({"message": "sent: {\"verifier\": \"S3cr+t/14z\"}"})"},
  };
  testing_servers::HttpServer service;
  // The portal key's last digits choose the case.
  service.server.Get(R"(/api/portals/[^/]+-0000000000(\d\d)/authenticationStart)",
                     [&](const httplib::Request& req, httplib::Response& res) {
                       const auto& k = cases[std::stoi(req.matches[1])];
                       res.status = k.status;
                       res.set_content(std::string(k.body) + " rest42", "application/xml");
                     });
  for (const std::string& log : LogsOfLoginStarts(service, std::size(cases))) {
    size_t shown = 0;
    for (size_t pos = 0; (pos = log.find(" rest42", pos)) != std::string::npos; ++pos) ++shown;
    EXPECT_GE(shown, std::size(cases));
    // Each secret as sent and percent-encoded.
    for (int i = 1; i <= 14; ++i)
      for (const std::string& form :
           {"S3cr+t/" + std::to_string(i) + "z", "S3cr%2Bt%2F" + std::to_string(i) + "z"})
        EXPECT_EQ(log.find(form), std::string::npos) << form << "\n" << log;
  }
}

// `text` as UTF-16 in the given byte order, with a byte order mark.
std::string Utf16(const std::string& text, bool little) {
  std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
  for (char c : text) out += little ? std::string{c, '\0'} : std::string{'\0', c};
  return out;
}

TEST_F(KavantorApiTest, SecretsUnderAnyEncodingStayOutOfBothLogs) {
  // Each answer carries "Z9x-<n>q" once, written through one or more encodings.
  const std::vector<std::string> bodies = {
      R"({"page": "\u003cverifier\u003eZ9x-1q\u003c/verifier\u003e ok"})",
      R"({"m": "oauth_token_secret\u003dZ9x-2q\u0026x=1"})",
      "/start?callback=https%3A%2F%2Fh%2Fcb%3Foauth_verifier%3DZ9x-3q%26x%3D1",
      "/start?next=%2Fa%3Fcallback%3Dhttps%253A%252F%252Fh%252Fcb%253Foauth_verifier%253DZ9x-4q",
      "/cb?oauth%5Ftoken=Z9x-5q&x=1",
      "<form><input type=\"hidden\" value=\"Z9x-6q\" name=\"oauth_token_secret\"></form>",
      "oauth_verifier: Z9x-7q\n",
      "{'oauth_verifier': 'Z9x-8q'}",
      "&#60;verifier&#62;Z9x-9q&#60;/verifier&#x3E;",
      "&amp;amp;lt;verifier&amp;amp;gt;Z9x-10q&amp;amp;lt;/verifier&amp;amp;gt;",
      R"({"a": "{\"b\": \"{\\\"authenticationTokenSecret\\\": \\\"Z9x-11q\\\"}\"}"})",
      Utf16("<p><verifier>Z9x-12q</verifier></p>", true),
      Utf16(R"({"oauth_token": "Z9x-13q"})", false),
      "%3Cverifier%3EZ9x-14q%3C%2Fverifier%3E",
      "&lt;input name=&quot;oauth_verifier&quot; value=&quot;Z9x-15q&quot;&gt;",
  };
  for (const std::string& log : LogsOfRefusedStarts(bodies, "application/json")) {
    EXPECT_NE(log.find(" ok"), std::string::npos) << "what follows a secret stays";
    for (size_t i = 1; i <= bodies.size(); ++i) {
      const std::string secret = "Z9x-" + std::to_string(i) + "q";
      for (const std::string& form :
           {secret, Utf16(secret, true).substr(2), Utf16(secret, false).substr(2)})
        EXPECT_EQ(log.find(form), std::string::npos) << secret << "\n" << log;
    }
  }
}

// Serialisers that write every quote inside a string as \u0022: a secret one level deeper.
TEST_F(KavantorApiTest, SecretsQuotedWithUnicodeEscapesStayOutOfBothLogs) {
  // Each answer carries "W7q-<n>k" once.
  const std::vector<std::string> bodies = {
      R"({"message":"{\u0022oauth_token_secret\u0022:\u0022W7q-1k\u0022}"})",
      R"({"error":{"detail":"{\u0022verifier\u0022:\u0022W7q-2k\u0022,\u0022n\u0022:1}"}})",
      R"({"message":"sent \u0022oauth_token\u0022: \u0022W7q-3k\u0022 back"})",
      R"({"page":"\u003Cinput name=\u0022oauth_token_secret\u0022 value=\u0022W7q-4k\u0022\u003E"})",
      R"({"a":"{\"b\":\"{\u005c\"verifier\u005c\":\u005c\"W7q-5k\u005c\"}\"}"})",
      R"({"a":"{\"b\":\"{\u005c\u0022verifier\u005c\u0022:\u005c\u0022W7q-6k\u005c\u0022}\"}"})",
  };
  for (const std::string& log : LogsOfRefusedStarts(bodies, "application/json")) {
    EXPECT_NE(log.find(R"(\u0022n\u0022:1)"), std::string::npos) << "what follows a secret stays";
    for (size_t i = 1; i <= bodies.size(); ++i)
      EXPECT_EQ(log.find("W7q-" + std::to_string(i) + "k"), std::string::npos) << i << "\n" << log;
  }
}

// A value whose encoding holds a character that would end it: hidden up to the raw text's end.
TEST_F(KavantorApiTest, SecretsWithAnEncodedStopCharacterStayOutOfBothLogsWhole) {
  // Each answer carries a secret whose tail is "cdP<n>" and then a parameter "keep<n>=1".
  const std::vector<std::string> bodies = {
      "oauth_token_secret=ab%26cdP1&keep1=1",
      "oauth_token_secret=ab%20cdP2&keep2=1",
      "oauth_verifier=ab%3BcdP3&keep3=1",
      "https://h/cb?x=1&oauth_token=ab%26cdP4&keep4=1",
      "https://h/cb?oauth_verifier=ab%20cdP5&keep5=1",
      "https://h/cb?oauth_token_secret=ab%3BcdP6&keep6=1",
      "/start?redirect_uri=https%3A%2F%2Fh%2Fcb%3Foauth_verifier%3DcdP7%26x%3D1&keep7=1",
  };
  for (const std::string& log : LogsOfRefusedStarts(bodies, "application/x-www-form-urlencoded")) {
    for (size_t i = 1; i <= bodies.size(); ++i) {
      const std::string n = std::to_string(i);
      EXPECT_EQ(log.find("cdP" + n), std::string::npos) << n << "\n" << log;
      EXPECT_NE(log.find("&keep" + n + "=1 rest42"), std::string::npos) << n << "\n" << log;
    }
  }
}

TEST_F(KavantorApiTest, EmptyAddressesAndForeignKeysAreFailedCallsNamingTheReason) {
  RestService s(dir / "rec");
  auto c = Client(s.Base());
  EXPECT_TRUE(c->CheckIfKavantorAPIAvailable());  // a previous success must not be repeated

  Preference(cKavantorAPIMini::kTransferStartKey, "");
  c->RefreshValues();
  EXPECT_EQ(c->CallIS24RestApiTransferStart("<publishPortalsType/>"), 0);
  EXPECT_NE(c->getResponseText().find(cKavantorAPIMini::kTransferStartKey), std::string::npos);

  EXPECT_EQ(c->CallIS24RestApiCheckLogin("x' OR '1'='1"),
            "Ungültiger Börsenschlüssel: 'x' OR '1'='1'");
  EXPECT_EQ(c->getResponseCode(), 0);

  Preference("RESTAPI.URL", "");
  c->RefreshValues();
  EXPECT_FALSE(c->CheckIfKavantorAPIAvailable());
  EXPECT_NE(c->getResponseText().find("RESTAPI.URL"), std::string::npos);
  EXPECT_EQ(s.Received().size(), 1u) << "only the first call may reach the service";
  const std::string log = Log();
  size_t errors = 0;
  for (size_t pos = 0; (pos = log.find(";0;ERROR;", pos)) != std::string::npos; ++pos) ++errors;
  EXPECT_EQ(errors, 3u) << log;

  Ini("KAVANTORAPI", "ConnectTimeout", "99999999999");
  try {
    c->RefreshValues();
    FAIL() << "a setting that can't be read is reported";
  } catch (const HostError& e) {
    EXPECT_EQ(e.source(), "RefreshValues");
    EXPECT_NE(e.description().find("99999999999"), std::string::npos);
  }
}

}  // namespace
}  // namespace fern::testing
