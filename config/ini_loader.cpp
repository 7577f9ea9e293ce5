#include "config/ini_loader.h"

#include <filesystem>
#include <fstream>
#include <limits>
#include <system_error>

#include "base/text_split.h"
#include "config/config_text.h"

namespace tillvane {

namespace {

constexpr char kKeyValueSeparator = '=';
constexpr std::string_view kKeyPadding = " \t";

// "apiTokens = x" and "allowedClients<TAB>=x" name the keys the administrator meant: a key
// kept with its padding would be another, unknown key, and its setting silently off.
void TrimKey(std::string& key) {
    const std::size_t last = key.find_last_not_of(kKeyPadding);
    key.erase(last == std::string::npos ? 0 : last + 1);
    key.erase(0, key.find_first_not_of(kKeyPadding));
}

// The file's bytes up to `size`; false when it cannot be opened.
bool ReadFileBytes(const std::string& path, std::size_t size, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.resize(size);
    in.read(bytes.data(), static_cast<std::streamsize>(size));
    // The file may have shrunk since its size was taken; keep what was really read.
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return true;
}

std::vector<INIEntry> ParseEntries(std::string_view text) {
    std::vector<INIEntry> entries;
    std::size_t linePosition = 0;
    std::string line;
    // An over-long line ends the reading; the entries before it are kept.
    while (NextLine(text, linePosition, line)) {
        if (line.empty()) continue;
        INIEntry entry;
        std::size_t fieldPosition = 0;
        // A field that cannot be taken stays empty; the line still makes an entry.
        NextField(line, fieldPosition, entry.key, kMaxConfigValueLength, kKeyValueSeparator);
        NextField(line, fieldPosition, entry.value, kMaxConfigValueLength, kKeyValueSeparator);
        TrimKey(entry.key);
        // A cut key could match another key, so an over-long one drops its entry.
        if (entry.key.size() > kMaxConfigKeyLength) continue;
        entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace

std::int32_t QueryFileSize(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return -1;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error || size > static_cast<std::uintmax_t>(std::numeric_limits<std::int32_t>::max())) {
        return -1;
    }
    return static_cast<std::int32_t>(size);
}

platform::Error INILoader::Load(const std::string& path) {
    const std::int32_t size = QueryFileSize(path);
    if (size < 0) return platform::Error::Message("no such file");
    std::string text;
    if (!ReadFileBytes(path, static_cast<std::size_t>(size), text)) {
        return platform::Error::Message("the file cannot be opened");
    }
    if (auto error = DecodeConfigText(text); !error.ok()) return error;
    entries_ = ParseEntries(text);
    return {};
}

bool INILoader::GetValue(std::string& destination, std::string_view key) const {
    destination.clear();
    for (const INIEntry& entry : entries_) {
        if (EqualsIgnoringCase(entry.key, key)) {
            destination = entry.value;
            return true;
        }
    }
    return false;
}

}  // namespace tillvane
