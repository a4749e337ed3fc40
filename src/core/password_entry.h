// Entering a password that the run deciphers, instead of starting a run or the window:
//
//   fern-dispatcher /PATHKV <host> /SETPASSWORD <portal>       the portal's login password
//   fern-dispatcher /PATHKV <host> /SETWEBDBPASSWORD <portal>  the password of its web database
//   fern-dispatcher /PATHKV <host> /SETUSERPASSWORD <login>    the user's password in `ben`
//
// The password is read from standard input, never from the command line or the environment (both
// are visible to every user of the machine). On a terminal it is asked twice without echo;
// otherwise the first line is taken. It is stored enciphered with the key its readers decipher it
// with.
#pragma once

#include <cstdio>

namespace fern {

// True when the arguments ask for a password entry.
bool IsPasswordEntry(int argc, const char* const* argv);

// Runs the entry named on the session's command line (ResetSession has been called): reads the
// password from `in`, writes prompts and messages to standard error, stores it. 0 when it is
// stored; 2 when nothing was stored (no host, no database, no such portal or user, more than one
// row of that name, no password read, the two entries differ).
int RunPasswordEntry(std::FILE* in = stdin);

}  // namespace fern
