// Masking the OAuth secrets in a logged answer: answers shaped to make the masking work hard, at
// 21 KB, 256 KB and 1 MB (time must grow in proportion), and an ordinary answer up to 10 MB.
#include <benchmark/benchmark.h>

#include <string>

#include "restportal/secret_mask.h"

namespace {

std::string Repeated(const std::string& unit, size_t size, const std::string& tail) {
  std::string s;
  s.reserve(size + tail.size());
  while (s.size() + unit.size() <= size) s += unit;
  return s + tail;
}

void Mask(benchmark::State& state, const std::string& unit, const std::string& tail) {
  const std::string text = Repeated(unit, static_cast<size_t>(state.range(0)) * 1024, tail);
  for (auto _ : state) benchmark::DoNotOptimize(fern::restportal::MaskSecrets(text));
  state.SetBytesProcessed(static_cast<int64_t>(text.size()) * state.iterations());
}

// Each shape under a name of its own, so that a run at the smallest size takes every one.
#define HOSTILE(name, unit, tail)           \
  BENCHMARK_CAPTURE(Mask, name, unit, tail) \
      ->Name("Mask_" #name)                 \
      ->Arg(21)                             \
      ->Arg(256)                            \
      ->Arg(1024)                           \
      ->Unit(benchmark::kMillisecond)

HOSTILE(unquoted_attributes, "<verifier a=1 ", ">");
HOSTILE(open_quotes, "<verifier a=\"", ">");
HOSTILE(json_escaped_quotes, "<verifier a=\\\"1\\\" ", ">");
HOSTILE(unclosed_elements, "<verifier>", "");
HOSTILE(unclosed_escaped_elements, "&lt;verifier&gt;", "x");
HOSTILE(open_json_objects, "{\"verifier\": {", "");
HOSTILE(nested_json_strings, "\\\"verifier\\\": \\\"", "");
HOSTILE(unclosed_cdata, "<verifier><![CDATA[", "");
HOSTILE(open_json_strings, "{\"verifier\": \"", "");
HOSTILE(open_parameter_quotes, "oauth_token=\"", "");
HOSTILE(open_field_values, "<a name=\"verifier\" value=\"", ">");
HOSTILE(encoded_ampersands, "%26amp%3B", "lt;");
HOSTILE(unended_user_info, "http://u:", "@h");
HOSTILE(unicode_quoted_values, "oauth_token=\\u0022", "");
HOSTILE(encoded_stops_in_values, "oauth_token=a%26", "");
HOSTILE(escaped_field_values, "<a name=\\\"verifier\\\" value=\\\"", ">");
HOSTILE(unicode_quotes_in_user_info, "http://u:\\u0022", "@h");

// A publish answer as the service writes it, secrets and all.
const std::string kOrdinary =
    "<portalAuthenticationType xmlns=\"urn:x\"><authenticationUrl>https://portal.example/"
    "authorize?oauth_token=T1&amp;x=1</authenticationUrl><authenticationToken>T1"
    "</authenticationToken><verifier>V1</verifier><listing id=\"FB-1001\">Villa am See, 5 "
    "Zimmer &amp; Garten</listing><json>{\"oauth_token\": \"T\", \"n\": [1, 2]}</json>"
    "</portalAuthenticationType>\n";
BENCHMARK_CAPTURE(Mask, ordinary, kOrdinary, "")
    ->Name("Mask_ordinary")
    ->Arg(256)
    ->Arg(10 * 1024)
    ->Unit(benchmark::kMillisecond);

}  // namespace
