#pragma once
// Shared by every fuzz target: one entry point per target (LLVMFuzzerTestOneInput), and the check
// that turns a broken rule into a crash the fuzzer (or the corpus replay) reports with the input.
// A failure the code raises on purpose (a tarnwick::Exception) is an answer, not a finding; any
// other exception leaving the code is one.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string_view>

#include "base/Exception.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace tarnwick::fuzz {

[[noreturn]] inline void Fail(std::string_view what, std::string_view detail = {}) {
    std::fprintf(stderr, "fuzz check failed: %.*s", static_cast<int>(what.size()), what.data());
    if (!detail.empty()) std::fprintf(stderr, " [%.*s]", static_cast<int>(detail.size()), detail.data());
    std::fprintf(stderr, "\n");
    std::abort();
}

inline void Check(bool ok, std::string_view what, std::string_view detail = {}) {
    if (!ok) Fail(what, detail);
}

// Runs `body`; an Exception of the system is an accepted answer (true: it was raised), anything
// else thrown is a finding.
template <typename Body>
bool RaisesOnlyOwnFailures(Body&& body) {
    try {
        body();
        return false;
    } catch (const Exception&) {
        return true;
    } catch (const std::exception& e) {
        Fail("a foreign exception left the code", e.what());
    } catch (...) {
        Fail("an unknown exception left the code");
    }
}

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

}  // namespace tarnwick::fuzz
