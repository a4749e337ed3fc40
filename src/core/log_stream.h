// A log file open for the length of a run, written line by line as Windows-1252 text with CR LF
// (the host's own readers expect ANSI logs). Scripts reach it by name (WriteLine, Write, Close),
// as they would a text stream.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/dispatch.h"
#include "platform/file_error.h"

namespace fern {

class LogStream : public Dispatch {
 public:
  // For appending, creating it when missing; null with the system's error number when it can't
  // be opened. Nothing in the file changes, so it can be tried before a run commits to its logs.
  static std::shared_ptr<LogStream> TryOpen(const std::filesystem::path& path, int& error);
  ~LogStream() override;

  // Each line is flushed at once, so a log survives a crash of the run.
  void WriteLine(const std::string& text = {});
  void Write(const std::string& text);
  void Close();
  // Empties the file; later lines start it afresh.
  void Truncate();
  bool IsOpen() const { return file_ != nullptr; }
  const std::filesystem::path& Path() const { return path_; }

  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "TextStream"; }

 private:
  LogStream(std::FILE* file, std::filesystem::path path) : file_(file), path_(std::move(path)) {}
  std::FILE* file_;
  std::filesystem::path path_;
};

}  // namespace fern
