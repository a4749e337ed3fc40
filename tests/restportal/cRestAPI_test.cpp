#include "services/cRestAPI.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/base64.h"
#include "platform/host_error.h"
#include "restportal/rest_fixture.h"
#include "support/ftp_server.h"
#include "support/scratch_dir.h"

namespace fern::testing {
namespace {

class RestApiTest : public ::testing::Test {
 protected:
  static void AsDemoUser(cRestAPI& c, const RestService& s, const std::string& path) {
    c.CallMethod = 1;
    c.Seturl(s.Base() + path);
    c.AuthUsername = "1/DEMO";
    c.AuthPassword = "demo";
  }
  ScratchDir dir;
};

TEST_F(RestApiTest, SendsThePartsHeadersInOrderWithBasicCredentialsAtOnce) {
  RestService s(dir / "rec");
  cRestAPI c;
  c.CallMethod = 2;
  c.Seturl(s.Base() + "/portals/publish");
  c.AuthUsername = "1/DEMO";
  c.AuthPassword = "demo";
  const std::string body =
      "<publishPortalsType><portalIds>A B</portalIds><x>ä</x></publishPortalsType>";
  c.load(body);
  EXPECT_EQ(c.ResponseCode(), 200);
  EXPECT_EQ(c.ContentLength(), static_cast<int32_t>(body.size()));
  EXPECT_EQ(c.ResponseContentType(), "application/xml; charset=UTF-8");

  c.CallMethod = 1;
  c.Encoding = 2;
  c.Seturl(s.Base() + "/users/{00000000-0000-4000-8000-000000000001}");
  c.load("");
  ASSERT_EQ(c.ResponseCode(), 200) << c.ResponseText();

  const auto got = s.Received();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(RequestLine(got[0]), "POST /api/portals/publish HTTP/1.1");
  EXPECT_EQ(Body(got[0]), body);
  EXPECT_EQ(Header(got[0], "Authorization"), "Basic " + Base64Encode("1/DEMO:demo"));
  const size_t type = got[0].find("\r\nContent-Type: application/xml\r\n");
  const size_t charset = got[0].find("\r\nCharset: UTF-8\r\n");
  const size_t length = got[0].find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n");
  ASSERT_NE(type, std::string::npos) << got[0];
  EXPECT_LT(type, charset);
  EXPECT_LT(charset, length);
  EXPECT_NE(length, std::string::npos);
  EXPECT_EQ(RequestLine(got[1]),
            "GET /api/users/%7B00000000-0000-4000-8000-000000000001%7D HTTP/1.1");
  EXPECT_EQ(Header(got[1], "Charset"), "ISO-8859-1");
  EXPECT_EQ(Header(got[1], "Content-Length"), "0");
}

TEST_F(RestApiTest, MethodsMissingAndRefusedCredentials) {
  RestService s(dir / "rec");
  const struct {
    int32_t method;
    const char* line;
  } cases[] = {{0, "GET "}, {1, "GET "}, {2, "POST "}, {3, "PUT "}, {4, "GET "}};
  for (const auto& k : cases) {
    cRestAPI c;
    c.CallMethod = k.method;
    c.Seturl(s.Base() + "/nowhere");
    c.AuthPassword = "demo";  // without a user name no credentials go out
    c.load(k.method == 2 ? "<a/>" : "");
    EXPECT_EQ(c.ResponseCode(), 401) << k.method;  // an answer, not a failure
  }
  cRestAPI wrong;
  AsDemoUser(wrong, s, "/users/00000000-0000-4000-8000-000000000001");
  wrong.AuthPassword = "wrong";
  wrong.load("");
  EXPECT_EQ(wrong.ResponseCode(), 401);
  const auto got = s.Received();
  ASSERT_EQ(got.size(), std::size(cases) + 1);
  EXPECT_EQ(Header(got.back(), "Authorization"), "Basic " + Base64Encode("1/DEMO:wrong"));
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(got[i].rfind(cases[i].line, 0), 0u) << got[i];
    EXPECT_EQ(Header(got[i], "Authorization"), "");
  }
}

TEST_F(RestApiTest, ReceiveTimeoutEndsADelayedAnswerAndNoLimitWaits) {
  RestServiceOptions o;
  o.delaySeconds = 1.5;
  RestService s(dir / "rec", o);
  cRestAPI c;
  AsDemoUser(c, s, "/users/00000000-0000-4000-8000-000000000001");
  c.SetTimeouts(0, 60000, 30000, 200);
  try {
    c.load("");
    FAIL() << "a stalled answer must fail";
  } catch (const HostError& e) {
    EXPECT_EQ(e.source(), "cRestAPI.load");
    EXPECT_NE(e.description().find("Fehler beim Zugriff auf die KAVANTOR-RestAPI. Err.Description: "
                                   "Zeitüberschreitung"),
              std::string::npos)
        << e.description();
  }
  EXPECT_EQ(c.ResponseCode(), 0);
  EXPECT_EQ(c.ResponseText().rfind("Err.Description: ", 0), 0u);

  c.SetTimeouts(0, 0, 0, 0);  // no limits at all, not libcurl's 300 s default
  c.load("");
  EXPECT_EQ(c.ResponseCode(), 200);
}

TEST_F(RestApiTest, SelfSignedCertificateIsRefusedUnlessTrusted) {
  RestServiceOptions o;
  o.cert = dir / "cert.pem";
  o.key = dir / "key.pem";
  ASSERT_TRUE(testing_servers::MakeSelfSignedCert(o.cert, o.key));
  RestService s(dir / "rec", o);
  cRestAPI c;
  AsDemoUser(c, s, "/users/00000000-0000-4000-8000-000000000001");
  c.Seturl(s.Base("https") + "/users/00000000-0000-4000-8000-000000000001");
  EXPECT_THROW(c.load(""), HostError);
  EXPECT_NE(c.ResponseText().find("Zertifikat nicht anerkannt"), std::string::npos)
      << c.ResponseText();
  EXPECT_TRUE(s.Received().empty()) << "nothing may reach an unverified server";

  c.TrustedCertificateFile = o.cert.string();
  c.load("");
  EXPECT_EQ(c.ResponseCode(), 200);

  c.TrustedCertificateFile.clear();
  c.VerifyCertificates = false;
  c.load("");
  EXPECT_EQ(c.ResponseCode(), 200);
}

TEST_F(RestApiTest, ProxyVariablesOfTheEnvironmentAreIgnored) {
  RestService s(dir / "rec");
  for (const char* name : {"http_proxy", "HTTPS_PROXY", "ALL_PROXY"})
    ::setenv(name, "http://127.0.0.1:9", 1);
  cRestAPI c;
  AsDemoUser(c, s, "/users/00000000-0000-4000-8000-000000000001");
  c.load("");
  for (const char* name : {"http_proxy", "HTTPS_PROXY", "ALL_PROXY"}) ::unsetenv(name);
  EXPECT_EQ(c.ResponseCode(), 200);
  ASSERT_EQ(s.Received().size(), 1u);
}

TEST(RestApiCoders, EscapeAndUnescape) {
  EXPECT_EQ(cRestAPI::URLEncodeANSI("http://h/a b+c?x=100%", true), "http://h/a+b%2Bc?x=100%25");
  EXPECT_EQ(cRestAPI::URLEncodeANSI("   ", true), "");
  EXPECT_EQ(cRestAPI::URLEncodeANSI("a{b}", false), "a%7Bb%7D");
  EXPECT_EQ(cRestAPI::URLDecodeANSI("a+b%2Bc%7B", true), "a b+c{");
  EXPECT_EQ(cRestAPI::URLEncodeUTF8("ä\tb c"), "%C3%A4%09b+c");
  EXPECT_EQ(cRestAPI::URLEncodeANSI(std::string(2048, 'a'), true).size(), 2048u);
  try {
    cRestAPI::URLEncodeANSI(std::string(2049, 'a'), true);
    FAIL();
  } catch (const HostError& e) {
    EXPECT_EQ(static_cast<uint32_t>(e.number()), 0x8004D700u);
    EXPECT_EQ(e.source(), "cRestAPI.URLEncodeANSI");
  }
}

}  // namespace
}  // namespace fern::testing
