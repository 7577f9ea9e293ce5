#pragma once
// What the status page says a command text was, in words a person at the shop recognises
// ("Receipt, 2 items, 5.00", "Z report"), rather than its first line, which is "BS" for nearly
// every receipt.

#include <string>
#include <string_view>

namespace tillvane {

// A receipt (its items and the value of the goods sold on it, before any discount), the
// reports, a duplicate, or whatever else the text holds; the kinds a text mixes are joined
// with " + ". A text of none of them is named by its first line; an empty one "empty text".
std::string SummariseCommandText(std::string_view text);

}  // namespace tillvane
