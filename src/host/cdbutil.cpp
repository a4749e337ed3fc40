#include "host/cdbutil.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "host/host_args.h"
#include "host/host_database.h"
#include "platform/file_error.h"
#include "platform/host_error.h"
#include "platform/host_path.h"
#include "platform/ini_file.h"
#include "platform/text.h"

namespace fern {
namespace {

constexpr const char* kSource = "GetConnectString";

[[noreturn]] void Fail(int32_t number, const std::string& text) {
  throw HostError(number, text, kSource);
}

}  // namespace

SqlIniSettings cdbutil::ReadSqlIni(const std::string& sqlIniPath) {
  SqlIniSettings s;
  s.iniFile = ResolveHostPath(sqlIniPath);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(s.iniFile, ec))
    Fail(err::kFileNotFound, "Datenbank-Einstellungen nicht gefunden: " + s.iniFile.string());
  s.hostFolder = s.iniFile.parent_path().parent_path();

  for (const auto& [key, value] : IniSection("DRIVES", s.iniFile)) {
    std::string_view k = text::TrimBlanks(key);
    if (k.size() == 2 && k[1] == ':') k.remove_suffix(1);
    if (k.size() != 1 || !std::isalpha(static_cast<unsigned char>(k[0])) || value.empty())
      Fail(err::kInvalidValue,
           "Ungültiger Eintrag \"" + key + "\" in [DRIVES] von " + s.iniFile.string());
    s.drives[static_cast<char>(std::toupper(static_cast<unsigned char>(k[0])))] = value;
  }

  std::string db = IniGet("SQLITE", "DATABASE", "", s.iniFile);
  if (text::TrimBlanks(db).empty())
    Fail(err::kInvalidValue,
         "Schlüssel DATABASE im Abschnitt [SQLITE] fehlt in " + s.iniFile.string());
  bool drivePath = db.size() > 2 && db[1] == ':' && std::isalpha(static_cast<unsigned char>(db[0]));
  if (drivePath) {
    char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(db[0])));
    auto it = s.drives.find(letter);
    if (it == s.drives.end())
      Fail(err::kInvalidValue, "Laufwerk " + std::string(1, letter) + ": ist in [DRIVES] von " +
                                   s.iniFile.string() + " nicht zugeordnet");
    std::string rest = db.substr(2);
    while (!rest.empty() && (rest[0] == '\\' || rest[0] == '/')) rest.erase(0, 1);
    s.database = ResolveHostPath(rest, it->second);
  } else {
    s.database = ResolveHostPath(db, s.hostFolder);
  }
  return s;
}

std::string cdbutil::GetConnectString(const std::string& sqlIniPath, int32_t) const {
  SqlIniSettings s = ReadSqlIni(sqlIniPath);
  SetDriveMap(s.drives);

  // A folder or file the user may not read is not a missing database: say which it is.
  const auto unreadable = [&](int error) {
    Fail(err::kPathFileAccess, "Datenbankdatei " + s.database.string() +
                                   " kann nicht gelesen werden: " + FileErrorText(error) + " (" +
                                   s.iniFile.string() + ")");
  };
  std::error_code ec;
  if (!std::filesystem::is_regular_file(s.database, ec)) {
    if (ec) unreadable(ec.value());
    Fail(err::kFileNotFound,
         "Datenbankdatei " + s.database.string() + " nicht gefunden (" + s.iniFile.string() + ")");
  }
  char head[16] = {};
  const int fd = ::open(s.database.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) unreadable(errno);
  const ssize_t got = ::read(fd, head, sizeof head);
  const int readError = errno;
  ::close(fd);
  if (got < 0) unreadable(readError);
  if (got != sizeof head || std::string(head, 15) != "SQLite format 3")
    Fail(err::kInvalidValue,
         "Datei " + s.database.string() + " ist keine Datenbank (" + s.iniFile.string() + ")");
  return host::MakeConnectString(s.database.string());
}

Variant cdbutil::Invoke(std::string_view name, unsigned, std::span<Variant> args) {
  if (NameIs(name, "GetConnectString")) {
    CheckArgCount(args, 1, 2, name);
    return Variant(GetConnectString(host::ArgStr(args, 0), host::ArgLong(args, 1, kConnectKey)));
  }
  ThrowNoMember(name);
}

}  // namespace fern
