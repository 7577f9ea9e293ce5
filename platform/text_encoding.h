#pragma once
// UTF-16 text (a configuration saved as "Unicode", say) turned into the characters the
// program's narrow strings hold: the ANSI code page on Windows, which the A functions read,
// and UTF-8 elsewhere.

#include <string>
#include <string_view>

#include "platform/error.h"

namespace tillvane::platform {

// `wide` as narrow text in `narrow`. Fails, with `narrow` left alone, when `wide` holds a
// lone surrogate or a character the narrow character set cannot show.
Error NarrowFromUtf16(std::u16string_view wide, std::string& narrow);

}  // namespace tillvane::platform
