#pragma once
// Named text fields of a request: the query string's parameters or a form's fields.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tillvane {

class FormFields {
  public:
    void Add(std::string name, std::string value);
    // Value of the first field called `name` (exact, with case); empty when there is none.
    std::string Value(std::string_view name) const;
    // True when a field called `name` came, even with an empty value.
    bool Has(std::string_view name) const;
    std::size_t size() const { return fields_.size(); }

  private:
    std::vector<std::pair<std::string, std::string>> fields_;
};

}  // namespace tillvane
