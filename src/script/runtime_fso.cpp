// Scripting.FileSystemObject with File, Folder, Files/SubFolders and TextStream. Scripts hand
// in Windows path texts; every real access goes through the host-path resolver, while the
// texts the script sees back (Path, BuildPath, ...) keep the script's own separators.
#include <algorithm>
#include <fstream>
#include <random>

#include "platform/cp1252.h"
#include "platform/host_path.h"
#include "platform/private_temp.h"
#include "platform/text.h"
#include "platform/utf8.h"
#include "platform/vb.h"
#include "script/runtime_util.h"

namespace fern::script::rt {

namespace fs = std::filesystem;

namespace {

// --- path texts ------------------------------------------------------------------------------

bool IsSep(char c) { return c == '\\' || c == '/'; }

bool HasDrive(std::string_view p) {
  return p.size() >= 2 && p[1] == ':' &&
         ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'));
}

// Length of the root part: "C:\", "C:", "\\" or "/" .
size_t RootLength(std::string_view p) {
  if (HasDrive(p)) return p.size() > 2 && IsSep(p[2]) ? 3 : 2;
  if (!p.empty() && IsSep(p[0])) return 1;
  return 0;
}

char SepOf(std::string_view p) {
  return p.find('\\') == std::string_view::npos && p.find('/') != std::string_view::npos ? '/'
                                                                                         : '\\';
}

std::string_view StripTrailingSeps(std::string_view p) {
  size_t root = RootLength(p);
  while (p.size() > root && IsSep(p.back())) p.remove_suffix(1);
  return p;
}

std::string FileNameOf(std::string_view p) {
  p = StripTrailingSeps(p);
  size_t root = RootLength(p);
  if (p.size() <= root) return "";
  size_t cut = p.find_last_of("\\/");
  size_t from = cut == std::string_view::npos ? root : std::max(cut + 1, root);
  return std::string(p.substr(from));
}

std::string ParentOf(std::string_view p) {
  p = StripTrailingSeps(p);
  size_t root = RootLength(p);
  if (p.size() <= root) return "";
  size_t cut = p.find_last_of("\\/");
  if (cut == std::string_view::npos || cut < root) return std::string(p.substr(0, root));
  std::string_view parent = StripTrailingSeps(p.substr(0, cut));
  if (parent.size() < root) parent = p.substr(0, root);
  return std::string(parent);
}

std::string BaseNameOf(std::string_view p) {
  std::string name = FileNameOf(p);
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string ExtensionOf(std::string_view p) {
  std::string name = FileNameOf(p);
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? "" : name.substr(dot + 1);
}

std::string Join(std::string_view folder, std::string_view name) {
  if (folder.empty()) return std::string(name);
  while (!name.empty() && IsSep(name.front())) name.remove_prefix(1);
  std::string out(folder);
  if (!IsSep(out.back()) && out.back() != ':') out += SepOf(folder);
  out += name;
  return out;
}

// "." and ".." applied to the text; the root is kept.
std::string Normalize(std::string_view p) {
  size_t root = RootLength(p);
  char sep = SepOf(p);
  std::vector<std::string> parts;
  size_t i = root;
  while (i <= p.size()) {
    size_t j = i;
    while (j < p.size() && !IsSep(p[j])) ++j;
    std::string part(p.substr(i, j - i));
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(std::move(part));
    }
    i = j + 1;
  }
  std::string out(p.substr(0, root));
  for (size_t k = 0; k < parts.size(); ++k) {
    if (k) out += sep;
    out += parts[k];
  }
  return out;
}

std::string AbsoluteText(std::string_view p) {
  if (RootLength(p) > 0) return Normalize(p);
  return RealPath(p.empty() ? "." : p).lexically_normal().string();
}

bool HasWildcard(std::string_view name) { return name.find_first_of("*?") != std::string::npos; }

// --- file access helpers -------------------------------------------------------------------

bool IsFile(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec);
}
bool IsDir(const fs::path& p) {
  std::error_code ec;
  return fs::is_directory(p, ec);
}

// Resolves a path text; a path the resolver refuses (an unmapped drive) counts as not found.
bool TryReal(std::string_view text, fs::path& out) {
  if (text.empty()) return false;
  try {
    out = RealPath(text);
    return true;
  } catch (const HostError&) {
    return false;
  }
}

// A filesystem failure as VB reports it: 70 for rights, else 75.
template <typename F>
void Guard(F op) {
  try {
    op();
  } catch (const fs::filesystem_error& e) {
    if (e.code() == std::errc::permission_denied || e.code() == std::errc::operation_not_permitted)
      Raise(kPermissionDenied);
    Raise(err::kPathFileAccess);
  }
}

struct Match {
  std::string text;
  fs::path real;
};

// The entries a (possibly wildcarded) path text names; `dirs` selects folders or files.
std::vector<Match> Expand(std::string_view pathMask, bool dirs) {
  std::vector<Match> out;
  std::string name = FileNameOf(pathMask);
  if (!HasWildcard(name)) {
    fs::path real;
    if (TryReal(pathMask, real) && (dirs ? IsDir(real) : IsFile(real)))
      out.push_back({std::string(StripTrailingSeps(pathMask)), real});
    return out;
  }
  std::string folderText = ParentOf(pathMask);
  fs::path folder;
  if (!TryReal(folderText.empty() ? "." : folderText, folder) || !IsDir(folder)) return out;
  std::error_code ec;
  std::vector<fs::path> found;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    bool match = dirs ? IsDir(it->path()) : IsFile(it->path());
    if (match && MatchesMask(it->path().filename().string(), name)) found.push_back(it->path());
  }
  std::sort(found.begin(), found.end());
  for (const fs::path& p : found) out.push_back({Join(folderText, p.filename().string()), p});
  return out;
}

