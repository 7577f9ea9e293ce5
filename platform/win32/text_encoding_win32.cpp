// Narrow strings are in the ANSI code page here: the A functions read them so.

#include <limits>

#include "platform/text_encoding.h"
#include "platform/win32/windows_api.h"
#include "platform/win32/windows_error.h"

namespace tillvane::platform {

Error NarrowFromUtf16(std::u16string_view wide, std::string& narrow) {
    if (wide.empty()) {
        narrow.clear();
        return {};
    }
    if (wide.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return Error::Message("the text is too long");
    }
    // wchar_t is a UTF-16 code unit on Windows.
    const auto* units = reinterpret_cast<const wchar_t*>(wide.data());
    const int unitCount = static_cast<int>(wide.size());
    // A character the code page lacks would become "?" or a look-alike: refused instead, so
    // that no setting silently changes.
    const int size = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, units, unitCount, nullptr,
                                           0, nullptr, nullptr);
    if (size <= 0) return LastSystemError();
    std::string text(static_cast<std::size_t>(size), '\0');
    BOOL usedDefault = FALSE;
    if (::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, units, unitCount, text.data(), size,
                              nullptr, &usedDefault) != size) {
        return LastSystemError();
    }
    if (usedDefault) {
        return Error::Message("a character the system's ANSI code page cannot show");
    }
    narrow = std::move(text);
    return {};
}

}  // namespace tillvane::platform
