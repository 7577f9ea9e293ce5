#pragma once
// What the fuzz targets share: a private scratch folder that lives as long as the process.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace tillvane::fuzzing {

// A folder of this process's own under the system's temporary folder, created on first use and
// removed when the process ends normally.
const std::filesystem::path& ScratchFolder();

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Stops the run with a message when a property the product promises does not hold; libFuzzer
// reports it as a crash and keeps the input.
[[noreturn]] void Violated(std::string_view what);

}  // namespace tillvane::fuzzing