Variant Obj(std::shared_ptr<Dispatch> d) { return Variant(std::move(d)); }

bool OptBool(std::span<Variant> a, size_t i, bool fallback) {
  return Given(a, i) ? ArgBool(a, i) : fallback;
}

// --- text streams ----------------------------------------------------------------------------

enum class Enc { kAnsi, kUtf16, kUtf8 };

std::string EncodeText(std::string_view utf8, Enc enc) {
  if (enc == Enc::kAnsi) return cp1252::FromUtf8(utf8);
  if (enc == Enc::kUtf8) return std::string(utf8);
  std::string out;
  for (char32_t c : ToU32(utf8)) {
    auto unit = [&out](uint32_t u) {
      out += static_cast<char>(u & 0xFF);
      out += static_cast<char>(u >> 8);
    };
    if (c > 0xFFFF) {
      unit(0xD800 + ((c - 0x10000) >> 10));
      unit(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      unit(c);
    }
  }
  return out;
}

// File bytes to UTF-8: a byte-order mark decides; without one `unicode` means UTF-16LE, else
// valid UTF-8 with multi-byte characters is taken as UTF-8 and the rest as Windows-1252.
std::string DecodeBytes(const std::string& bytes, bool unicode) {
  auto utf16 = [&](size_t from, bool little) {
    std::u32string out;
    for (size_t i = from; i + 1 < bytes.size(); i += 2) {
      uint32_t lo = static_cast<unsigned char>(bytes[i]),
               hi = static_cast<unsigned char>(bytes[i + 1]);
      uint32_t u = little ? lo | (hi << 8) : (lo << 8) | hi;
      if (u >= 0xD800 && u <= 0xDBFF && i + 3 < bytes.size()) {
        uint32_t lo2 = static_cast<unsigned char>(bytes[i + 2]);
        uint32_t hi2 = static_cast<unsigned char>(bytes[i + 3]);
        uint32_t u2 = little ? lo2 | (hi2 << 8) : (lo2 << 8) | hi2;
        if (u2 >= 0xDC00 && u2 <= 0xDFFF) {
          out += static_cast<char32_t>(0x10000 + ((u - 0xD800) << 10) + (u2 - 0xDC00));
          i += 2;
          continue;
        }
      }
      out += (u >= 0xD800 && u <= 0xDFFF) ? utf8::kReplacement : static_cast<char32_t>(u);
    }
    return FromU32(out);
  };
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') return utf16(2, true);
  if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF') return utf16(2, false);
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
  if (unicode) return utf16(0, true);
  bool multiByte = std::any_of(bytes.begin(), bytes.end(), [](char c) { return c & 0x80; });
  if (multiByte && utf8::IsValid(bytes)) return bytes;
  return cp1252::ToUtf8(bytes);
}

std::string ReadAllBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) Raise(kPermissionDenied);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class TextStream : public Dispatch {
 public:
  // iomode 1 reading, 2 writing (the file is replaced), 8 appending.
  TextStream(const fs::path& real, std::string text, int iomode, bool unicode)
      : text_(std::move(text)), iomode_(iomode) {
    if (iomode == 1) {
      content_ = ToU32(DecodeBytes(ReadAllBytes(real), unicode));
      return;
    }
    enc_ = unicode ? Enc::kUtf16 : Enc::kAnsi;
    bool writeBom = unicode;
    if (iomode == 8 && IsFile(real)) {
      // Appending continues in the file's own encoding, whatever the caller asked, so a
      // Unicode file never gets ANSI bytes mixed in (or the other way round).
      std::string head = ReadAllBytes(real).substr(0, 3);
      if (!head.empty()) {
        writeBom = false;
        if (head.compare(0, 2, "\xFF\xFE") == 0)
          enc_ = Enc::kUtf16;
        else if (head == "\xEF\xBB\xBF")
          enc_ = Enc::kUtf8;
        else
          enc_ = Enc::kAnsi;
      }
    }
    out_.open(real, std::ios::binary | (iomode == 8 ? std::ios::app : std::ios::trunc));
    if (!out_) Raise(kPermissionDenied);
    if (writeBom) Put("\xFF\xFE");
  }

  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "TextStream"; }

 private:
  void Put(std::string_view bytes) {
    out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out_.flush();  // other streams and programs see the text without waiting for Close
    if (!out_) Raise(err::kPathFileAccess);
  }
  void Write(std::string_view utf8) {
    if (iomode_ == 1 || closed_) Raise(kBadFileMode);
    Put(EncodeText(utf8, enc_));
    std::u32string chars = ToU32(utf8);
    for (size_t i = 0; i < chars.size(); ++i)
      Advance(chars[i], i + 1 < chars.size() ? chars[i + 1] : 0);
  }
  void NeedReading() {
    if (iomode_ != 1 || closed_) Raise(kBadFileMode);
  }
  void NeedMore() {
    NeedReading();
    if (pos_ >= content_.size()) Raise(kPastEndOfFile);
  }
  // Line and column follow every character read or written; CR LF is one line break.
  void Advance(char32_t c, char32_t next) {
    if (c == '\n' || (c == '\r' && next != '\n')) {
      ++line_;
      column_ = 1;
    } else if (c != '\r') {
      ++column_;
    }
  }
  char32_t Take() {
    char32_t c = content_[pos_++];
    Advance(c, pos_ < content_.size() ? content_[pos_] : 0);
    return c;
  }
  std::u32string ReadLine() {
    NeedMore();
    std::u32string line;
    while (pos_ < content_.size()) {
      char32_t c = Take();
      if (c == '\n') break;
      if (c == '\r') {
        if (pos_ < content_.size() && content_[pos_] == '\n') Take();
        break;
      }
      line += c;
    }
    return line;
  }

  std::string text_;
  int iomode_;
  bool closed_ = false;
  Enc enc_ = Enc::kAnsi;
  std::ofstream out_;
  std::u32string content_;
  size_t pos_ = 0;
  int64_t line_ = 1;
  int64_t column_ = 1;
};

