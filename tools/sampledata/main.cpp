// tarnwick-sampledata: writes realistic sample data packets, one per table rule (bills as master
// and detail pairs), into a folder, e.g. a store's outbox/ for the download program to deliver.
//
//   tarnwick-sampledata [--rows N] [--products N] [--bills N] [--lines N] FOLDER

#include <filesystem>
#include <iostream>
#include <string>

#include "SamplePackets.h"

int main(int argc, char** argv) {
    using namespace tarnwick::sampledata;
    TSampleSizes sizes;
    std::string folder;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        int* target = arg == "--rows" ? &sizes.Rows : arg == "--products" ? &sizes.Products
                    : arg == "--bills" ? &sizes.Bills : arg == "--lines" ? &sizes.LinesPerBill : nullptr;
        if (target != nullptr && i + 1 < argc) {
            *target = std::stoi(argv[++i]);
        } else if (target == nullptr && folder.empty() && !arg.starts_with("-")) {
            folder = arg;
        } else {
            folder.clear();
            break;
        }
    }
    if (folder.empty()) {
        std::cerr << "usage: tarnwick-sampledata [--rows N] [--products N] [--bills N] [--lines N] FOLDER\n";
        return 2;
    }
    try {
        std::filesystem::create_directories(folder);
        const auto names = WriteSampleFiles(folder, sizes);
        std::cout << "tarnwick-sampledata: " << names.size() << " files in " << folder << "\n";
        return 0;
    } catch (const std::exception& failure) {
        std::cerr << "tarnwick-sampledata: " << failure.what() << "\n";
        return 1;
    }
}
