#pragma once
// Test helpers for real folders: a temporary folder removed with everything in it, small file
// writers, and a private runtime folder so window locks of parallel tests never meet.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace tarnwick::testing {

class TTempFolder {
public:
    explicit TTempFolder(const std::string& stem = "tarnwick-test") {
        std::string pattern = (std::filesystem::temp_directory_path() / (stem + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TTempFolder() {
        std::error_code ignored;
        // Read-only entries get their write bit back so nothing is left behind.
        for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
            ::chmod(it->path().c_str(), 0700);
        std::filesystem::remove_all(path_, ignored);
    }
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;

    // The folder with a trailing "/".
    std::string Path() const { return path_.string() + "/"; }

private:
    std::filesystem::path path_;
};

inline void WriteFile(const std::string& path, const std::string& text, int mode = 0644) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
    ::chmod(path.c_str(), static_cast<mode_t>(mode));
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::string& path) { return std::filesystem::exists(path); }

// Points the per-user runtime folder at a folder of this test for the test's lifetime.
class TPrivateRuntimeFolder {
public:
    TPrivateRuntimeFolder() : folder_("tarnwick-runtime") { ::setenv("XDG_RUNTIME_DIR", folder_.Path().c_str(), 1); }
    ~TPrivateRuntimeFolder() { ::unsetenv("XDG_RUNTIME_DIR"); }

private:
    TTempFolder folder_;
};

}  // namespace tarnwick::testing