Variant TextStream::Invoke(std::string_view name, unsigned kind, std::span<Variant> args) {
  if (kind & (kPropLet | kPropSet)) ThrowNoMember(name);
  if (NameIs(name, "ReadLine")) {
    CheckArgCount(args, 0, 0, name);
    return Variant(FromU32(ReadLine()));
  }
  if (NameIs(name, "ReadAll")) {
    CheckArgCount(args, 0, 0, name);
    NeedMore();
    std::u32string rest;
    while (pos_ < content_.size()) rest += Take();
    return Variant(FromU32(rest));
  }
  if (NameIs(name, "Read")) {
    CheckArgCount(args, 1, 1, name);
    int32_t n = ArgLng(args, 0);
    if (n < 0) Raise(err::kInvalidArgument);
    NeedMore();
    std::u32string part;
    while (n-- > 0 && pos_ < content_.size()) part += Take();
    return Variant(FromU32(part));
  }
  if (NameIs(name, "SkipLine")) {
    CheckArgCount(args, 0, 0, name);
    ReadLine();
    return Variant();
  }
  if (NameIs(name, "Skip")) {
    CheckArgCount(args, 1, 1, name);
    int32_t n = ArgLng(args, 0);
    if (n < 0) Raise(err::kInvalidArgument);
    NeedReading();
    while (n-- > 0 && pos_ < content_.size()) Take();
    return Variant();
  }
  if (NameIs(name, "AtEndOfStream")) {
    CheckArgCount(args, 0, 0, name);
    NeedReading();
    return Variant(pos_ >= content_.size());
  }
  if (NameIs(name, "AtEndOfLine")) {
    CheckArgCount(args, 0, 0, name);
    NeedReading();
    return Variant(pos_ >= content_.size() || content_[pos_] == '\r' || content_[pos_] == '\n');
  }
  if (NameIs(name, "Write")) {
    CheckArgCount(args, 1, 1, name);
    Write(ArgStr(args, 0));
    return Variant();
  }
  if (NameIs(name, "WriteLine")) {
    CheckArgCount(args, 0, 1, name);
    Write((Given(args, 0) ? ArgStr(args, 0) : std::string()) + "\r\n");
    return Variant();
  }
  if (NameIs(name, "WriteBlankLines")) {
    CheckArgCount(args, 1, 1, name);
    int32_t n = ArgLng(args, 0);
    if (n < 0) Raise(err::kInvalidArgument);
    std::string lines;
    for (int32_t i = 0; i < n; ++i) lines += "\r\n";
    Write(lines);
    return Variant();
  }
  if (NameIs(name, "Line")) {
    CheckArgCount(args, 0, 0, name);
    return Variant::Whole(line_);
  }
  if (NameIs(name, "Column")) {
    CheckArgCount(args, 0, 0, name);
    return Variant::Whole(column_);
  }
  if (NameIs(name, "Close")) {
    CheckArgCount(args, 0, 0, name);
    if (out_.is_open()) out_.close();
    closed_ = true;
    return Variant();
  }
  ThrowNoMember(name);
}

