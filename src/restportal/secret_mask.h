// Hides the OAuth login's secrets in a text bound for a log: the values of authenticationToken,
// authenticationTokenSecret, verifier, oauth_token, oauth_token_secret and oauth_verifier (any
// case) become "****", in every form an answer, an error page or an address may carry them:
// - XML elements with their whole content and the values of all their attributes, also written
//   with entities ("&lt;verifier&gt;", once or twice escaped);
// - attributes and address parameters of those names, quoted or not;
// - JSON members of those names whatever their value (string, object, array, literal), the name
//   also written with "\u" escapes, inside a JSON string ("\"verifier\"") or with entities.
// One pass, linear in the text's length.
#pragma once

#include <string>
#include <string_view>

namespace fern::restportal {

std::string MaskSecrets(std::string_view text);

}  // namespace fern::restportal
