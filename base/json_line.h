#pragma once
// One record of the request journal: a flat JSON object on one line, readable with ordinary
// tools (grep, jq). Texts are byte strings: valid UTF-8 is written as it is, any other byte
// as \u00XX, so that every text reads back byte for byte.

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tillvane {

// Appends `text` as a JSON string literal, quotes included, as the journal writes texts.
void AppendJsonString(std::string& out, std::string_view text);

class JsonLineWriter {
  public:
    JsonLineWriter& Text(std::string_view name, std::string_view value);
    JsonLineWriter& Number(std::string_view name, long long value);
    JsonLineWriter& Flag(std::string_view name, bool value);
    JsonLineWriter& Null(std::string_view name);
    // The object and its line break.
    std::string Line() const { return body_ + "}\n"; }

  private:
    void Name(std::string_view name);
    std::string body_ = "{";
};

// The members of one flat object; values that are objects or arrays are not read.
class JsonLine {
  public:
    // False for anything that is not one whole flat object (a torn line, say).
    bool Parse(std::string_view line);

    const std::string* Text(std::string_view name) const;
    std::optional<long long> Number(std::string_view name) const;
    bool Flag(std::string_view name) const;  // false when absent or not true

  private:
    enum class Kind { text, number, boolean, null };
    struct Value {
        Kind kind = Kind::null;
        std::string text;  // the text, the number's digits, "true" or "false"
    };
    std::map<std::string, Value, std::less<>> members_;
};

}  // namespace tillvane
