#include "core/log_stream.h"

#include <unistd.h>

#include <cerrno>

#include "platform/cp1252.h"
#include "platform/vb.h"

namespace fern {

std::shared_ptr<LogStream> LogStream::TryOpen(const std::filesystem::path& path, int& error) {
  std::FILE* f = std::fopen(path.c_str(), "ab");
  error = f ? 0 : errno;
  return f ? std::shared_ptr<LogStream>(new LogStream(f, path)) : nullptr;
}

void LogStream::Truncate() {
  if (!file_) throw HostError(52, "Bad file name or number", "LogStream");
  std::fflush(file_);
  if (::ftruncate(::fileno(file_), 0) != 0)
    throw HostError(75, "Pfad-/Dateizugriffsfehler: " + path_.string(), "LogStream");
}

LogStream::~LogStream() { Close(); }

void LogStream::Write(const std::string& text) {
  if (!file_) throw HostError(52, "Bad file name or number", "LogStream");
  std::string bytes = cp1252::FromUtf8(text);
  std::fwrite(bytes.data(), 1, bytes.size(), file_);
  std::fflush(file_);
}

void LogStream::WriteLine(const std::string& text) { Write(text + "\r\n"); }

void LogStream::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

Variant LogStream::Invoke(std::string_view name, unsigned, std::span<Variant> args) {
  if (NameIs(name, "WriteLine")) {
    CheckArgCount(args, 0, 1, name);
    WriteLine(args.empty() ? std::string() : vb::CStr(args[0]));
  } else if (NameIs(name, "Write")) {
    CheckArgCount(args, 1, 1, name);
    Write(vb::CStr(args[0]));
  } else if (NameIs(name, "WriteBlankLines")) {
    CheckArgCount(args, 1, 1, name);
    for (int32_t i = vb::CLng(args[0]); i > 0; --i) WriteLine();
  } else if (NameIs(name, "Close")) {
    Close();
  } else {
    ThrowNoMember(name);
  }
  return {};
}

}  // namespace fern
