// Whole text files in and out. Inside the program text is UTF-8; on disk it is Windows-1252
// with CR LF unless the file says otherwise.
//
// Reading decides the encoding from the bytes: a UTF-8 byte-order mark means UTF-8, a UTF-16 mark
// (FF FE or FE FF, as Windows writes "Unicode" text and INI files) UTF-16; without one,
// a file that is valid UTF-8 and holds at least one multi-byte sequence is taken as UTF-8 too
// (Windows-1252 text with umlauts is practically never valid UTF-8, e.g. "ä" is the lone byte
// 0xE4); everything else is Windows-1252.
//
// Failures are HostError naming the file: 53 (err::kFileNotFound) when the file or its folder
// does not exist, 75 (err::kPathFileAccess) for every other failure (rights, a folder in the
// way, a full disk).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace fern {

enum class TextEncoding {
  kCp1252,   // Windows-1252, no mark
  kUtf8Bom,  // UTF-8 starting with EF BB BF
  kUtf8,     // UTF-8 without a mark
  kUtf16Le,  // UTF-16 little-endian starting with FF FE
  kUtf16Be,  // UTF-16 big-endian starting with FE FF
};

struct TextFileContent {
  std::string text;  // UTF-8, mark removed, line endings as in the file
  TextEncoding encoding = TextEncoding::kCp1252;
};

TextFileContent ReadTextFile(const std::filesystem::path& path);

// The file's text as UTF-8 (see ReadTextFile).
std::string ReadText(const std::filesystem::path& path);

// Replaces the file with the UTF-8 text in the given encoding, every line break as CR LF.
// The new content goes to a temporary file beside it first, so a failed write leaves the old
// file whole. Characters Windows-1252 cannot hold become "?".
void WriteTextFile(const std::filesystem::path& path, std::string_view utf8,
                   TextEncoding encoding = TextEncoding::kCp1252);

// Appends one line (Windows-1252, CR LF), creating the file when it is missing.
void AppendLine(const std::filesystem::path& path, std::string_view utf8Line);

// The raw bytes of a file; errors as above.
std::string ReadBytes(const std::filesystem::path& path);

// Replaces the file with the bytes, through a temporary file beside it; errors as above.
void WriteBytes(const std::filesystem::path& path, std::string_view bytes);

}  // namespace fern
