#include "http/form_decoding.h"

#include <optional>

#include "base/text_split.h"

namespace tillvane {

namespace {

constexpr std::string_view kCrlf = "\r\n";
constexpr std::string_view kHeaderEnd = "\r\n\r\n";
constexpr std::string_view kDelimiterLead = "--";
constexpr std::string_view kContentDisposition = "content-disposition";

std::optional<int> HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return std::nullopt;
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// The value of header field `name` in a block of "Name: value" lines separated by CRLF.
std::string_view HeaderFieldValue(std::string_view headers, std::string_view name) {
    while (!headers.empty()) {
        const std::size_t end = headers.find(kCrlf);
        const std::string_view line = headers.substr(0, end);
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos &&
            EqualsIgnoringCase(TrimBlanks(line.substr(0, colon)), name)) {
            return TrimBlanks(line.substr(colon + 1));
        }
        if (end == std::string_view::npos) break;
        headers.remove_prefix(end + kCrlf.size());
    }
    return {};
}

platform::Error InvalidEscape() {
    return platform::Error::Message("invalid percent-encoding");
}

platform::Error MalformedMultipart() {
    return platform::Error::Message("malformed multipart form");
}

}  // namespace

Result<std::string> PercentDecode(std::string_view text, bool plusIsSpace) {
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size()) return InvalidEscape();
            const auto high = HexDigitValue(text[i + 1]);
            const auto low = HexDigitValue(text[i + 2]);
            if (!high || !low) return InvalidEscape();
            decoded += static_cast<char>(*high * 16 + *low);
            i += 2;
        } else if (c == '+' && plusIsSpace) {
            decoded += ' ';
        } else {
            decoded += c;
        }
    }
    return decoded;
}

Result<FormFields> ParseUrlEncoded(std::string_view text) {
    FormFields fields;
    while (!text.empty()) {
        const std::size_t ampersand = text.find('&');
        const std::string_view piece = text.substr(0, ampersand);
        text.remove_prefix(ampersand == std::string_view::npos ? text.size() : ampersand + 1);
        if (piece.empty()) continue;
        const std::size_t equals = piece.find('=');
        Result<std::string> name = PercentDecode(piece.substr(0, equals), true);
        if (!name.ok()) return name.error();
        Result<std::string> value = std::string();
        if (equals != std::string_view::npos) value = PercentDecode(piece.substr(equals + 1), true);
        if (!value.ok()) return value.error();
        fields.Add(std::move(name.value()), std::move(value.value()));
    }
    return fields;
}

std::string MediaTypeOf(std::string_view contentType) {
    return ToLowerAscii(TrimBlanks(contentType.substr(0, contentType.find(';'))));
}

std::string HeaderParameter(std::string_view headerValue, std::string_view name) {
    // Parameters follow the first ";"; a quoted value may itself hold ";" and "\"".
    std::size_t i = headerValue.find(';');
    while (i != std::string_view::npos && i < headerValue.size()) {
        ++i;  // past ";"
        const std::size_t equals = headerValue.find('=', i);
        const std::size_t nextSemicolon = headerValue.find(';', i);
        if (equals == std::string_view::npos) return {};
        if (nextSemicolon < equals) {  // a parameter without a value
            i = nextSemicolon;
            continue;
        }
        const std::string_view parameterName = TrimBlanks(headerValue.substr(i, equals - i));
        std::size_t j = equals + 1;
        while (j < headerValue.size() && (headerValue[j] == ' ' || headerValue[j] == '\t')) ++j;
        std::string value;
        if (j < headerValue.size() && headerValue[j] == '"') {
            for (++j; j < headerValue.size() && headerValue[j] != '"'; ++j) {
                if (headerValue[j] == '\\' && j + 1 < headerValue.size()) ++j;
                value += headerValue[j];
            }
            i = headerValue.find(';', j);
        } else {
            const std::size_t end = headerValue.find(';', j);
            value = std::string(TrimBlanks(headerValue.substr(j, end - j)));
            i = end;
        }
        if (EqualsIgnoringCase(parameterName, name)) return value;
    }
    return {};
}

Result<FormFields> ParseMultipartForm(std::string_view body, std::string_view boundary) {
    if (boundary.empty()) return MalformedMultipart();
    FormFields fields;
    const std::string delimiter = std::string(kDelimiterLead) + std::string(boundary);
    const std::string partEnd = std::string(kCrlf) + delimiter;

    // The first delimiter opens the body or follows a preamble and a line break.
    std::size_t position;
    if (body.substr(0, delimiter.size()) == delimiter) {
        position = delimiter.size();
    } else {
        position = body.find(partEnd);
        if (position == std::string_view::npos) return MalformedMultipart();
        position += partEnd.size();
    }

    for (;;) {
        // After a delimiter: "--" closes the body, otherwise optional blanks and a line break.
        if (body.substr(position, kDelimiterLead.size()) == kDelimiterLead) return fields;
        while (position < body.size() && (body[position] == ' ' || body[position] == '\t')) {
            ++position;
        }
        if (body.substr(position, kCrlf.size()) != kCrlf) return MalformedMultipart();
        position += kCrlf.size();

        // The part's header lines end with an empty line; a part may have none at all.
        std::string_view headers;
        if (body.substr(position, kCrlf.size()) == kCrlf) {
            position += kCrlf.size();
        } else {
            const std::size_t headersEnd = body.find(kHeaderEnd, position);
            if (headersEnd == std::string_view::npos) return MalformedMultipart();
            headers = body.substr(position, headersEnd - position);
            position = headersEnd + kHeaderEnd.size();
        }

        const std::size_t contentEnd = body.find(partEnd, position);
        if (contentEnd == std::string_view::npos) return MalformedMultipart();
        const std::string name =
            HeaderParameter(HeaderFieldValue(headers, kContentDisposition), "name");
        if (!name.empty()) {
            fields.Add(name, std::string(body.substr(position, contentEnd - position)));
        }
        position = contentEnd + partEnd.size();
    }
}

}  // namespace tillvane