// Opens a text stream as OpenTextFile does; `create` makes a missing file.
std::shared_ptr<Dispatch> OpenStream(std::string_view text, int iomode, bool create, int format) {
  if (iomode != 1 && iomode != 2 && iomode != 8) Raise(err::kInvalidArgument);
  if (format != 0 && format != -1 && format != -2) Raise(err::kInvalidArgument);
  fs::path real = RealPath(text);
  if (IsDir(real)) Raise(kPermissionDenied);
  if (!IsFile(real)) {
    if (!IsDir(real.parent_path().empty() ? fs::path(".") : real.parent_path()))
      Raise(kPathNotFound);
    if (!create) Raise(err::kFileNotFound);
    if (iomode == 1) {
      std::ofstream touch(real, std::ios::binary);
      if (!touch) Raise(kPermissionDenied);
    }
  }
  return std::make_shared<TextStream>(real, AbsoluteText(text), iomode, format == -1);
}

std::shared_ptr<Dispatch> CreateStream(std::string_view text, bool overwrite, bool unicode) {
  fs::path real = RealPath(text);
  if (IsDir(real)) Raise(kPermissionDenied);
  if (IsFile(real) && !overwrite) Raise(kFileExists);
  if (!IsDir(real.parent_path().empty() ? fs::path(".") : real.parent_path())) Raise(kPathNotFound);
  return std::make_shared<TextStream>(real, AbsoluteText(text), 2, unicode);
}

// --- copy, move, delete ------------------------------------------------------------------------

// Where one source lands: into the folder when `dest` ends with a separator, else at `dest`.
fs::path Target(std::string_view dest, const fs::path& source, bool many) {
  bool intoFolder = !dest.empty() && IsSep(dest.back());
  fs::path real = RealPath(dest);
  if (intoFolder || many) {
    if (!IsDir(real)) Raise(kPathNotFound);
    return real / source.filename();
  }
  return real;
}

void CopyFiles(std::string_view source, std::string_view dest, bool overwrite) {
  std::vector<Match> files = Expand(source, false);
  if (files.empty()) Raise(err::kFileNotFound);
  bool many = HasWildcard(FileNameOf(source));
  for (const Match& f : files) {
    fs::path to = Target(dest, f.real, many);
    if (IsDir(to)) Raise(kPermissionDenied);
    if (!IsDir(to.parent_path())) Raise(kPathNotFound);
    if (IsFile(to) && !overwrite) Raise(kFileExists);
    Guard([&] { fs::copy_file(f.real, to, fs::copy_options::overwrite_existing); });
  }
}

void MoveEntry(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  fs::rename(from, to, ec);
  if (!ec) return;
  if (ec != std::errc::cross_device_link) {
    if (ec == std::errc::permission_denied) Raise(kPermissionDenied);
    Raise(err::kPathFileAccess);
  }
  // Another file system: copy, then remove the original.
  Guard([&] {
    fs::copy(from, to, fs::copy_options::recursive);
    fs::remove_all(from);
  });
}

