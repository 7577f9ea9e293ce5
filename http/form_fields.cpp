#include "http/form_fields.h"

namespace tillvane {

void FormFields::Add(std::string name, std::string value) {
    fields_.emplace_back(std::move(name), std::move(value));
}

std::string FormFields::Value(std::string_view name) const {
    for (const auto& [fieldName, value] : fields_) {
        if (fieldName == name) return value;
    }
    return {};
}

bool FormFields::Has(std::string_view name) const {
    for (const auto& field : fields_) {
        if (field.first == name) return true;
    }
    return false;
}

}  // namespace tillvane
