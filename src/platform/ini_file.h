// INI files as Windows' private-profile functions treat them, behind a process-wide cache.
//
// Reading: section and key names compare without regard to case (umlauts too) and with
// surrounding blanks ignored; the first matching section and, inside it, the first matching key
// win; lines starting with ";" are comments; keys before the first section are not in any
// section. A value is the text after the first "=", trimmed of blanks and tabs; one pair of
// matching quotes around it (" or ') is removed, as Windows does. An empty value is a present
// key with the value "". Files are read as text_file.h describes (Windows-1252, or UTF-8).
//
// Parsed files are cached by path (made absolute and normal) for the life of the process;
// a change made on disk by someone else is seen after IniCacheReset. IniWrite always starts
// from the file as it is on disk and leaves the cache holding what it wrote.
//
// All calls take real paths; resolve host paths first (host_path.h).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fern {

// The value, or `def` when the file, the section or the key is missing. An unreadable file
// counts as missing, as for Windows.
std::string IniGet(std::string_view section, std::string_view key, std::string_view def,
                   const std::filesystem::path& file);

// Sets the key's value. The rest of the file stays as it is (order, comments, blank lines, other
// keys, the spelling of names). A missing key is added after the last entry of the first
// matching section, a missing section at the end of the file, a missing file is created. The
// file keeps its encoding (UTF-8 stays UTF-8, with or without mark; otherwise Windows-1252) and
// is written with CR LF.
// Errors: HostError 5 (err::kInvalidArgument) when the section or key is empty or a name or the
// value holds a line break, the key a "=" or the section a "]" (the file would no longer say what
// was written); HostError 53/75 from text_file.h when the file cannot be written (a missing
// folder is not created).
void IniWrite(std::string_view section, std::string_view key, std::string_view value,
              const std::filesystem::path& file);

// The keys of the first matching section with their values, in file order; for a key given
// twice only its first value. Empty when the file or section is missing.
std::vector<std::pair<std::string, std::string>> IniSection(std::string_view section,
                                                            const std::filesystem::path& file);

// Forgets every cached file; the next read goes to the disk.
void IniCacheReset();

}  // namespace fern
