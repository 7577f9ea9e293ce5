#pragma once
// Helpers of the register tests: configurations written to a temporary folder, and the
// messages of a register log with their time stamps checked and taken off.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "config/ini_loader.h"
#include "registers/text/fprint_register.h"
#include "tests/support/temp_dir.h"
#include "tests/support/text_mode.h"

namespace tillvane::testing {

// The register log is a text-mode file.
inline constexpr const char* kLogLineBreak = kTextModeLineBreak;

// The messages of the register log at `path`, in order; every entry must be a line break
// followed by a "%Y%m%d %H:%M:%S->" time stamp.
inline std::vector<std::string> LogMessages(const std::filesystem::path& path) {
    static const std::regex kEntry(std::string(kLogLineBreak) +
                                   R"(\d{8} \d{2}:\d{2}:\d{2}->([^\r\n]*))");
    const std::string text = ReadFile(path);
    std::vector<std::string> messages;
    std::size_t matched = 0;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), kEntry);
         it != std::sregex_iterator(); ++it) {
        EXPECT_EQ(static_cast<std::size_t>(it->position()), matched) << "stray bytes in log";
        matched = static_cast<std::size_t>(it->position() + it->length());
        messages.push_back((*it)[1]);
    }
    EXPECT_EQ(matched, text.size()) << "stray bytes at the end of the log";
    return messages;
}

// The path the text driver gives the file `name` in the configured `folder`: Windows
// upper-cases the folder and joins with a backslash.
inline std::string DriverPath(const std::filesystem::path& folder, const std::string& name) {
#ifdef _WIN32
    std::string path = folder.string();
    for (char& c : path) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return path + "\\" + name;
#else
    return (folder / name).string();
#endif
}

// The names of the files in `folder`, sorted.
inline std::vector<std::string> FileNames(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A text driver configured from `configuration`, logging to "register.log" in `dir`.
inline std::unique_ptr<FPrintRegister> MakeTextDriver(const TempDir& dir,
                                                      const std::string& configuration) {
    WriteFile(dir.File("driver.ini"), configuration);
    INILoader loader;
    EXPECT_TRUE(loader.Load(dir.File("driver.ini")).ok());
    auto driver = std::make_unique<FPrintRegister>();
    driver->log.SetPath(dir.File("register.log"));
    driver->LoadSharedSettings(loader);
    return driver;
}

}  // namespace tillvane::testing
