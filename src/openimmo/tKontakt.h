// One contact person of a listing as the OpenImmo export fills `kontaktperson`: an address of
// the host, or an active user found by name. Loaded once per export phase and shared by every
// listing with the same key; an empty field leaves its element to the company data.
#pragma once

#include <string>

namespace fern {

struct tKontakt {
  std::string strTitel;            // titles taken off the first name, joined by blanks
  std::string strAnsprechEingabe;  // the text in which a user's name was found
  std::string strBenDsn;           // the matched user's DSN
  std::string strADDSN;            // the person's address key
  std::string strVorName;
  std::string strName;  // surname (address) or full name (user)
  std::string strEmailDirekt;
  std::string strTelDurchw;
  std::string strTelMobil;
  std::string strFaxDirekt;
  std::string strKontaktid;  // the cache key; empty while not loaded
  std::string strAnrede;
  std::string strBildPfad;  // the person's picture file, "" when none
};

}  // namespace fern
