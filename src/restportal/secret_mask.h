// Hides the OAuth login's secrets in a text bound for a log: the values of authenticationToken,
// authenticationTokenSecret, verifier, oauth_token, oauth_token_secret and oauth_verifier (any
// case) become "****", in every form an answer, an error page or an address may carry them:
// - XML elements with their whole content and the values of all their attributes; an element
//   that is never closed loses its value up to the next blank, markup or line end only;
// - attributes, address and form parameters of those names (name=value, name: value), quoted
//   (also by quotes a JSON string escapes) or not, and the value of an HTML field whose name is
//   one of them; where an encoded character ("%26") ends an unquoted value that the text as
//   written goes on with, the value is hidden up to the later end;
// - JSON members of those names whatever their value (string, object, array, literal), also in
//   JSON strings nested to any depth;
// - the password of an address's "user:password@".
// The names are found on the text with its encodings undone (percent-encoding, "\u" escapes,
// numeric and named character references, each to any depth, UTF-16; "\u0022" and "\u005c" read
// as a JSON string's "\"" and "\\"): what is masked is the span of the text as written. Linear
// in the text's length; `stop`, asked once for every 64K characters looked at, ends the work
// early, and then the whole text comes back as "****".
#pragma once

#include <string>
#include <string_view>

namespace fern::restportal {

using StopAsk = bool (*)();

std::string MaskSecrets(std::string_view text, StopAsk stop = nullptr);

}  // namespace fern::restportal
