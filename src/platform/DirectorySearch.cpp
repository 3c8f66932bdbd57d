#include "platform/DirectorySearch.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "base/Text.h"

namespace tarnwick::platform {

namespace {

// Fills the attributes and identity of the entry at `path`; false when there is none.
bool Describe(const std::string& path, std::string_view name, TSearchRec& entry) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && ::lstat(path.c_str(), &st) != 0) return false;
    int attr = S_ISDIR(st.st_mode) ? faDirectory : faArchive;
    if ((st.st_mode & S_IWUSR) == 0) attr |= faReadOnly;
    if (!name.empty() && name.front() == '.') attr |= faHidden;
    entry.Name = std::string(name);
    entry.Attr = attr;
    entry.Device = static_cast<std::uint64_t>(st.st_dev);
    entry.Inode = static_cast<std::uint64_t>(st.st_ino);
    entry.Size = static_cast<std::int64_t>(st.st_size);
    entry.ModifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    return true;
}

int AttrOf(const std::string& path, std::string_view name) {
    TSearchRec entry;
    return Describe(path, name, entry) ? entry.Attr : -1;
}

std::string_view BaseName(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool MatchFrom(std::string_view name, std::string_view pattern) {
    // Iterative wildcard match with one back-track point for the latest "*".
    std::size_t n = 0, p = 0, starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || AsciiUpper(pattern[p]) == AsciiUpper(name[n]))) {
            ++p;
            ++n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

}  // namespace

int FileGetAttr(const std::string& path) { return AttrOf(path, BaseName(path)); }

bool FindEntry(const std::string& path, TSearchRec& entry) { return Describe(path, BaseName(path), entry); }

bool SameFile(const TSearchRec& a, const TSearchRec& b) {
    return a.Name == b.Name && a.Device == b.Device && a.Inode == b.Inode && a.Size == b.Size &&
           a.ModifiedNs == b.ModifiedNs;
}

bool DirectoryExists(const std::string& path) {
    const int attr = FileGetAttr(path);
    return attr != -1 && (attr & faDirectory) != 0;
}

bool MatchesMask(std::string_view name, std::string_view pattern) {
    if (MatchFrom(name, pattern)) return true;
    // "name.*" also takes "name" without any extension, as the original platform does.
    if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*")
        return MatchFrom(name, pattern.substr(0, pattern.size() - 2));
    return false;
}

std::vector<TSearchRec> FindEntries(const std::string& folder, std::string_view pattern) {
    std::vector<TSearchRec> entries;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return entries;
    std::string prefix = folder;
    if (!prefix.empty() && prefix.back() != '/') prefix += '/';
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (!MatchesMask(name, pattern)) continue;
        TSearchRec found;
        if (!Describe(prefix + std::string(name), name, found)) continue;  // gone between the read and the query
        entries.push_back(std::move(found));
    }
    ::closedir(dir);
    // Users rely on a stable order: name order with letter case ignored, exact order for ties.
    std::sort(entries.begin(), entries.end(), [](const TSearchRec& a, const TSearchRec& b) {
        const int c = CompareTextAscii(a.Name, b.Name);
        return c != 0 ? c < 0 : a.Name < b.Name;
    });
    return entries;
}

bool DeleteFile(const std::string& path) {
    const int attr = FileGetAttr(path);
    if (attr == -1) return false;
    if ((attr & faDirectory) != 0) return false;
    return ::unlink(path.c_str()) == 0;
}

}  // namespace tarnwick::platform
