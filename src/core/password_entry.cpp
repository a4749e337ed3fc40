#include "core/password_entry.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <string_view>

#include "core/host_session.h"
#include "host/LanguagePack.h"
#include "host/cDal.h"
#include "host/cUtil.h"
#include "host/cdbutil.h"
#include "host/host_cipher.h"
#include "platform/dispatch.h"
#include "platform/host_error.h"
#include "platform/vb.h"

namespace fern {

namespace {

constexpr int kStored = 0;
constexpr int kNotStored = 2;
constexpr size_t kMaxPassword = 1024;

// Where each kind of password lives and the key its reader deciphers it with.
struct Target {
  const char* option;
  const char* table;
  const char* nameColumn;
  const char* passwordColumn;
  const char* extraCondition;
  int32_t key;
  const char* what;  // "%1" is the row's name
};

constexpr Target kTargets[] = {
    {"/SETPASSWORD", "Boersen", "boersen_name", "PASSWORD", "", host::kPortalPasswordKey,
     "Kennwort des Portals \"%1\""},
    {"/SETWEBDBPASSWORD", "Boersen", "boersen_name", "webdb_password", "", host::kPortalPasswordKey,
     "Kennwort der Web-Datenbank des Portals \"%1\""},
    // The run logs in as the first active row of the name; an inactive row is never read.
    {"/SETUSERPASSWORD", "ben", "login_name", "Paßwort", " AND aktiv=1", host::kUserPasswordKey,
     "Kennwort des Benutzers \"%1\""},
};

std::string Text(const std::string& german, const std::string& p1 = {},
                 const std::string& p2 = {}) {
  return Translate(nullptr, german, {p1, p2});
}

void Say(const std::string& text) { std::fprintf(stderr, "fern-dispatcher: %s\n", text.c_str()); }

int Refuse(const std::string& text) {
  Say(text + " " + Text("Es wurde nichts gespeichert."));
  return kNotStored;
}

// The terminal's settings while echo is off, put back on every way out, Ctrl+C included.
termios g_savedTerminal{};
volatile sig_atomic_t g_terminalFd = -1;

void RestoreEcho() {
  if (g_terminalFd >= 0) ::tcsetattr(g_terminalFd, TCSAFLUSH, &g_savedTerminal);
  g_terminalFd = -1;
}

void RestoreEchoAndDie(int sig) {
  RestoreEcho();
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

class EchoOff {
 public:
  explicit EchoOff(int fd) {
    if (::tcgetattr(fd, &g_savedTerminal) != 0) return;
    termios quiet = g_savedTerminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::signal(sig, RestoreEchoAndDie);
    if (::tcsetattr(fd, TCSAFLUSH, &quiet) == 0) g_terminalFd = fd;
  }
  ~EchoOff() { RestoreEcho(); }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;
};

// One line without its line end; false at the end of the input before any character.
bool ReadLine(std::FILE* in, std::string& line) {
  line.clear();
  int c;
  bool any = false;
  while ((c = std::fgetc(in)) != EOF) {
    any = true;
    if (c == '\n') break;
    if (line.size() <= kMaxPassword) line += static_cast<char>(c);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return any;
}

// The password from the input: asked twice on a terminal, else its first line. "" when it was
// read, else why not.
std::string ReadPassword(std::FILE* in, const std::string& what, std::string& password) {
  const bool terminal = ::isatty(::fileno(in)) == 1;
  if (!terminal) {
    if (!ReadLine(in, password)) return Text("Kein Kennwort gelesen (Standardeingabe leer).");
  } else {
    EchoOff quiet(::fileno(in));
    std::fprintf(stderr, "%s: ", what.c_str());
    std::fflush(stderr);
    if (!ReadLine(in, password)) return Text("Kein Kennwort gelesen.");
    std::fprintf(stderr, "%s: ", Text("Kennwort wiederholen").c_str());
    std::fflush(stderr);
    std::string again;
    if (!ReadLine(in, again)) return Text("Kein Kennwort gelesen.");
    if (again != password) return Text("Die beiden Eingaben sind verschieden.");
  }
  if (password.empty()) return Text("Das Kennwort ist leer.");
  if (password.size() > kMaxPassword)
    return Text("Das Kennwort ist länger als %1 Zeichen.", std::to_string(kMaxPassword));
  for (unsigned char c : password)
    if (c < 0x20 || c == 0x7F) return Text("Das Kennwort enthält Steuerzeichen.");
  return {};
}

}  // namespace

bool IsPasswordEntry(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i] ? argv[i] : "";
    for (const Target& t : kTargets) {
      // A whole Windows-style line in one argument holds the option followed by a blank.
      if (NameIs(arg, t.option) ||
          (argc == 2 && vb::UCase(arg).find(std::string(t.option) + " ") != std::string::npos))
        return true;
    }
  }
  return false;
}

int RunPasswordEntry(std::FILE* in) {
  const Target* target = nullptr;
  std::string name;
  for (const Target& t : kTargets) {
    std::string value = CommandLine::WithBlanks(GetCommandSwitch(t.option));
    if (value.empty()) continue;
    if (target)
      return Refuse(
          Text("Bitte nur eine der Angaben /SETPASSWORD, /SETWEBDBPASSWORD und "
               "/SETUSERPASSWORD."));
    target = &t;
    name = value;
  }
  if (!target)
    return Refuse(
        Text("Nach /SETPASSWORD oder /SETWEBDBPASSWORD fehlt der Name des Portals, "
             "nach /SETUSERPASSWORD der Anmeldename des Benutzers."));

  try {
    InitHostPath();
  } catch (const StartupFailure&) {
    return kNotStored;  // the message has been shown
  }
  cDal dal;
  std::string connect;
  std::shared_ptr<db::Recordset> rows;
  const std::string sql = std::string("SELECT DSN, ") + target->nameColumn + " FROM " +
                          target->table + " WHERE " + target->nameColumn + " = " +
                          cUtil::SqlStr(Variant(name)) + target->extraCondition;
  try {
    connect = cdbutil().GetConnectString(GetHostPath("sql\\sql.ini"));
    dal.Init(GetHostPath("sql\\sql.ini"));
    rows = dal.GetRecordset(connect, sql);
  } catch (const HostError& e) {
    return Refuse(Text("Datenbankverbindung ist fehlgeschlagen.") + " " + e.description());
  }
  if (rows->Eof())
    return Refuse(std::string_view(target->table) == "ben"
                      ? Text("Benutzer %1 nicht gefunden, bzw. nicht aktiv.", name)
                      : Text("Ein Portal \"%1\" gibt es nicht.", name));
  const std::string dsn = cUtil::k(rows->Value("DSN"));
  const std::string what = Text(target->what, cUtil::k(rows->Value(target->nameColumn)));
  rows->MoveNext();
  if (!rows->Eof())
    return Refuse(Text("Der Name \"%1\" ist mehrdeutig: mehrere Zeilen tragen ihn.", name));

  std::string password;
  if (std::string why = ReadPassword(in, what, password); !why.empty()) return Refuse(why);
  const std::string stored = host::Encipher(password, target->key);
  std::memset(password.data(), 0, password.size());
  try {
    dal.ExecQuery(connect, std::string("UPDATE ") + target->table + " SET " +
                               target->passwordColumn + " = " + cUtil::SqlStr(Variant(stored)) +
                               " WHERE DSN = " + cUtil::SqlUid(Variant(dsn)));
  } catch (const HostError& e) {
    return Refuse(e.description());
  }
  Say(Text("%1 ist gespeichert.", what));
  return kStored;
}

}  // namespace fern