void MoveFiles(std::string_view source, std::string_view dest) {
  std::vector<Match> files = Expand(source, false);
  if (files.empty()) Raise(err::kFileNotFound);
  bool many = HasWildcard(FileNameOf(source));
  for (const Match& f : files) {
    fs::path to = Target(dest, f.real, many);
    if (fs::exists(to)) Raise(kFileExists);
    if (!IsDir(to.parent_path())) Raise(kPathNotFound);
    MoveEntry(f.real, to);
  }
}

void DeleteFiles(std::string_view pathMask) {
  std::vector<Match> files = Expand(pathMask, false);
  if (files.empty()) Raise(err::kFileNotFound);
  for (const Match& f : files) Guard([&] { fs::remove(f.real); });
}

void DeleteFolders(std::string_view pathMask) {
  std::vector<Match> dirs = Expand(pathMask, true);
  if (dirs.empty()) Raise(kPathNotFound);
  for (const Match& d : dirs) Guard([&] { fs::remove_all(d.real); });
}

// A folder copied into `to`: an existing folder there takes the content (files overwritten
// only with `overwrite`).
void CopyTree(const fs::path& from, const fs::path& to, bool overwrite) {
  if (IsFile(to)) Raise(kFileExists);
  Guard([&] { fs::create_directories(to); });
  std::error_code ec;
  for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
    fs::path target = to / it->path().filename();
    if (IsDir(it->path())) {
      CopyTree(it->path(), target, overwrite);
    } else {
      if (IsFile(target) && !overwrite) Raise(kFileExists);
      Guard([&] { fs::copy_file(it->path(), target, fs::copy_options::overwrite_existing); });
    }
  }
}

void CopyFolders(std::string_view source, std::string_view dest, bool overwrite) {
  std::vector<Match> dirs = Expand(source, true);
  if (dirs.empty()) Raise(kPathNotFound);
  bool many = HasWildcard(FileNameOf(source));
  for (const Match& d : dirs) {
    fs::path to = Target(dest, d.real, many);
    fs::path rel = fs::relative(to, d.real);
    if (!rel.empty() && *rel.begin() != "..") Raise(kPermissionDenied);  // into itself
    CopyTree(d.real, to, overwrite);
  }
}

void MoveFolders(std::string_view source, std::string_view dest) {
  std::vector<Match> dirs = Expand(source, true);
  if (dirs.empty()) Raise(kPathNotFound);
  bool many = HasWildcard(FileNameOf(source));
  for (const Match& d : dirs) {
    fs::path to = Target(dest, d.real, many);
    if (fs::exists(to)) Raise(kFileExists);
    MoveEntry(d.real, to);
  }
}

// --- File, Folder, collections -------------------------------------------------------------

std::shared_ptr<Dispatch> MakeFolder(std::string text, fs::path real);
std::shared_ptr<Dispatch> MakeFile(std::string text, fs::path real);

int64_t TreeSize(const fs::path& folder) {
  int64_t total = 0;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (it->is_regular_file(ec)) total += static_cast<int64_t>(it->file_size(ec));
  return total;
}

Variant ModifiedOf(const fs::path& p) {
  std::error_code ec;
  auto t = fs::last_write_time(p, ec);
  if (ec) Raise(kPathNotFound);
  return Variant::Date(SerialFromFileTime(t));
}

// Common to File and Folder: both name one entry by the script's text and the real path.
class Entry : public Dispatch {
 public:
  Entry(std::string text, fs::path real) : text_(std::move(text)), real_(std::move(real)) {}

 protected:
  // Members both kinds share; false when `name` is none of them.
  bool Common(std::string_view name, std::span<Variant> args, Variant& result) {
    if (NameIs(name, "Name")) {
      CheckArgCount(args, 0, 0, name);
      std::string n = real_.filename().string();
      result = Variant(n.empty() ? FileNameOf(text_) : n);
    } else if (NameIs(name, "Path")) {
      CheckArgCount(args, 0, 0, name);
      result = Variant(text_);
    } else if (NameIs(name, "DateLastModified")) {
      CheckArgCount(args, 0, 0, name);
      result = ModifiedOf(real_);
    } else if (NameIs(name, "ParentFolder")) {
      CheckArgCount(args, 0, 0, name);
      std::string parent = ParentOf(text_);
      if (parent.empty() || real_.parent_path() == real_)
        result = Variant::Nothing();
      else
        result = Obj(MakeFolder(parent, real_.parent_path()));
    } else {
      return false;
    }
    return true;
  }

