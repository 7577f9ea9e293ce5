#include "service/text_format.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace tillvane {

std::string FormatText(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list counting;
    va_copy(counting, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, counting);
    va_end(counting);
    std::string text;
    if (length > 0) {
        std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, arguments);
        text.assign(buffer.data(), static_cast<std::size_t>(length));
    }
    va_end(arguments);
    return text;
}

}  // namespace tillvane
