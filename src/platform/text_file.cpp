#include "platform/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/cp1252.h"
#include "platform/host_error.h"
#include "platform/text.h"
#include "platform/utf8.h"

namespace fern {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

[[noreturn]] void Fail(const std::filesystem::path& path, int error) {
  if (error == ENOENT || error == ENOTDIR) {
    throw HostError(err::kFileNotFound, "File not found: " + path.string());
  }
  throw HostError(err::kPathFileAccess,
                  "Path/File access error: " + path.string() + " (" + std::strerror(error) + ")");
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  // Closes now so that a failing close (delayed write error) is seen.
  int Close() {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// UTF-16 without its mark to UTF-8; an unpaired surrogate or an odd last byte becomes U+FFFD.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  auto unit = [&](size_t i) {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    return static_cast<char32_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
  };
  std::string out;
  out.reserve(bytes.size());
  size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    char32_t cp = unit(i);
    if (cp >= 0xD800 && cp < 0xDC00 && i + 3 < bytes.size()) {
      const char32_t low = unit(i + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    if (cp >= 0xD800 && cp < 0xE000) cp = 0xFFFD;
    utf8::Append(out, cp);
  }
  if (i < bytes.size()) utf8::Append(out, 0xFFFD);
  return out;
}

std::string Utf8ToUtf16(std::string_view utf8Text, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  auto put = [&](char32_t u) {
    const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out += bigEndian ? hi : lo;
    out += bigEndian ? lo : hi;
  };
  for (size_t pos = 0; pos < utf8Text.size();) {
    const char32_t cp = utf8::Next(utf8Text, pos);
    if (cp >= 0x10000) {
      put(0xD800 + ((cp - 0x10000) >> 10));
      put(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      put(cp);
    }
  }
  return out;
}

bool HasMultiByte(std::string_view s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  }
  return false;
}

}  // namespace

std::string ReadBytes(const std::filesystem::path& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) Fail(path, errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) Fail(path, errno);
  if (S_ISDIR(st.st_mode)) Fail(path, EISDIR);
  std::string bytes;
  bytes.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(path, errno);
    }
    if (n == 0) break;
    bytes.append(buf, static_cast<size_t>(n));
  }
  return bytes;
}

void WriteBytes(const std::filesystem::path& path, std::string_view bytes) {
  // Write through a symbolic link instead of replacing the link itself.
  std::filesystem::path target = path;
  std::error_code ec;
  if (std::filesystem::is_symlink(path, ec)) {
    target = std::filesystem::weakly_canonical(path, ec);
    if (ec) target = path;
  }
  struct stat old {};
  const bool existed = ::stat(target.c_str(), &old) == 0;
  if (existed && S_ISDIR(old.st_mode)) Fail(path, EISDIR);

  static unsigned counter = 0;
  std::filesystem::path temp = target;
  temp += ".~" + std::to_string(::getpid()) + "." + std::to_string(++counter);
  Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (fd.get() < 0) Fail(path, errno);
  int error = 0;
  if (!WriteAll(fd.get(), bytes)) error = errno;
  if (!error && existed) ::fchmod(fd.get(), old.st_mode & 07777);
  if (fd.Close() != 0 && !error) error = errno;
  if (!error && ::rename(temp.c_str(), target.c_str()) != 0) error = errno;
  if (error) {
    ::unlink(temp.c_str());
    Fail(path, error);
  }
}

TextFileContent ReadTextFile(const std::filesystem::path& path) {
  std::string bytes = ReadBytes(path);
  TextFileContent content;
  if (std::string_view(bytes).starts_with(kBom)) {
    content.encoding = TextEncoding::kUtf8Bom;
    content.text = bytes.substr(kBom.size());
  } else if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
    const bool bigEndian = bytes[0] == '\xFE';
    content.encoding = bigEndian ? TextEncoding::kUtf16Be : TextEncoding::kUtf16Le;
    content.text = Utf16ToUtf8(std::string_view(bytes).substr(2), bigEndian);
  } else if (HasMultiByte(bytes) && utf8::IsValid(bytes)) {
    content.encoding = TextEncoding::kUtf8;
    content.text = std::move(bytes);
  } else {
    content.encoding = TextEncoding::kCp1252;
    content.text = cp1252::ToUtf8(bytes);
  }
  return content;
}

std::string ReadText(const std::filesystem::path& path) { return ReadTextFile(path).text; }

void WriteTextFile(const std::filesystem::path& path, std::string_view utf8,
                   TextEncoding encoding) {
  const std::string crlf = text::ToCrLf(utf8);
  switch (encoding) {
    case TextEncoding::kUtf8Bom:
      WriteBytes(path, std::string(kBom) + crlf);
      break;
    case TextEncoding::kUtf8:
      WriteBytes(path, crlf);
      break;
    case TextEncoding::kCp1252:
      WriteBytes(path, cp1252::FromUtf8(crlf));
      break;
    case TextEncoding::kUtf16Le:
    case TextEncoding::kUtf16Be:
      WriteBytes(path, Utf8ToUtf16(crlf, encoding == TextEncoding::kUtf16Be));
      break;
  }
}

void AppendLine(const std::filesystem::path& path, std::string_view utf8Line) {
  Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
  if (fd.get() < 0) Fail(path, errno);
  // One write call, so concurrent appenders do not interleave within a line.
  const std::string bytes = cp1252::FromUtf8(text::ToCrLf(utf8Line)) + "\r\n";
  if (!WriteAll(fd.get(), bytes)) Fail(path, errno);
  if (fd.Close() != 0) Fail(path, errno);
}

}  // namespace fern