  // Only Name can be assigned: it renames the entry within its folder.
  Variant Assign(std::string_view name, unsigned kind, std::span<Variant> args) {
    if (!(kind & kPropLet) || !NameIs(name, "Name")) ThrowNoMember(name);
    CheckArgCount(args, 1, 1, name);
    std::string newName = ArgStr(args, 0);
    if (newName.empty() || newName == "." || newName == ".." ||
        newName.find_first_of("\\/") != std::string::npos)
      Raise(err::kInvalidArgument);
    fs::path to = real_.parent_path() / newName;
    if (to == real_) return Variant();
    std::error_code ec;
    if (fs::exists(to, ec)) Raise(kFileExists);
    MoveEntry(real_, to);
    real_ = std::move(to);
    text_ = Join(ParentOf(text_), newName);
    return Variant();
  }

  std::string text_;
  fs::path real_;
};

class File : public Entry {
 public:
  using Entry::Entry;
  std::string TypeName() const override { return "File"; }
  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override {
    if (kind & (kPropLet | kPropSet)) return Assign(name, kind, args);
    Variant result;
    if (name.empty() || NameIs(name, "Path")) return Entry::Common("Path", args, result), result;
    if (Common(name, args, result)) return result;
    if (NameIs(name, "Size")) {
      CheckArgCount(args, 0, 0, name);
      std::error_code ec;
      auto size = fs::file_size(real_, ec);
      if (ec) Raise(err::kFileNotFound);
      return Variant::Whole(static_cast<int64_t>(size));
    }
    if (NameIs(name, "Delete")) {
      CheckArgCount(args, 0, 1, name);
      if (!IsFile(real_)) Raise(err::kFileNotFound);
      Guard([&] { fs::remove(real_); });
      return Variant();
    }
    if (NameIs(name, "Copy")) {
      CheckArgCount(args, 1, 2, name);
      CopyFiles(text_, ArgStr(args, 0), OptBool(args, 1, true));
      return Variant();
    }
    if (NameIs(name, "Move")) {
      CheckArgCount(args, 1, 1, name);
      std::string dest = ArgStr(args, 0);
      fs::path to = Target(dest, real_, false);
      MoveFiles(text_, dest);
      real_ = to;
      text_ = AbsoluteText(IsSep(dest.back()) ? Join(dest, to.filename().string()) : dest);
      return Variant();
    }
    if (NameIs(name, "OpenAsTextStream")) {
      CheckArgCount(args, 0, 2, name);
      int iomode = Given(args, 0) ? ArgLng(args, 0) : 1;
      int format = Given(args, 1) ? ArgLng(args, 1) : 0;
      return Obj(OpenStream(text_, iomode, false, format));
    }
    ThrowNoMember(name);
  }
};

// Files or SubFolders of a folder, listed when asked: Count, Item(name), For Each.
class Listing : public Dispatch {
 public:
  Listing(std::string text, fs::path real, bool folders)
      : text_(std::move(text)), real_(std::move(real)), folders_(folders) {}
  std::string TypeName() const override { return folders_ ? "Folders" : "Files"; }
  bool Enumerate(std::vector<Variant>& items) override {
    for (const fs::path& p : List())
      items.push_back(Obj(folders_ ? MakeFolder(Join(text_, p.filename().string()), p)
                                   : MakeFile(Join(text_, p.filename().string()), p)));
    return true;
  }
  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override {
    if (kind & (kPropLet | kPropSet)) ThrowNoMember(name);
    if (NameIs(name, "Count")) {
      CheckArgCount(args, 0, 0, name);
      return Variant::Whole(static_cast<int64_t>(List().size()));
    }
    if (name.empty() || NameIs(name, "Item")) {
      CheckArgCount(args, 1, 1, "Item");
      std::string child = ArgStr(args, 0);
      std::string text = Join(text_, child);
      fs::path real = ResolveHostPath(child, real_);
      if (folders_ ? !IsDir(real) : !IsFile(real))
        Raise(folders_ ? kPathNotFound : err::kFileNotFound);
      return Obj(folders_ ? MakeFolder(text, real) : MakeFile(text, real));
    }
    if (folders_ && NameIs(name, "Add")) {
      CheckArgCount(args, 1, 1, name);
      std::string child = ArgStr(args, 0);
      std::string text = Join(text_, child);
      fs::path real = ResolveHostPath(child, real_);
      if (fs::exists(real)) Raise(kFileExists);
      Guard([&] { fs::create_directory(real); });
      return Obj(MakeFolder(text, real));
    }
    ThrowNoMember(name);
  }

