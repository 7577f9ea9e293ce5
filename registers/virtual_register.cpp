#include "registers/virtual_register.h"

#include <algorithm>

#include "base/numbers.h"
#include "base/result.h"
#include "base/text_split.h"
#include "config/ini_loader.h"
#include "registers/field_text.h"

namespace tillvane {

namespace {

constexpr char kVatEntrySeparator = '|';
constexpr char kVatNameCodeSeparator = ':';
// "A=1" or "A:1,B:2" written for "A:1|B:2": the name or code would hold another entry.
constexpr std::string_view kMisplacedSeparators = "=,";

// Sets `setting` to the key's value as a decimal integer when the key is present.
void ReadIntSetting(const INILoader& configuration, std::string_view key, int& setting) {
    std::string value;
    if (configuration.GetValue(value, key)) setting = ParseDecimalInt(value);
}

// The name or the code of a VAT entry; a missing one is empty. Refused when the field is longer
// than its bound: cut or left empty, it would name another group.
Result<std::string> ReadVatField(std::string_view entry, std::size_t& position,
                                 std::size_t maxLength) {
    std::string field;
    const bool read = NextField(entry, position, field, kMaxVatFieldLength, kVatNameCodeSeparator);
    // Without a field read, one is missing only at the end of the entry.
    if (read ? field.size() <= maxLength : position >= entry.size()) return field;
    return platform::Error::Message("longer than " + std::to_string(maxLength) + " characters")
        .As(platform::ErrorKind::valueRefused);
}

// A name or code that holds a ";" or a control byte (a typo such as "A:1;B:2") would put a
// field too many into every sale of its group; such an entry is refused, and logged.
bool RefuseBrokenVatEntry(const VatGroup& group, const std::string& entry, const RegisterLog& log) {
    if (!HoldsDeviceFieldEnd(group.name) && !HoldsDeviceFieldEnd(group.code)) return false;
    // The log shows the entry with its control bytes as blanks, so that the log stays readable.
    std::string shown(entry);
    std::replace_if(shown.begin(), shown.end(), IsControlByte, ' ');
    log.Write("TVA_GROUPS entry [" + shown +
              "] refused: a name or code may not hold \";\" or a control character");
    return true;
}

// An entry without a name or a code would sell with an empty VAT code; one that holds another
// entry's separator would sell under a code such as "1,B". Either is refused, and logged.
bool RefuseIncompleteVatEntry(const VatGroup& group, const std::string& entry,
                              const RegisterLog& log) {
    if (group.name.empty() || group.code.empty()) {
        log.Write("TVA_GROUPS entry [" + entry +
                  "] refused: it needs a name and a code, as in A:1");
        return true;
    }
    const auto misplaced = [](const std::string& field) {
        return field.find_first_of(kMisplacedSeparators) != std::string::npos;
    };
    if (!misplaced(group.name) && !misplaced(group.code)) return false;
    log.Write("TVA_GROUPS entry [" + entry +
              "] refused: a name or code may not hold \"=\" or \",\"; entries are separated by "
              "\"|\"");
    return true;
}

// The groups of a TVA_GROUPS value such as "A:1|B:2"; reading stops at an over-long entry.
// An entry whose name or code does not fit, or holds a byte that would end a device field, is
// refused, and logged, while the others stand.
std::vector<VatGroup> ParseVatGroups(std::string_view value, const RegisterLog& log) {
    std::vector<VatGroup> groups;
    std::size_t entryPosition = 0;
    std::string entry;
    while (NextField(value, entryPosition, entry, kMaxVatEntryLength, kVatEntrySeparator)) {
        if (entry.empty()) continue;
        std::size_t fieldPosition = 0;
        Result<std::string> name = ReadVatField(entry, fieldPosition, kMaxVatGroupNameLength);
        Result<std::string> code =
            name ? ReadVatField(entry, fieldPosition, kMaxVatGroupCodeLength) : name;
        if (!name || !code) {
            log.Write("TVA_GROUPS entry [" + entry + "] refused: a name holds at most " +
                      std::to_string(kMaxVatGroupNameLength) + " characters, a code at most " +
                      std::to_string(kMaxVatGroupCodeLength));
            continue;
        }
        VatGroup group{std::move(*name), std::move(*code)};
        if (RefuseBrokenVatEntry(group, entry, log) ||
            RefuseIncompleteVatEntry(group, entry, log)) {
            continue;
        }
        groups.push_back(std::move(group));
    }
    return groups;
}

}  // namespace

bool VirtualRegister::LoadDriverSettings(const INILoader& /*configuration*/) {
    return true;
}

bool VirtualRegister::LoadSharedSettings(const INILoader& configuration) {
    configuration.GetValue(disabledCommands, kDisabledCommandsKey);
    if (disabledCommands.size() > kMaxDisabledCommandsLength) {
        // Cut, it would switch on what the shop switched off; the driver stays unconfigured.
        WriteLog("disabledCommands longer than " + std::to_string(kMaxDisabledCommandsLength) +
                 " characters refused: " + disabledCommands);
        disabledCommands.clear();
        return false;
    }
    UpperAscii(disabledCommands);

    ReadIntSetting(configuration, kAllowPriceDecimalsKey, allowPriceDecimals);
    maxItemNameSize = kDefaultMaxItemNameSize;
    ReadIntSetting(configuration, kMaxItemNameSizeKey, maxItemNameSize);
    ReadIntSetting(configuration, kAlwaysSellEqualsPayedKey, alwaysSellEqualsPayed);

    std::string vatValue;
    if (configuration.GetValue(vatValue, kVatGroupsKey)) {
        vatGroups = ParseVatGroups(vatValue, log);
        if (vatGroups.empty()) {
            WriteLog("TVA_GROUPS NOT DEFINED");
            return false;  // the driver stays unconfigured
        }
    }
    return LoadDriverSettings(configuration);
}

bool VirtualRegister::Refuse(std::string_view reason) {
    WriteLog(reason);
    failureReason = reason;
    return false;
}

bool VirtualRegister::IsCommandDisabled(char letter) const {
    return disabledCommands.find(UpperAsciiLetter(letter)) != std::string::npos;
}

bool VirtualRegister::SkipDisabledPayment(double amount) {
    WriteLog("ERROR: T command disabled (unsupported payment modes)");
    if (state == ReceiptState::selling) paidTotal += amount;
    return true;
}

const VatGroup* VirtualRegister::FindVatGroup(std::string_view name) const {
    const auto found = std::find_if(vatGroups.begin(), vatGroups.end(),
                                    [name](const VatGroup& group) { return group.name == name; });
    return found == vatGroups.end() ? nullptr : &*found;
}

void VirtualRegister::AbandonReceipt(std::string_view why) {
    if (state != ReceiptState::selling) return;
    WriteLog("Receipt abandoned: " + std::string(why));
    state = ReceiptState::ready;
}

platform::Error VirtualRegister::TotalsRefusal() const {
    constexpr int kTotalDecimals = 2;
    if (alwaysSellEqualsPayed != 1) return {};
    const std::string sold = FormatFixed(soldTotal, kTotalDecimals);
    const std::string paid = FormatFixed(paidTotal, kTotalDecimals);
    if (sold == paid) return {};
    std::string text = "Valoarea serviciilor difera de valoarea achitata. " + sold + "<>" + paid;
    WriteLog(text);
    return platform::Error::Message(std::move(text));
}

platform::Error VirtualRegister::CheckTotalsForClose() {
    platform::Error refusal = TotalsRefusal();
    if (!refusal.ok()) AbandonReceipt(refusal.text());
    return refusal;
}

}  // namespace tillvane
