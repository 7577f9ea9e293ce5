#pragma once
// Decoding of what a request carries in text: percent escapes, query strings and urlencoded
// forms, multipart/form-data bodies. Bytes are kept as they are; no character set is applied.

#include <string>
#include <string_view>

#include "base/result.h"
#include "http/form_fields.h"

namespace tillvane {

// Replaces every "%XY" (two hexadecimal digits) by its byte, and "+" by a space when
// `plusIsSpace` (query strings and urlencoded forms, not paths). Fails when a "%" is not
// followed by two hexadecimal digits.
Result<std::string> PercentDecode(std::string_view text, bool plusIsSpace);

// The fields of "name=value&name=value" (a query string or an
// application/x-www-form-urlencoded body); a piece without "=" is a field with an empty
// value, empty pieces are skipped. Fails on an invalid percent escape.
Result<FormFields> ParseUrlEncoded(std::string_view text);

// The media type of a Content-Type value in lower case, parameters dropped:
// "multipart/form-data; boundary=x" gives "multipart/form-data".
std::string MediaTypeOf(std::string_view contentType);

// Value of the parameter `name` (ASCII case ignored) of a header value with parameters, such
// as Content-Type or Content-Disposition ("form-data; name=\"CMD\""); quotes and their
// backslash escapes removed; empty when absent.
std::string HeaderParameter(std::string_view headerValue, std::string_view name);

// The named parts of a multipart/form-data `body` separated by `boundary`; each part's
// content is kept byte for byte. Fails when the body does not follow the format.
Result<FormFields> ParseMultipartForm(std::string_view body, std::string_view boundary);

}  // namespace tillvane
