// Host paths (Windows path texts with "\") to real Linux paths, and wildcard file search.
//
// A host path is resolved like this:
//  - every "\" becomes "/";
//  - "C:\..." (any drive letter) starts at the folder the drive table maps the letter to;
//  - "\\server\share\..." is refused (HostError 75): there is no network drive on this side;
//  - a Linux absolute path ("/srv/...") starts at "/", anything else at the caller's base
//    folder (the current folder when none is given);
//  - "." and ".." are applied to the text, without following links;
//  - each component is then matched without regard to case against what exists (Windows-1252
//    letters included: "ÄNDERUNG" finds "änderung"): the exact spelling wins when it exists,
//    otherwise the first in sorted order. From the first component that does not exist on,
//    the given spelling is kept, so the result can name a file still to be created.
// A path whose every component exists with its exact spelling comes back unchanged.
// A folder's listing is read once and kept while nothing in it changes (on a local file system
// it follows the changes inotify announces), so looking up a name costs the same in a folder of
// ten files or ten thousand, also while a run fills that folder.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace fern {

// The drive table: letter (either case) -> real folder. The host session sets it once from
// "sql\sql.ini"; an unmapped drive letter fails with HostError 75 naming the path.
void SetDriveMap(const std::map<char, std::filesystem::path>& drives);
const std::map<char, std::filesystem::path>& DriveMap();

std::filesystem::path ResolveHostPath(std::string_view hostPath,
                                      const std::filesystem::path& base = {});

// How many times a folder was listed to match a name without regard to case (for tests and
// benchmarks: the count stays put while a kept folder is searched again).
size_t FolderListingsRead();

// The names of the entries in `folder` that match the mask without regard to case (as
// MatchesMask), folders left out (links to files and other entries kept), in the order of their
// names folded to one case, then as spelled. Read from the folder's kept listing, so a search in
// a folder of thousands of names costs about what its matches cost. A missing or unreadable
// folder gives an empty list.
std::vector<std::string> FindKeptFiles(const std::filesystem::path& folder, std::string_view mask);

// True when `name` matches the Windows wildcard mask without regard to case: "*" any run of
// characters, "?" one character. "*.*" matches every name, with or without a point.
bool MatchesMask(std::string_view name, std::string_view mask);

// The regular files (links to files included) in `folder` whose names match the mask, with
// `folder` as prefix, sorted by path. With `recursive` subfolders are searched too (links to
// folders are not followed). A missing or unreadable folder gives an empty list.
std::vector<std::filesystem::path> FindFiles(const std::filesystem::path& folder,
                                             std::string_view mask, bool recursive = false);

}  // namespace fern