 private:
  // Sorted without regard to case, the order Windows lists a folder in.
  std::vector<fs::path> List() const {
    std::vector<fs::path> out;
    std::error_code ec;
    for (fs::directory_iterator it(real_, ec), end; !ec && it != end; it.increment(ec))
      if (folders_ ? IsDir(it->path()) : IsFile(it->path())) out.push_back(it->path());
    std::sort(out.begin(), out.end(), [](const fs::path& a, const fs::path& b) {
      return text::FoldCase(a.filename().string()) < text::FoldCase(b.filename().string());
    });
    return out;
  }

  std::string text_;
  fs::path real_;
  bool folders_;
};

class Folder : public Entry {
 public:
  using Entry::Entry;
  std::string TypeName() const override { return "Folder"; }
  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override {
    if (kind & (kPropLet | kPropSet)) return Assign(name, kind, args);
    Variant result;
    if (name.empty()) return Entry::Common("Path", args, result), result;
    if (Common(name, args, result)) return result;
    if (NameIs(name, "Files") || NameIs(name, "SubFolders")) {
      CheckArgCount(args, 0, 0, name);
      if (!IsDir(real_)) Raise(kPathNotFound);
      return Obj(std::make_shared<Listing>(text_, real_, NameIs(name, "SubFolders")));
    }
    if (NameIs(name, "Size")) {
      CheckArgCount(args, 0, 0, name);
      return Variant::Whole(TreeSize(real_));
    }
    if (NameIs(name, "IsRootFolder")) {
      CheckArgCount(args, 0, 0, name);
      return Variant(real_.parent_path() == real_);
    }
    if (NameIs(name, "Delete")) {
      CheckArgCount(args, 0, 1, name);
      if (!IsDir(real_)) Raise(kPathNotFound);
      Guard([&] { fs::remove_all(real_); });
      return Variant();
    }
    if (NameIs(name, "Copy")) {
      CheckArgCount(args, 1, 2, name);
      CopyFolders(text_, ArgStr(args, 0), OptBool(args, 1, true));
      return Variant();
    }
    if (NameIs(name, "Move")) {
      CheckArgCount(args, 1, 1, name);
      std::string dest = ArgStr(args, 0);
      fs::path to = Target(dest, real_, false);
      MoveFolders(text_, dest);
      real_ = to;
      text_ = AbsoluteText(IsSep(dest.back()) ? Join(dest, to.filename().string()) : dest);
      return Variant();
    }
    if (NameIs(name, "CreateTextFile")) {
      CheckArgCount(args, 1, 3, name);
      std::string child = ArgStr(args, 0);
      return Obj(CreateStream(Join(text_, child), OptBool(args, 1, true), OptBool(args, 2, false)));
    }
    ThrowNoMember(name);
  }
};

std::shared_ptr<Dispatch> MakeFolder(std::string text, fs::path real) {
  return std::make_shared<Folder>(std::move(text), std::move(real));
}
std::shared_ptr<Dispatch> MakeFile(std::string text, fs::path real) {
  return std::make_shared<File>(std::move(text), std::move(real));
}

// --- the FileSystemObject ----------------------------------------------------------------------

class FileSystemObject : public Dispatch {
 public:
  std::string TypeName() const override { return "FileSystemObject"; }
  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
};

