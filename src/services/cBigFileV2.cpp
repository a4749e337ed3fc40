#include "services/cBigFileV2.h"

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "platform/host_error.h"

namespace fern {

namespace fs = std::filesystem;

namespace {

// VB's run-time error numbers for file trouble; the web-site export reports them as they come.
constexpr int32_t kBadFileNumber = 52;
constexpr int32_t kDiskFull = 61;
constexpr int32_t kPathFileAccess = 75;
constexpr int32_t kPathNotFound = 76;

constexpr char kMagic[] = "BIGFILE";
constexpr size_t kMagicLen = 7;
constexpr size_t kLengthDigits = 12;

// ---- interim stand-ins until the platform's host-path resolver and cp1252 codec land ----------

std::string AsciiLower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string ResolveHostPath(const std::string& host) {
  std::string p = host;
  std::replace(p.begin(), p.end(), '\\', '/');
  std::error_code ec;
  if (p.empty() || fs::exists(p, ec)) return p;
  fs::path in(p);
  fs::path out = in.root_path();
  for (const fs::path& part : in.relative_path()) {
    fs::path candidate = out / part;
    if (!fs::exists(candidate, ec)) {
      const std::string want = AsciiLower(part.string());
      for (fs::directory_iterator it(out.empty() ? fs::path(".") : out, ec), end; !ec && it != end;
           it.increment(ec)) {
        if (AsciiLower(it->path().filename().string()) == want) {
          candidate = out / it->path().filename();
          break;
        }
      }
    }
    out = candidate;
  }
  return out.string();
}

// Code points 0x80..0x9F of Windows-1252; 0 marks the five unassigned bytes.
constexpr char32_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// UTF-8 to Windows-1252; false when the text is no valid UTF-8 or holds a character outside it.
bool ToCp1252(const std::string& in, std::string& out) {
  out.clear();
  for (size_t i = 0; i < in.size();) {
    const unsigned char c = static_cast<unsigned char>(in[i]);
    char32_t cp;
    size_t n;
    if (c < 0x80) { cp = c; n = 1; }
    else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; n = 2; }
    else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; n = 3; }
    else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; n = 4; }
    else return false;
    if (i + n > in.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      const unsigned char cc = static_cast<unsigned char>(in[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    i += n;
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      out.push_back(static_cast<char>(cp));
      continue;
    }
    const char32_t* hit = std::find(std::begin(kCp1252High), std::end(kCp1252High), cp);
    if (cp == 0 || hit == std::end(kCp1252High)) return false;
    out.push_back(static_cast<char>(0x80 + (hit - std::begin(kCp1252High))));
  }
  return true;
}

std::string FromCp1252(const std::string& in) {
  std::string out;
  for (unsigned char c : in) {
    char32_t cp = c;
    if (c >= 0x80 && c < 0xA0) cp = kCp1252High[c - 0x80];
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

// ------------------------------------------------------------------------------------------------

// Lower- and upper-casing of Windows-1252 bytes, the way the ANSI code page folds letters.
unsigned char LowerByte(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 0x20;
  if (c == 0x8A || c == 0x8C || c == 0x8E) return c + 0x10;
  if (c == 0x9F) return 0xFF;
  return c;
}

unsigned char UpperByte(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;
  if (c == 0x9A || c == 0x9C || c == 0x9E) return c - 0x10;
  if (c == 0xFF) return 0x9F;
  return c;
}

// Case-folds a UTF-8 text through Windows-1252; a text outside it folds ASCII only.
std::string FoldUtf8(const std::string& s, bool upper) {
  std::string ansi;
  if (!ToCp1252(s, ansi)) {
    std::string out = s;
    for (char& c : out)
      if (static_cast<unsigned char>(c) < 0x80)
        c = static_cast<char>(upper ? UpperByte(static_cast<unsigned char>(c))
                                    : LowerByte(static_cast<unsigned char>(c)));
    return out;
  }
  for (char& c : ansi) {
    const unsigned char b = static_cast<unsigned char>(c);
    c = static_cast<char>(upper ? UpperByte(b) : LowerByte(b));
  }
  return FromCp1252(ansi);
}

std::string LowerText(const std::string& s) { return FoldUtf8(s, false); }
std::string UpperText(const std::string& s) { return FoldUtf8(s, true); }

// Windows wildcard match ("*", "?"), without regard to case; "*.*" matches every name.
bool WildcardMatch(const std::string& name, const std::string& pattern) {
  if (pattern == "*.*" || pattern == "*") return true;
  const std::string n = LowerText(name), p = LowerText(pattern);
  size_t ni = 0, pi = 0, starP = std::string::npos, starN = 0;
  while (ni < n.size()) {
    if (pi < p.size() && (p[pi] == '?' || p[pi] == n[ni])) {
      // "?" takes one whole UTF-8 character.
      if (p[pi] == '?')
        while (ni + 1 < n.size() && (static_cast<unsigned char>(n[ni + 1]) & 0xC0) == 0x80) ++ni;
      ++ni;
      ++pi;
    } else if (pi < p.size() && p[pi] == '*') {
      starP = pi++;
      starN = ni;
    } else if (starP != std::string::npos) {
      pi = starP + 1;
      ni = ++starN;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

// Joins a host folder text and a name with the separator style the folder already uses.
std::string JoinShown(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  const char last = folder.back();
  if (last == '\\' || last == '/') return folder + name;
  const bool slash = folder.find('\\') == std::string::npos && folder.find('/') != std::string::npos;
  return folder + (slash ? '/' : '\\') + name;
}

size_t LastSeparator(const std::string& s) { return s.find_last_of("\\/"); }

std::string FilePart(const std::string& path) {
  const size_t sep = LastSeparator(path);
  return sep == std::string::npos ? path : path.substr(sep + 1);
}

// The extension as the host's GetFileExtender gives it: text after the name's last point.
std::string Extension(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

bool HasWildcard(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

// Trimmed, ending in "\" unless empty, never beginning with "\".
void NormaliseFolder(std::string& folder) {
  const size_t b = folder.find_first_not_of(' ');
  if (b == std::string::npos) {
    folder.clear();
    return;
  }
  folder = folder.substr(b, folder.find_last_not_of(' ') - b + 1);
  if (folder.back() != '\\') folder += '\\';
  folder.erase(0, folder.find_first_not_of('\\'));
}

struct DirEntry {
  std::string name;
  bool isDir;
};

// Entries of a folder in name order (case-insensitive), so packings are reproducible. Folder
// links are not followed: a link back up the tree would never end.
std::vector<DirEntry> ListFolder(const std::string& real, std::error_code& ec) {
  std::vector<DirEntry> entries;
  for (fs::directory_iterator it(real, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code sec;
    const bool link = it->is_symlink(sec);
    const bool dir = it->is_directory(sec);
    if (dir && link) continue;
    entries.push_back({it->path().filename().string(), dir});
  }
  std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) {
    const std::string la = LowerText(a.name), lb = LowerText(b.name);
    return la != lb ? la < lb : a.name < b.name;
  });
  return entries;
}

// "dd.MM.yyyy hh:nn:ss" in local time, the date alone at midnight, as a VB date turns into text.
std::string ModifiedText(time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  const char* fmt = (tm.tm_hour || tm.tm_min || tm.tm_sec) ? "%d.%m.%Y %H:%M:%S" : "%d.%m.%Y";
  std::strftime(buf, sizeof buf, fmt, &tm);
  return buf;
}

// The Scripting runtime's attribute bits: 1 read-only, 2 hidden, 32 archive.
int Attributes(const struct stat& st, const std::string& name) {
  int a = 32;
  if (!(st.st_mode & S_IWUSR)) a |= 1;
  if (!name.empty() && name[0] == '.') a |= 2;
  return a;
}

std::string LengthField(uint64_t n) {
  std::string digits = std::to_string(n);
  if (digits.size() > kLengthDigits)
    throw HostError(err::kOverflow, "Record too large for the container: " + digits + " bytes",
                    "bigWriteFile");
  std::string field(kLengthDigits - digits.size(), '0');
  field += digits;
  for (char& c : field) c = static_cast<char>(c ^ 0xFF);
  return field;
}

std::string Invert(std::string s) {
  for (char& c : s) c = static_cast<char>(c ^ 0xFF);
  return s;
}

[[noreturn]] void Refuse(const std::string& what, const std::string& text) {
  throw HostError(err::kInvalidValue, what + " cannot be stored in a transfer file: \"" + text + "\"",
                  "bigWriteFile");
}

// Converts a text for the info field or the index, refusing what would break a record apart or
// what the web site's reader could not turn back into the same name.
std::string StorableText(const std::string& what, const std::string& text, const char* forbidden) {
  if (text.find_first_of(forbidden) != std::string::npos) Refuse(what, text);
  std::string ansi;
  if (!ToCp1252(text, ansi)) Refuse(what + " (not Windows-1252)", text);
  return ansi;
}

// A relative folder must stay below the unpack folder on the web site.
void CheckRelativeFolder(const std::string& folder) {
  if (folder.find('/') != std::string::npos) Refuse("Folder", folder);
  size_t start = 0;
  while (start < folder.size()) {
    const size_t end = folder.find('\\', start);
    const std::string part = folder.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") Refuse("Folder", folder);
    start = end + 1;
  }
}

}  // namespace

cBigFileV2::cBigFileV2() = default;

cBigFileV2::~cBigFileV2() {
  if (container_) std::fclose(container_);
  if (index_) std::fclose(index_);
}

void cBigFileV2::FindFile(const std::string& StartPath, bool SearchSubfolder,
                          const std::string& file, std::vector<std::string>& FileFound) {
  if (FileFound.empty()) FileFound.emplace_back();
  std::string start = StartPath;
  if (!start.empty() && (start.back() == '\\' || start.back() == '/') && start.size() > 1)
    start.pop_back();
  std::error_code ec;
  const std::vector<DirEntry> entries = ListFolder(ResolveHostPath(start), ec);
  for (const DirEntry& e : entries)
    if (!e.isDir && WildcardMatch(e.name, file)) FileFound.push_back(JoinShown(start, e.name));
  if (!SearchSubfolder) return;
  for (const DirEntry& e : entries)
    if (e.isDir) FindFile(JoinShown(start, e.name), true, file, FileFound);
}

void cBigFileV2::Clear() {
  if (container_) std::fclose(container_);
  if (index_) std::fclose(index_);
  container_ = index_ = nullptr;
  total_ = current_ = 0;
  count_ = 0;
}

std::string cBigFileV2::ChangeFileExt(std::string& strFileName, const std::string& strExt) const {
  const std::string ext = (!strExt.empty() && strExt[0] == '.') ? strExt.substr(1) : strExt;
  const size_t sep = LastSeparator(strFileName);
  const size_t dot = strFileName.rfind('.');
  if (dot == std::string::npos || (sep != std::string::npos && dot < sep))
    return strFileName + "." + ext;
  return strFileName.substr(0, dot + 1) + ext;
}

std::string cBigFileV2::ContainerName(int32_t number) const {
  const std::string& name = outFileName_;
  const std::string suffix = "_" + std::to_string(number);
  const size_t sep = LastSeparator(name);
  const size_t nameStart = sep == std::string::npos ? 0 : sep + 1;
  if (name.size() >= nameStart + 4 && AsciiLower(name.substr(name.size() - 4)) == ".big")
    return name.substr(0, name.size() - 4) + suffix + name.substr(name.size() - 4);
  return name + suffix + ".big";
}

void cBigFileV2::WriteBytes(std::FILE* f, const void* data, size_t n, const std::string& what) {
  if (n && std::fwrite(data, 1, n, f) != n)
    throw HostError(errno == ENOSPC ? kDiskFull : kPathFileAccess,
                    "Cannot write " + what + ": " + std::strerror(errno), "bigWriteFile");
}

void cBigFileV2::CloseContainer() {
  if (!container_) return;
  std::FILE* f = container_;
  container_ = nullptr;
  if (std::fclose(f) != 0)
    throw HostError(errno == ENOSPC ? kDiskFull : kPathFileAccess,
                    "Cannot finish " + containerPath_ + ": " + std::strerror(errno), "bigClose");
}

void cBigFileV2::OpenContainer() {
  CloseContainer();
  total_ += current_;
  current_ = 0;
  ++count_;
  containerPath_ = ContainerName(count_);
  const std::string real = ResolveHostPath(containerPath_);
  std::error_code ec;
  fs::remove(real, ec);
  container_ = std::fopen(real.c_str(), "wb");
  if (!container_)
    throw HostError(kPathFileAccess, "Cannot create " + containerPath_ + ": " + std::strerror(errno),
                    "bigOpenWrite");
  WriteBytes(container_, kMagic, kMagicLen, containerPath_);
}

void cBigFileV2::bigOpenWrite(std::string& strOutFileName) {
  outFileName_ = strOutFileName;
  OpenContainer();
  if (index_) std::fclose(index_);
  indexPath_ = ChangeFileExt(strOutFileName, "dir");
  index_ = std::fopen(ResolveHostPath(indexPath_).c_str(), "wb");
  if (!index_)
    throw HostError(kPathFileAccess, "Cannot create " + indexPath_ + ": " + std::strerror(errno),
                    "bigOpenWrite");
}

void cBigFileV2::bigClose() {
  if (!container_) return;
  std::FILE* index = index_;
  index_ = nullptr;
  const bool indexOk = !index || std::fclose(index) == 0;
  const int indexErrno = errno;
  CloseContainer();
  if (!indexOk)
    throw HostError(indexErrno == ENOSPC ? kDiskFull : kPathFileAccess,
                    "Cannot finish " + indexPath_ + ": " + std::strerror(indexErrno), "bigClose");
}

void cBigFileV2::bigWriteFile(std::string& strInFileName, std::string& strBigFileInfo_FilePath) {
  NormaliseFolder(strBigFileInfo_FilePath);
  const std::string name = FilePart(strInFileName);
  if (HasWildcard(name)) {
    const size_t sep = LastSeparator(strInFileName);
    const std::string folder = sep == std::string::npos ? "." : strInFileName.substr(0, sep);
    std::vector<std::string> found{std::string()};
    FindFile(folder, false, name, found);
    for (size_t i = 1; i < found.size(); ++i) bigWriteFile(found[i], strBigFileInfo_FilePath);
    return;
  }
  WriteOne(ResolveHostPath(strInFileName), strInFileName, name, strBigFileInfo_FilePath);
}

void cBigFileV2::bigWriteFolder(const std::string& strInPathName,
                                const std::string& strBigFileInfo_FilePath,
                                const std::string& strFilterList) {
  std::string folder = strBigFileInfo_FilePath;
  NormaliseFolder(folder);
  std::string shown = strInPathName;
  while (shown.size() > 1 && (shown.back() == '\\' || shown.back() == '/')) shown.pop_back();
  const std::string real = ResolveHostPath(shown);
  std::error_code ec;
  if (!fs::is_directory(real, ec))
    throw HostError(kPathNotFound, "Folder not found: " + strInPathName, "bigWriteFolder");
  WalkFolder(real, shown, folder, strFilterList);
}

void cBigFileV2::WalkFolder(const std::string& realFolder, const std::string& shownFolder,
                            const std::string& folder, const std::string& filter) {
  std::error_code ec;
  const std::vector<DirEntry> entries = ListFolder(realFolder, ec);
  if (ec)
    throw HostError(kPathFileAccess, "Cannot read folder " + shownFolder + ": " + ec.message(),
                    "bigWriteFolder");
  for (const DirEntry& e : entries) {
    if (!e.isDir) continue;
    // The folder name goes into every record below it; refuse it before anything is written.
    StorableText("Folder name", e.name, "|\\\r\n");
    WalkFolder((fs::path(realFolder) / e.name).string(), JoinShown(shownFolder, e.name),
               folder + e.name + "\\", filter);
  }
  const bool all = filter.empty() || filter == "*";
  for (const DirEntry& e : entries) {
    if (e.isDir) continue;
    if (!all) {
      const std::string ext = UpperText(Extension(e.name));
      if (ext.empty() || (" " + filter + " ").find(" " + ext + " ") == std::string::npos) continue;
    }
    WriteOne((fs::path(realFolder) / e.name).string(), LowerText(JoinShown(shownFolder, e.name)),
             e.name, folder);
  }
}

void cBigFileV2::WriteOne(const std::string& realPath, const std::string& shownPath,
                          const std::string& name, const std::string& folder) {
  if (!container_ || !index_)
    throw HostError(kBadFileNumber, "No transfer file is open (bigOpenWrite first)",
                    "bigWriteFile");
  // Everything that goes into the record is checked before the first byte is written, so a
  // refused file leaves container and index as they were.
  if (name.empty() || name == "." || name == "..") Refuse("File name", shownPath);
  const std::string ansiName = StorableText("File name", LowerText(name), "|\\\r\n");
  CheckRelativeFolder(folder);
  const std::string ansiFolder = StorableText("Folder", folder, "|\r\n");
  const std::string ansiPath = StorableText("Path", shownPath, "|\r\n");

  if (DoMessage) DoMessage(shownPath);

  std::FILE* in = std::fopen(realPath.c_str(), "rb");
  if (!in)
    throw HostError(errno == ENOENT ? err::kFileNotFound : kPathFileAccess,
                    "Cannot open " + shownPath + ": " + std::strerror(errno), "bigWriteFile");
  struct stat st{};
  if (fstat(fileno(in), &st) != 0 || !S_ISREG(st.st_mode)) {
    std::fclose(in);
    throw HostError(kPathFileAccess, "Not a readable file: " + shownPath, "bigWriteFile");
  }
  // Read whole, as compress() needs it; the buffer is reused and only grows to the largest file.
  content_.resize(static_cast<size_t>(st.st_size));
  size_t size = 0;
  for (;;) {
    if (size == content_.size()) content_.resize(size + 65536);
    const size_t got = std::fread(content_.data() + size, 1, content_.size() - size, in);
    size += got;
    if (got == 0) break;
  }
  const bool readFailed = std::ferror(in) != 0;
  std::fclose(in);
  if (readFailed)
    throw HostError(kPathFileAccess, "Cannot read " + shownPath, "bigWriteFile");

  uLongf packedLen = compressBound(static_cast<uLong>(size));
  if (packed_.size() < packedLen) packed_.resize(packedLen);
  const int rc = compress(packed_.data(), &packedLen, content_.data(), static_cast<uLong>(size));
  if (rc != Z_OK)
    throw HostError(kPathFileAccess,
                    "Cannot compress " + shownPath + " (zlib error " + std::to_string(rc) + ")",
                    "bigWriteFile");

  const std::string sizeText = std::to_string(size);
  const std::string modified = ModifiedText(st.st_mtime);
  const std::string info = "|" + ansiName + "|" + ansiFolder + "|" + sizeText + "|" + modified +
                           "|" + std::to_string(Attributes(st, name)) + "|2|";
  const std::string head = LengthField(info.size()) + Invert(info) + LengthField(packedLen);
  WriteBytes(container_, head.data(), head.size(), containerPath_);
  WriteBytes(container_, packed_.data(), packedLen, containerPath_);
  const std::string line = ansiPath + "|" + sizeText + "|" + modified + "|" + ansiFolder + "|\r\n";
  WriteBytes(index_, line.data(), line.size(), indexPath_);

  current_ = static_cast<int64_t>(ftello(container_));
  if (maxTransferBytes_ > 0 && static_cast<double>(current_) / 1024.0 > maxTransferBytes_)
    OpenContainer();
}

}  // namespace fern
