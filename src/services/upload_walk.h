// What both FTP upload modes share: the extension filter, the folder listing in a fixed order.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace fern::services {

// True when `list` (blank-separated extensions, "BIG DIR PHP") names the file's extension as a
// whole word, without regard to case; an empty list takes every file. A file without an
// extension is never in a non-empty list.
bool ExtensionListed(const std::string& list, const std::string& fileName);

struct FolderContent {
  std::vector<std::filesystem::path> folders;
  std::vector<std::filesystem::path> files;
};
// The subfolders and regular files of `folder`, each sorted by name; links to folders are not
// followed. A missing or unreadable folder gives nothing.
FolderContent ListFolder(const std::filesystem::path& folder);

// `remote` & "/" & name, or the name alone below an empty remote folder (so a tree sent to the
// login folder stays below it instead of moving to the server's root).
std::string RemoteChild(const std::string& remote, const std::string& name);

// "a/b/c" -> "a", "a/b", "a/b/c" (a leading "/" kept on each): the folders to create, parents
// first, so a missing remote tree is made level by level.
std::vector<std::string> FolderChain(const std::string& remote);

}  // namespace fern::services
