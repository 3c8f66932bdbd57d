#pragma once
// Directory search with the attribute values the download stages filter on, attribute query and
// file deletion. Plain functions over the file system; nothing is cached and no handle outlives a
// call.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::platform {

// Attribute bits of a search entry.
constexpr int faReadOnly = 1;   // the owner lacks write permission
constexpr int faHidden = 2;     // the name starts with "."
constexpr int faSysFile = 4;
constexpr int faVolumeID = 8;
constexpr int faDirectory = 16;
constexpr int faArchive = 32;   // every regular file
constexpr int faAnyFile = 63;

struct TSearchRec {
    std::string Name;  // without folder
    int Attr = 0;
    // Which file the entry was when it was searched: a name can be taken over by another file.
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;
    std::int64_t Size = 0;
    std::int64_t ModifiedNs = 0;  // modification time, nanoseconds since the epoch
};

// True when both entries are the same file, unchanged: same name, device, inode, size and
// modification time.
bool SameFile(const TSearchRec& a, const TSearchRec& b);

// Attribute value of the entry at `path`, or -1 when there is none.
int FileGetAttr(const std::string& path);
// The entry at `path` as a search would yield it, with its identity; false when there is none.
bool FindEntry(const std::string& path, TSearchRec& entry);
// True when `path` names an existing folder.
bool DirectoryExists(const std::string& path);

// Wildcard match of a bare name: "*" any run, "?" one character, ASCII letter case ignored; a
// pattern ending in ".*" also takes names without an extension ("*.*" takes every name).
bool MatchesMask(std::string_view name, std::string_view pattern);

// Every entry of `folder` whose name matches `pattern`, "." and ".." left out, in name order with
// letter case ignored. A missing or unreadable folder yields no entry.
std::vector<TSearchRec> FindEntries(const std::string& folder, std::string_view pattern);

// Deletes the file at `path`; a read-only file too, as the folder's permissions allow. A folder
// is never removed. Answers whether the file is gone.
bool DeleteFile(const std::string& path);

}  // namespace tarnwick::platform
