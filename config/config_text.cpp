#include "config/config_text.h"

#include <string_view>

#include "platform/text_encoding.h"

namespace tillvane {

namespace {

using namespace std::string_view_literals;

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF"sv;
constexpr std::string_view kUtf16LittleEndianMark = "\xFF\xFE"sv;
constexpr std::string_view kUtf16BigEndianMark = "\xFE\xFF"sv;
// Checked before UTF-16's marks, which begin the same.
constexpr std::string_view kUtf32LittleEndianMark = "\xFF\xFE\0\0"sv;
constexpr std::string_view kUtf32BigEndianMark = "\0\0\xFE\xFF"sv;
constexpr std::size_t kUtf16UnitBytes = 2;

std::u16string Utf16Units(std::string_view bytes, bool bigEndian) {
    std::u16string units;
    units.reserve(bytes.size() / kUtf16UnitBytes);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += kUtf16UnitBytes) {
        const auto first = static_cast<unsigned char>(bytes[i]);
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        units += static_cast<char16_t>(bigEndian ? (first << 8) | second : (second << 8) | first);
    }
    return units;
}

platform::Error DecodeUtf16(std::string_view bytes, bool bigEndian, std::string& text) {
    if (bytes.size() % kUtf16UnitBytes != 0) {
        return platform::Error::Message("UTF-16 text with an odd number of bytes (cut short?)");
    }
    return platform::NarrowFromUtf16(Utf16Units(bytes, bigEndian), text)
        .Within("UTF-16 text the program cannot read");
}

}  // namespace

platform::Error DecodeConfigText(std::string& bytes) {
    const std::string_view view(bytes);
    if (view.starts_with(kUtf32LittleEndianMark) || view.starts_with(kUtf32BigEndianMark)) {
        return platform::Error::Message(
            "saved as UTF-32; save it as ANSI, UTF-8 or Unicode (UTF-16)");
    }
    std::string text;
    if (view.starts_with(kUtf8Mark)) {
        text = view.substr(kUtf8Mark.size());
    } else if (view.starts_with(kUtf16LittleEndianMark)) {
        if (auto error = DecodeUtf16(view.substr(kUtf16LittleEndianMark.size()), false, text);
            !error.ok()) {
            return error;
        }
    } else if (view.starts_with(kUtf16BigEndianMark)) {
        if (auto error = DecodeUtf16(view.substr(kUtf16BigEndianMark.size()), true, text);
            !error.ok()) {
            return error;
        }
    } else {
        text = view;
    }
    // Lines would end at a NUL byte: what follows it would be lost without a word.
    if (text.find('\0') != std::string::npos) {
        return platform::Error::Message(
            "holds NUL bytes (UTF-16 saved without a byte-order mark?); save it as ANSI, UTF-8 "
            "or Unicode");
    }
    bytes = std::move(text);
    return {};
}

}  // namespace tillvane
