#include "platform/file_error.h"

#include <cerrno>

namespace fern {

std::string FileErrorText(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return "keine Berechtigung";
    case ENOENT:
      return "Ordner oder Datei fehlt";
    case EISDIR:
      return "dort liegt ein Ordner";
    case ENOTDIR:
      return "ein Teil des Pfads ist kein Ordner";
    case EROFS:
      return "das Dateisystem ist schreibgeschützt";
    case ENOSPC:
      return "kein Platz auf dem Datenträger";
    case EFBIG:
      return "die Datei würde größer als erlaubt";
    case EDQUOT:
      return "das Speicherkontingent ist erschöpft";
    case ETXTBSY:
    case EBUSY:
      return "die Datei ist belegt";
    default:
      return "Systemfehler " + std::to_string(error);
  }
}

}  // namespace fern
