#include "base/json_line.h"

#include <charconv>

namespace tillvane {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr unsigned char kFirstNonAscii = 0x80;
constexpr unsigned char kDelete = 0x7F;
constexpr unsigned char kFirstPrintable = 0x20;

void AppendByteEscape(std::string& out, unsigned char byte) {
    out += "\\u00";
    out += kHexDigits[byte >> 4];
    out += kHexDigits[byte & 0xF];
}

// Length of the well-formed UTF-8 sequence at the start of `text`; 0 when there is none.
std::size_t Utf8SequenceLength(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const auto continuation = [&](std::size_t i) {
        return i < text.size() && (byte(i) & 0xC0) == 0x80;
    };
    const unsigned char lead = byte(0);
    if (lead >= 0xC2 && lead <= 0xDF) return continuation(1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (!continuation(1) || !continuation(2)) return 0;
        if (lead == 0xE0 && byte(1) < 0xA0) return 0;   // overlong
        if (lead == 0xED && byte(1) >= 0xA0) return 0;  // surrogate
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (!continuation(1) || !continuation(2) || !continuation(3)) return 0;
        if (lead == 0xF0 && byte(1) < 0x90) return 0;   // overlong
        if (lead == 0xF4 && byte(1) >= 0x90) return 0;  // beyond U+10FFFF
        return 4;
    }
    return 0;
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view text) {
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= kFirstNonAscii) {
            const std::size_t length = Utf8SequenceLength(text.substr(i));
            if (length == 0) {
                AppendByteEscape(out, c);
                ++i;
            } else {
                out.append(text.substr(i, length));
                i += length;
            }
            continue;
        }
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < kFirstPrintable || c == kDelete) {
                    AppendByteEscape(out, c);
                } else {
                    out += static_cast<char>(c);
                }
        }
        ++i;
    }
    out += '"';
}

namespace {

void AppendUtf8(std::string& out, unsigned codePoint) {
    if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
    } else {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    }
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
}

class Reader {
  public:
    explicit Reader(std::string_view text) : text_(text) {}

    void SkipBlanks() {
        while (pos_ < text_.size() &&
               (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\r')) {
            ++pos_;
        }
    }
    bool Take(char c) {
        SkipBlanks();
        if (pos_ >= text_.size() || text_[pos_] != c) return false;
        ++pos_;
        return true;
    }
    bool AtEnd() {
        SkipBlanks();
        return pos_ == text_.size();
    }
    char Peek() {
        SkipBlanks();
        return pos_ < text_.size() ? text_[pos_] : '\0';
    }

    bool String(std::string& out) {
        if (!Take('"')) return false;
        out.clear();
        while (pos_ < text_.size()) {
            const char c = text_[pos_++];
            if (c == '"') return true;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= text_.size()) return false;
            const char escape = text_[pos_++];
            switch (escape) {
                case '"':
                case '\\':
                case '/':
                    out += escape;
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    unsigned codePoint = 0;
                    if (pos_ + 4 > text_.size()) return false;
                    const auto [end, error] = std::from_chars(
                        text_.data() + pos_, text_.data() + pos_ + 4, codePoint, 16);
                    if (error != std::errc() || end != text_.data() + pos_ + 4) return false;
                    pos_ += 4;
                    // \u0000 to \u00ff stand for single bytes, as the writer makes them.
                    if (codePoint <= 0xFF) {
                        out += static_cast<char>(codePoint);
                    } else {
                        AppendUtf8(out, codePoint);
                    }
                    break;
                }
                default:
                    return false;
            }
        }
        return false;  // the text never ended: a torn line
    }

    bool Word(std::string& out) {
        SkipBlanks();
        const std::size_t start = pos_;
        while (pos_ < text_.size() && text_[pos_] != ',' && text_[pos_] != '}' &&
               text_[pos_] != ' ') {
            ++pos_;
        }
        out = std::string(text_.substr(start, pos_ - start));
        return !out.empty();
    }

  private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

}  // namespace

void JsonLineWriter::Name(std::string_view name) {
    if (body_.size() > 1) body_ += ',';
    AppendJsonString(body_, name);
    body_ += ':';
}

JsonLineWriter& JsonLineWriter::Text(std::string_view name, std::string_view value) {
    Name(name);
    AppendJsonString(body_, value);
    return *this;
}

JsonLineWriter& JsonLineWriter::Number(std::string_view name, long long value) {
    Name(name);
    body_ += std::to_string(value);
    return *this;
}

JsonLineWriter& JsonLineWriter::Flag(std::string_view name, bool value) {
    Name(name);
    body_ += value ? "true" : "false";
    return *this;
}

JsonLineWriter& JsonLineWriter::Null(std::string_view name) {
    Name(name);
    body_ += "null";
    return *this;
}

bool JsonLine::Parse(std::string_view line) {
    members_.clear();
    Reader reader(line);
    if (!reader.Take('{')) return false;
    if (reader.Take('}')) return reader.AtEnd();
    for (;;) {
        std::string name;
        if (!reader.String(name) || !reader.Take(':')) return false;
        Value value;
        if (reader.Peek() == '"') {
            value.kind = Kind::text;
            if (!reader.String(value.text)) return false;
        } else {
            std::string word;
            if (!reader.Word(word)) return false;
            if (word == "true" || word == "false") {
                value.kind = Kind::boolean;
            } else if (word == "null") {
                value.kind = Kind::null;
            } else {
                long long number = 0;
                const auto [end, error] =
                    std::from_chars(word.data(), word.data() + word.size(), number);
                if (error != std::errc() || end != word.data() + word.size()) return false;
                value.kind = Kind::number;
            }
            value.text = std::move(word);
        }
        members_[std::move(name)] = std::move(value);
        if (reader.Take('}')) return reader.AtEnd();
        if (!reader.Take(',')) return false;
    }
}

const std::string* JsonLine::Text(std::string_view name) const {
    const auto it = members_.find(name);
    return it != members_.end() && it->second.kind == Kind::text ? &it->second.text : nullptr;
}

std::optional<long long> JsonLine::Number(std::string_view name) const {
    const auto it = members_.find(name);
    if (it == members_.end() || it->second.kind != Kind::number) return std::nullopt;
    long long number = 0;
    std::from_chars(it->second.text.data(), it->second.text.data() + it->second.text.size(),
                    number);
    return number;
}

bool JsonLine::Flag(std::string_view name) const {
    const auto it = members_.find(name);
    return it != members_.end() && it->second.kind == Kind::boolean && it->second.text == "true";
}

}  // namespace tillvane
