// Narrow strings are UTF-8 here.

#include "platform/text_encoding.h"

namespace tillvane::platform {

namespace {

constexpr char16_t kHighSurrogateFirst = 0xD800;
constexpr char16_t kLowSurrogateFirst = 0xDC00;
constexpr char16_t kLowSurrogateLast = 0xDFFF;
constexpr char32_t kFirstSupplementary = 0x10000;

bool IsHighSurrogate(char16_t unit) {
    return unit >= kHighSurrogateFirst && unit < kLowSurrogateFirst;
}
bool IsLowSurrogate(char16_t unit) {
    return unit >= kLowSurrogateFirst && unit <= kLowSurrogateLast;
}

void AppendUtf8(char32_t c, std::string& out) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < kFirstSupplementary) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

Error NarrowFromUtf16(std::u16string_view wide, std::string& narrow) {
    std::string text;
    text.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const char16_t unit = wide[i];
        if (IsLowSurrogate(unit)) return Error::Message("a lone UTF-16 surrogate");
        if (!IsHighSurrogate(unit)) {
            AppendUtf8(unit, text);
            continue;
        }
        if (i + 1 == wide.size() || !IsLowSurrogate(wide[i + 1])) {
            return Error::Message("a lone UTF-16 surrogate");
        }
        const char32_t high = unit - kHighSurrogateFirst;
        const char32_t low = wide[++i] - kLowSurrogateFirst;
        AppendUtf8(kFirstSupplementary + (high << 10) + low, text);
    }
    narrow = std::move(text);
    return {};
}

}  // namespace tillvane::platform
