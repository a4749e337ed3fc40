// The program's temporary folder, private to the user and to the host folder being worked on.
//
// Windows gives each user a temporary folder of their own; "/tmp" is shared by everybody, so
// names there are predictable and another user could plant files or links under them. The
// folder is "fern-<uid>" below "$TMPDIR" (when set) or "/tmp", made with mode 0700 and checked
// to be a real folder owned by this user with no rights for others. Below it each scope (the
// host folder of the session) gets a folder of its own, so that two runs on different host
// folders never share a work file.
//
// A run's own work there carries its process id ("fern<pid>_..."); its marker "fern<pid>.run"
// stays locked while the process lives. A process killed or hung up leaves its work behind
// (an archive of the host's settings among it): the next process of the user and host folder
// removes it, but never what a process still alive made.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace fern {

// Sets the scope the folder is kept apart for (normally the host folder); "" for none.
void SetPrivateTempScope(const std::string& scope);

// The scope's private folder, created when missing. HostError 75 naming the folder when it
// can't be made, or when what stands there is a link, not a folder, belongs to another user
// or is open to others and can't be closed.
std::filesystem::path PrivateTempFolder();

// Removes from the scope's private folder the work of processes that have ended (done once by
// the first PrivateTempFolder of a scope).
void RemoveWorkOfEndedRuns();

// The web-site run's work folder, and the file in it that a run writes at its end when the
// operator chose to keep that work (STOPOVER answered No): the removal then leaves the folder
// for the next site run, which clears it with the marker.
inline constexpr const char* kSiteWorkFolder = "kvws";
inline constexpr const char* kSiteWorkKept = "kept-on-purpose";

// What the removal met and left alone (a TRANSFER that is a link), once each, for the send log.
std::vector<std::string> TakePrivateTempNotes();

// The first folder on the way from `base` down through `names` that is a symbolic link, when
// `base` is the scope's private folder: nothing there is written or deleted through a link. Empty
// when there is none, or when `base` is another folder (an operator's TRANSFERPATH may hold
// links on purpose).
std::filesystem::path LinkBelowPrivateFolder(const std::filesystem::path& base,
                                             const std::vector<std::string>& names);

// What the run says of such a link: that it and what it leads to stay untouched.
std::string LinkLeftAlone(const std::filesystem::path& link);

}  // namespace fern
