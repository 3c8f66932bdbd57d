// Replays a fuzz target's corpus without libFuzzer: every file named on the command line, or every
// file of every folder named, goes once through the target's entry point. A target that finds a
// fault aborts, so the file being replayed is printed first. Used as an ordinary test in every
// build, and to rerun one reproducer under a debugger.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzCheck.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE|FOLDER...\n", argv[0]);
        return 64;
    }
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        const fs::path arg = argv[i];
        std::error_code error;
        if (fs::is_directory(arg, error)) {
            for (const auto& entry : fs::recursive_directory_iterator(arg))
                if (entry.is_regular_file()) files.push_back(entry.path());
        } else if (fs::is_regular_file(arg, error)) {
            files.push_back(arg);
        } else {
            std::fprintf(stderr, "%s: no such file or folder\n", arg.c_str());
            return 1;
        }
    }
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        std::fprintf(stderr, "no input files\n");
        return 1;
    }
    for (const fs::path& file : files) {
        std::fprintf(stderr, "replaying %s\n", file.c_str());
        const std::vector<std::uint8_t> bytes = ReadAll(file);
        // A copy of exactly the file's size, so a read past the end is caught by the sanitizers.
        auto* copy = new std::uint8_t[bytes.size() + (bytes.empty() ? 1 : 0)];
        std::copy(bytes.begin(), bytes.end(), copy);
        LLVMFuzzerTestOneInput(copy, bytes.size());
        delete[] copy;
    }
    std::printf("replayed %zu inputs\n", files.size());
    return 0;
}
