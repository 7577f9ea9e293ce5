#include "registers/virtual_register.h"

#include <algorithm>

#include "config/ini_loader.h"
#include "config/numbers.h"
#include "config/text_split.h"

namespace tillvane {

namespace {

constexpr char kVatEntrySeparator = '|';
constexpr char kVatNameCodeSeparator = ':';

// Keeps at most `maxLength` characters of `text`.
void CutTo(std::string& text, std::size_t maxLength) {
    if (text.size() > maxLength) text.resize(maxLength);
}

// Sets `setting` to the key's value as a decimal integer when the key is present.
void ReadIntSetting(const INILoader& configuration, std::string_view key, int& setting) {
    std::string value;
    if (configuration.GetValue(value, key)) setting = ParseDecimalInt(value);
}

// The groups of a TVA_GROUPS value such as "A:1|B:2"; reading stops at an over-long entry.
std::vector<VatGroup> ParseVatGroups(std::string_view value) {
    std::vector<VatGroup> groups;
    std::size_t entryPosition = 0;
    std::string entry;
    while (NextField(value, entryPosition, entry, kMaxVatEntryLength, kVatEntrySeparator)) {
        if (entry.empty()) continue;
        VatGroup group;
        std::size_t fieldPosition = 0;
        NextField(entry, fieldPosition, group.name, kMaxVatFieldLength, kVatNameCodeSeparator);
        NextField(entry, fieldPosition, group.code, kMaxVatFieldLength, kVatNameCodeSeparator);
        CutTo(group.name, kMaxVatGroupNameLength);
        CutTo(group.code, kMaxVatGroupCodeLength);
        groups.push_back(std::move(group));
    }
    return groups;
}

}  // namespace

bool VirtualRegister::LoadDriverSettings(const INILoader& /*configuration*/) {
    return true;
}

bool VirtualRegister::LoadSharedSettings(const INILoader& configuration) {
    configuration.GetValue(disabledCommands, "disabledCommands");
    CutTo(disabledCommands, kMaxDisabledCommandsLength);
    UpperAscii(disabledCommands);

    ReadIntSetting(configuration, "allowPriceDecimals", allowPriceDecimals);
    maxItemNameSize = kDefaultMaxItemNameSize;
    ReadIntSetting(configuration, "maxItemNameSize", maxItemNameSize);
    ReadIntSetting(configuration, "alwaysSellEqualsPayed", alwaysSellEqualsPayed);

    std::string vatValue;
    if (configuration.GetValue(vatValue, "TVA_GROUPS")) {
        vatGroups = ParseVatGroups(vatValue);
        if (vatGroups.empty()) {
            WriteLog("TVA_GROUPS NOT DEFINED");
            return false;  // the driver stays unconfigured
        }
    }
    return LoadDriverSettings(configuration);
}

bool VirtualRegister::IsCommandDisabled(char letter) const {
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - ('a' - 'A'));
    return disabledCommands.find(letter) != std::string::npos;
}

const VatGroup* VirtualRegister::FindVatGroup(std::string_view name) const {
    const auto found = std::find_if(vatGroups.begin(), vatGroups.end(),
                                    [name](const VatGroup& group) { return group.name == name; });
    return found == vatGroups.end() ? nullptr : &*found;
}

bool VirtualRegister::TotalsAllowClose(std::string* message) const {
    constexpr int kTotalDecimals = 2;
    if (alwaysSellEqualsPayed != 1) return true;
    const std::string sold = FormatFixed(soldTotal, kTotalDecimals);
    const std::string paid = FormatFixed(paidTotal, kTotalDecimals);
    if (sold == paid) return true;
    const std::string text =
        "Valoarea serviciilor difera de valoarea achitata. " + sold + "<>" + paid;
    WriteLog(text);
    if (message != nullptr) *message = text;
    return false;
}

}  // namespace tillvane