Variant FileSystemObject::Invoke(std::string_view name, unsigned kind, std::span<Variant> args) {
  if (kind & (kPropLet | kPropSet)) ThrowNoMember(name);
  auto one = [&]() {
    CheckArgCount(args, 1, 1, name);
    return ArgStr(args, 0);
  };
  if (NameIs(name, "FileExists")) {
    fs::path real;
    return Variant(TryReal(one(), real) && IsFile(real));
  }
  if (NameIs(name, "FolderExists")) {
    fs::path real;
    return Variant(TryReal(one(), real) && IsDir(real));
  }
  if (NameIs(name, "DriveExists")) {
    std::string drive = one();
    fs::path real;
    if (HasDrive(drive)) drive = drive.substr(0, 2) + "\\";
    return Variant(TryReal(drive, real) && IsDir(real));
  }
  if (NameIs(name, "GetFile")) {
    std::string text = one();
    fs::path real;
    if (!TryReal(text, real) || !IsFile(real)) Raise(err::kFileNotFound);
    return Obj(MakeFile(AbsoluteText(text), real));
  }
  if (NameIs(name, "GetFolder")) {
    std::string text = one();
    fs::path real;
    if (!TryReal(text, real) || !IsDir(real)) Raise(kPathNotFound);
    return Obj(MakeFolder(AbsoluteText(text), real));
  }
  if (NameIs(name, "GetFileName")) return Variant(FileNameOf(one()));
  if (NameIs(name, "GetBaseName")) return Variant(BaseNameOf(one()));
  if (NameIs(name, "GetExtensionName")) return Variant(ExtensionOf(one()));
  if (NameIs(name, "GetParentFolderName")) return Variant(ParentOf(one()));
  if (NameIs(name, "GetAbsolutePathName")) return Variant(AbsoluteText(one()));
  if (NameIs(name, "GetDriveName")) {
    std::string p = one();
    return Variant(HasDrive(p) ? p.substr(0, 2) : std::string());
  }
  if (NameIs(name, "BuildPath")) {
    CheckArgCount(args, 2, 2, name);
    return Variant(Join(ArgStr(args, 0), ArgStr(args, 1)));
  }
  if (NameIs(name, "CreateFolder")) {
    std::string text = one();
    fs::path real = RealPath(text);
    if (fs::exists(real)) Raise(kFileExists);
    if (!IsDir(real.parent_path())) Raise(kPathNotFound);
    Guard([&] { fs::create_directory(real); });
    return Obj(MakeFolder(AbsoluteText(text), real));
  }
  if (NameIs(name, "CreateTextFile")) {
    CheckArgCount(args, 1, 3, name);
    return Obj(CreateStream(ArgStr(args, 0), OptBool(args, 1, true), OptBool(args, 2, false)));
  }
  if (NameIs(name, "OpenTextFile")) {
    CheckArgCount(args, 1, 4, name);
    int iomode = Given(args, 1) ? ArgLng(args, 1) : 1;
    bool create = OptBool(args, 2, false);
    int format = Given(args, 3) ? ArgLng(args, 3) : 0;
    return Obj(OpenStream(ArgStr(args, 0), iomode, create, format));
  }
  if (NameIs(name, "DeleteFile")) {
    CheckArgCount(args, 1, 2, name);
    DeleteFiles(ArgStr(args, 0));
    return Variant();
  }
  if (NameIs(name, "DeleteFolder")) {
    CheckArgCount(args, 1, 2, name);
    DeleteFolders(ArgStr(args, 0));
    return Variant();
  }
  if (NameIs(name, "CopyFile")) {
    CheckArgCount(args, 2, 3, name);
    CopyFiles(ArgStr(args, 0), ArgStr(args, 1), OptBool(args, 2, true));
    return Variant();
  }
  if (NameIs(name, "MoveFile")) {
    CheckArgCount(args, 2, 2, name);
    MoveFiles(ArgStr(args, 0), ArgStr(args, 1));
    return Variant();
  }
  if (NameIs(name, "CopyFolder")) {
    CheckArgCount(args, 2, 3, name);
    CopyFolders(ArgStr(args, 0), ArgStr(args, 1), OptBool(args, 2, true));
    return Variant();
  }
  if (NameIs(name, "MoveFolder")) {
    CheckArgCount(args, 2, 2, name);
    MoveFolders(ArgStr(args, 0), ArgStr(args, 1));
    return Variant();
  }
  if (NameIs(name, "GetTempName")) {
    CheckArgCount(args, 0, 0, name);
    static std::mt19937 gen(std::random_device{}());
    char buf[16];
    std::snprintf(buf, sizeof buf, "rad%05X.tmp", static_cast<unsigned>(gen() & 0xFFFFF));
    return Variant(std::string(buf));
  }
  if (NameIs(name, "GetSpecialFolder")) {
    CheckArgCount(args, 1, 1, name);
    int32_t which = ArgLng(args, 0);
    if (which < 0 || which > 2) Raise(err::kInvalidArgument);
    // Only the temporary folder has a counterpart here; the Windows and system folders map
    // to the root.
    fs::path real = which == 2 ? PrivateTempFolder() : fs::path("/");
    std::string text = real.string();
    if (text.size() > 1 && text.back() == '/') text.pop_back();
    return Obj(MakeFolder(text, real));
  }
  ThrowNoMember(name);
}

}  // namespace

std::shared_ptr<Dispatch> NewFileSystemObject() { return std::make_shared<FileSystemObject>(); }

}  // namespace fern::script::rt
