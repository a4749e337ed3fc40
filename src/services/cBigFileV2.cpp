#include "services/cBigFileV2.h"

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "platform/cp1252.h"
#include "platform/host_error.h"
#include "platform/host_path.h"
#include "platform/text.h"
#include "platform/utf8.h"
#include "platform/vb.h"
#include "platform/waits.h"

namespace fern {

namespace fs = std::filesystem;

namespace {

// VB's run-time error numbers for file trouble; the web-site export reports them as they come.
constexpr int32_t kBadFileNumber = 52;
constexpr int32_t kDiskFull = 61;
constexpr int32_t kPathFileAccess = err::kPathFileAccess;
constexpr int32_t kPathNotFound = 76;

constexpr char kMagic[] = "BIGFILE";
constexpr size_t kMagicLen = 7;
constexpr size_t kLengthDigits = 12;

std::string LowerText(const std::string& s) { return text::FoldCase(s); }
std::string UpperText(const std::string& s) { return vb::UCase(s); }

std::string Resolve(const std::string& host) { return ResolveHostPath(host).string(); }

// Joins a host folder text and a name with the separator style the folder already uses.
std::string JoinShown(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  const char last = folder.back();
  if (last == '\\' || last == '/') return folder + name;
  const bool slash =
      folder.find('\\') == std::string::npos && folder.find('/') != std::string::npos;
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
  std::string key;  // folded name, the sort key
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
    std::string name = it->path().filename().string();
    entries.push_back({name, dir, LowerText(name)});
  }
  std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) {
    return a.key != b.key ? a.key < b.key : a.name < b.name;
  });
  return entries;
}

// The local modification time as a VB date turns into text ("dd.MM.yyyy hh:nn:ss").
std::string ModifiedText(time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return vb::DateToText(vb::DateSerial(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) +
                        vb::TimeSerial(tm.tm_hour, tm.tm_min, tm.tm_sec));
}

// The Scripting runtime's attribute bits: 1 read-only, 2 hidden, 32 archive.
int Attributes(const struct stat& st, const std::string& name) {
  int a = 32;
  if (!(st.st_mode & S_IWUSR)) a |= 1;
  if (!name.empty() && name[0] == '.') a |= 2;
  return a;
}

std::string Invert(std::string s) {
  for (char& c : s) c = static_cast<char>(c ^ 0xFF);
  return s;
}

std::string LengthField(uint64_t n) {
  const std::string digits = std::to_string(n);
  if (digits.size() > kLengthDigits)
    throw HostError(err::kOverflow, "Record too large for the container: " + digits + " bytes",
                    "bigWriteFile");
  return Invert(std::string(kLengthDigits - digits.size(), '0') + digits);
}

[[noreturn]] void Refuse(const std::string& what, const std::string& text) {
  throw HostError(err::kInvalidValue,
                  what + " cannot be stored in a transfer file: \"" + text + "\"", "bigWriteFile");
}

// Converts a text for the info field or the index, refusing what would break a record apart or
// what the web site's reader could not turn back into the same name.
std::string StorableText(const std::string& what, const std::string& text, const char* forbidden) {
  if (text.find_first_of(forbidden) != std::string::npos) Refuse(what, text);
  if (!utf8::IsValid(text) || !cp1252::Representable(text))
    Refuse(what + " (not Windows-1252)", text);
  return cp1252::FromUtf8(text);
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
  std::string real;
  try {
    real = Resolve(start);
  } catch (const HostError&) {
    return;  // an unmapped drive finds nothing, like a missing folder
  }
  const std::vector<DirEntry> entries = ListFolder(real, ec);
  for (const DirEntry& e : entries)
    if (!e.isDir && MatchesMask(e.name, file)) FileFound.push_back(JoinShown(start, e.name));
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
  if (name.size() >= nameStart + 4 && text::EqualsNoCase(name.substr(name.size() - 4), ".big"))
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
  const std::string real = Resolve(containerPath_);
  std::error_code ec;
  fs::remove(real, ec);
  container_ = std::fopen(real.c_str(), "wb");
  if (container_) outputs_.push_back(fs::weakly_canonical(real, ec));
  if (!container_)
    throw HostError(kPathFileAccess,
                    "Cannot create " + containerPath_ + ": " + std::strerror(errno),
                    "bigOpenWrite");
  WriteBytes(container_, kMagic, kMagicLen, containerPath_);
}

void cBigFileV2::bigOpenWrite(std::string& strOutFileName) {
  outFileName_ = strOutFileName;
  outputs_.clear();
  OpenContainer();
  if (index_) std::fclose(index_);
  indexPath_ = ChangeFileExt(strOutFileName, "dir");
  index_ = std::fopen(Resolve(indexPath_).c_str(), "wb");
  std::error_code ec;
  if (index_) outputs_.push_back(fs::weakly_canonical(Resolve(indexPath_), ec));
  if (!index_)
    throw HostError(kPathFileAccess, "Cannot create " + indexPath_ + ": " + std::strerror(errno),
                    "bigOpenWrite");
}

void cBigFileV2::bigClose() {
  // The index is closed even when a failed roll-over left no container open.
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
  WriteOne(Resolve(strInFileName), strInFileName, name, strBigFileInfo_FilePath);
}

void cBigFileV2::bigWriteFolder(const std::string& strInPathName,
                                const std::string& strBigFileInfo_FilePath,
                                const std::string& strFilterList) {
  std::string folder = strBigFileInfo_FilePath;
  NormaliseFolder(folder);
  std::string shown = strInPathName;
  while (shown.size() > 1 && (shown.back() == '\\' || shown.back() == '/')) shown.pop_back();
  const std::string real = Resolve(shown);
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
    const fs::path real = fs::path(realFolder) / e.name;
    if (std::find(outputs_.begin(), outputs_.end(), fs::weakly_canonical(real, ec)) !=
        outputs_.end())
      continue;  // our own output inside the folder being packed
    if (!all) {
      const std::string ext = UpperText(Extension(e.name));
      if (ext.empty() || (" " + filter + " ").find(" " + ext + " ") == std::string::npos) continue;
    }
    WriteOne((fs::path(realFolder) / e.name).string(), LowerText(JoinShown(shownFolder, e.name)),
             e.name, folder);
    PumpEvents();
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
  struct stat st {};
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
  if (readFailed) throw HostError(kPathFileAccess, "Cannot read " + shownPath, "bigWriteFile");

  uLongf packedLen = compressBound(size);
  if (packed_.size() < packedLen) packed_.resize(packedLen);
  const int rc = compress(packed_.data(), &packedLen, content_.data(), size);
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

  current_ = ftello(container_);
  if (maxTransferBytes_ > 0 && static_cast<double>(current_) / 1024.0 > maxTransferBytes_)
    OpenContainer();
}

}  // namespace fern
