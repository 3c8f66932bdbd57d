#pragma once
// A store folder for stage tests: a temporary folder (its path holds a blank) with download/,
// a private runtime folder for window locks, and the stand-in sibling programs on request.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/ExecutablePath.h"
#include "platform/TestFolders.h"

namespace tarnwick::testing {

class StoreFixture : public ::testing::Test {
protected:
    StoreFixture() : store_(root_.Path() + "my store/") {
        std::filesystem::create_directories(Download());
    }

    const std::string& Store() const { return store_; }
    std::string Download() const { return store_ + "download/"; }
    std::string Root() const { return root_.Path(); }

    // Installs the built stand-in as Scrivel.exe or Lantrel.exe.
    void InstallSibling(const std::string& built, const std::string& installed) {
        std::filesystem::copy_file(platform::ExecutableDir() + built, store_ + installed,
                                   std::filesystem::copy_options::overwrite_existing);
    }
    void InstallSiblings() {
        InstallSibling("scrivel", "Scrivel.exe");
        InstallSibling("lantrel", "Lantrel.exe");
    }
    bool HandedOff() const { return Exists(store_ + "handoff.log"); }

private:
    TPrivateRuntimeFolder runtime_;
    TTempFolder root_;
    std::string store_;
};

}  // namespace tarnwick::testing
