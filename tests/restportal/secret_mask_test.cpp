// The masking on its own: answers shaped to make it work far beyond their size, and texts whose
// mention of a secret element must not swallow what follows.
#include "restportal/secret_mask.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
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

// The least processor time of a few maskings of `text`: other work on the machine counts little.
double Seconds(const std::string& text) {
  double least = 1e9;
  for (int i = 0; i < 3; ++i) {
    timespec start{}, end{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
    const std::string masked = MaskSecrets(text);
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
    EXPECT_FALSE(masked.empty());
    least = std::min(least, static_cast<double>(end.tv_sec - start.tv_sec) +
                                static_cast<double>(end.tv_nsec - start.tv_nsec) / 1e9);
  }
  return least;
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
  };
  for (const auto& s : shapes) {
    const double small = Seconds(Repeated(s.unit, 256 * 1024, s.tail));
    const double large = Seconds(Repeated(s.unit, 1024 * 1024, s.tail));
    // A floor keeps the comparison away from the clock's noise on tiny times.
    EXPECT_LE(large, 5 * std::max(small, 0.01)) << s.unit << ": " << small << " s, " << large;
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
