#pragma once
// Sizes of one HTTP request the service reads: a longer one is refused before it is read,
// never cut into a different request.

#include <cstddef>

namespace tillvane {

// A path, terminator counted as the front end always has.
inline constexpr std::size_t kRequestPathCapacity = 4088;
// A byte of a field may come percent-encoded, as three.
inline constexpr std::size_t kPercentEncodedBytesPerByte = 3;
// Room for ordinary header fields, or a form's other fields and multipart framing.
inline constexpr std::size_t kHeaderFieldsAllowance = 8 * 1024;
// Longest Host value that a refusal's log entry repeats.
inline constexpr std::size_t kMaxLoggedHostLength = 255;

}  // namespace tillvane
