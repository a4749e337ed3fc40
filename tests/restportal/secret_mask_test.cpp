// The masking on its own: answers shaped to make it work far beyond their size, and texts whose
// mention of a secret element must not swallow what follows.
#include "restportal/secret_mask.h"

#include <gtest/gtest.h>

#include <string>

namespace fern::testing {
namespace {

using restportal::MaskSecrets;

// `unit` repeated up to `size` bytes, then `tail`.
std::string Repeated(const std::string& unit, size_t size, const std::string& tail) {
  std::string s;
  s.reserve(size + tail.size());
  while (s.size() + unit.size() <= size) s += unit;
  return s + tail;
}

// The masking's work on `text`, in the questions it asks the stop: one for every so many
// characters it looks at, whatever the machine.
size_t Work(const std::string& text) {
  static size_t asked;
  asked = 0;
  EXPECT_NE(MaskSecrets(text,
                        [] {
                          ++asked;
                          return false;
                        }),
            "****");
  return asked;
}

TEST(SecretMaskCost, HostileShapesCostInProportionToTheirSize) {
  const struct {
    const char* unit;
    const char* tail;
  } shapes[] = {
      {"<verifier a=1 ", ">"},
      {"<verifier a=\"", ">"},
      {"<verifier a=\\\"1\\\" ", ">\"}"},
      {"<verifier>", ""},
      {"&lt;verifier&gt;", "x"},
      {"{\"verifier\": {", ""},
      {"{\"verifier\": \"", ""},
      {"oauth_token=\"", ""},
      {"<a name=\"verifier\" value=\"", ">"},
      {"<verifier><![CDATA[", ""},
      {"\\\"verifier\\\": \\\"", ""},
      {"%26amp%3B", "lt;"},
      {"http://u:", "@h"},
      {"oauth_token=\\u0022", ""},
      {"oauth_token=a%26", ""},
      {"<a name=\\\"verifier\\\" value=\\\"", ">"},
      {"http://u:\\u0022", "@h"},
  };
  for (const auto& s : shapes) {
    const size_t small = Work(Repeated(s.unit, 256 * 1024, s.tail));
    const size_t large = Work(Repeated(s.unit, 1024 * 1024, s.tail));
    // Every character is looked at: the stop is asked at all.
    EXPECT_GE(small, 4u) << s.unit;
    EXPECT_LE(large, 5 * small) << s.unit << ": " << small << " and " << large;
  }
}

TEST(SecretMask, AnUnclosedElementHidesItsValueOnly) {
  const struct {
    const char* text;
    const char* masked;
  } cases[] = {
      {"Fehler: Element &lt;verifier&gt; fehlt. Bitte FB-1001 (Villa am See) neu anmelden.",
       "Fehler: Element &lt;verifier&gt; fehlt. Bitte FB-1001 (Villa am See) neu anmelden."},
      {"<verifier>S3CR3T", "<verifier>****"},
      {"<verifier>S3CR3T kept\nkept", "<verifier>**** kept\nkept"},
      {"<verifier>S3CR3T<b>kept</b>", "<verifier>****<b>kept</b>"},
      {"&lt;verifier&gt;S3CR3T&lt;br/&gt; kept oauth_token=T",
       "&lt;verifier&gt;****&lt;br/&gt; kept oauth_token=****"},
      {"<verifier><![CDATA[S 1]]> kept", "<verifier>**** kept"},
      {"<verifier>A <verifier>B <x>C</x></verifier> kept",
       "<verifier>**** <verifier>****</verifier> kept"},
  };
  for (const auto& k : cases) EXPECT_EQ(MaskSecrets(k.text), k.masked) << k.text;
}

// What is hidden where an escape changes how far a value reaches, and what stays.
TEST(SecretMask, EscapedQuotesAndEncodedStopsMaskWholeValuesOnly) {
  const struct {
    const char* text;
    const char* masked;
  } cases[] = {
      {"oauth_token_secret=ab%26cd&x=1 kept", "oauth_token_secret=****&x=1 kept"},
      {"<a href=\"/cb?oauth_token=T&amp;x=1\">", "<a href=\"/cb?oauth_token=****&amp;x=1\">"},
      {R"({"p":"<input value=\u0022V\u0022 name=\u0022verifier\u0022> kept"})",
       R"({"p":"<input value=\u0022****\u0022 name=\u0022verifier\u0022> kept"})"},
      {R"({"p":"oauth_token=\u0022V\u0022 kept"})", R"({"p":"oauth_token=\u0022****\u0022 kept"})"},
      {R"(oauth_verifier="a\u0022b" kept)", R"(oauth_verifier="****" kept)"},
      {R"("http://u:p\u0022w@h kept")", R"("http://u:****@h kept")"},
  };
  for (const auto& k : cases) EXPECT_EQ(MaskSecrets(k.text), k.masked) << k.text;
}

TEST(SecretMask, AStopEndsALongMaskingWithTheWholeTextHidden) {
  const std::string hostile = Repeated("<verifier a=\"", 4 * 1024 * 1024, ">");
  EXPECT_EQ(MaskSecrets(hostile, [] { return true; }), "****");
  // A short text is done before the stop is asked.
  EXPECT_EQ(MaskSecrets("oauth_token=T kept", [] { return true; }), "oauth_token=**** kept");
}

TEST(SecretMask, AnAddressKeepsItsUserButNotItsPassword) {
  EXPECT_EQ(MaskSecrets("Weiterleitung nach https://agent:pw@h:8080/cb?oauth_token=T&x=1 nicht "
                        "gefolgt; ftp://anon@h/ and http://h:80/a@b stay"),
            "Weiterleitung nach https://agent:****@h:8080/cb?oauth_token=****&x=1 nicht "
            "gefolgt; ftp://anon@h/ and http://h:80/a@b stay");
}

}  // namespace
}  // namespace fern::testing
