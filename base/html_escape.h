#pragma once
// Text made safe to stand in an HTML page: a browser shows it and runs nothing of it.

#include <string>
#include <string_view>

namespace tillvane {

// `text` with "<", ">", "&", '"' and "'" written as character references.
std::string EscapeHtml(std::string_view text);

}  // namespace tillvane
