#pragma once
// The register interface: every receipt command ends as a call of one of these operations on
// the active driver. It also holds what every driver shares: the receipt state, the shared
// settings, the VAT groups, the running totals and the register log.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "registers/printer_health.h"
#include "registers/register_log.h"

namespace tillvane {

class INILoader;
namespace platform {
class CancelToken;
}

// Field sizes of the shared settings. A longer configured value is refused, never cut: a cut
// VAT group name or code would be another group, a cut disabledCommands other settings.
inline constexpr std::size_t kMaxDisabledCommandsLength = 99;
inline constexpr std::size_t kMaxVatGroupNameLength = 9;
inline constexpr std::size_t kMaxVatGroupCodeLength = 5;
// NextField bounds used to read TVA_GROUPS: entries at "|", name and code at ":".
inline constexpr std::size_t kMaxVatEntryLength = 200;
inline constexpr std::size_t kMaxVatFieldLength = 100;

inline constexpr int kDefaultMaxItemNameSize = 80;

// The keys every driver reads.
inline constexpr std::string_view kDisabledCommandsKey = "disabledCommands";
inline constexpr std::string_view kAllowPriceDecimalsKey = "allowPriceDecimals";
inline constexpr std::string_view kMaxItemNameSizeKey = "maxItemNameSize";
inline constexpr std::string_view kAlwaysSellEqualsPayedKey = "alwaysSellEqualsPayed";
inline constexpr std::string_view kVatGroupsKey = "TVA_GROUPS";
inline constexpr std::array kSharedDriverKeys = {kDisabledCommandsKey, kAllowPriceDecimalsKey,
                                                 kMaxItemNameSizeKey, kAlwaysSellEqualsPayedKey,
                                                 kVatGroupsKey};

// Why a driver refuses a receipt operation outside a receipt; the interpreter tells the
// till the same.
inline constexpr std::string_view kNoReceiptOpenReason = "no receipt open";

enum class ReceiptState : int {
    unconfigured = 0,  // the driver exists, but its settings have not loaded
    ready = 1,         // no receipt is open
    selling = 2,       // a receipt is open
    afterSell = 3,     // the last receipt was closed; a new one may begin
};

struct VatGroup {
    std::string name;  // matched against SellItem's vatGroup, case-sensitive
    std::string code;  // what the driver writes to the device for this group
};

class VirtualRegister {
  public:
    virtual ~VirtualRegister() = default;

    virtual bool CommandH() = 0;
    virtual bool CommandF() = 0;
    virtual bool BeginSell() = 0;
    // `message` is the caller's reply text, or null; a refusal of unequal totals goes there.
    virtual bool CloseReceipt(std::string* message) = 0;
    virtual bool ResetAfterSell() = 0;
    // Up to five pieces of one text line of at most kMaxPrintTextPieceLength characters each;
    // an empty view stands for an absent piece.
    virtual bool PrintText(std::string_view piece1, std::string_view piece2,
                           std::string_view piece3, std::string_view piece4,
                           std::string_view piece5) = 0;
    virtual bool Payment(int paymentType, double amount) = 0;
    virtual bool CommandN() = 0;
    virtual bool Discount(float percent) = 0;
    virtual bool CashInOut(double amount) = 0;
    virtual bool ReceiptDuplicate() = 0;
    virtual bool DailyReportsZ() = 0;
    virtual bool DailyReportsX() = 0;
    // The driver may shorten `name` in place.
    virtual bool SellItem(std::string& name, double price, double quantity,
                          std::string_view vatGroup, char itemGroup, int number) = 0;
    // Reads the driver's own keys; a driver whose settings load becomes ready.
    virtual bool LoadDriverSettings(const INILoader& configuration);
    // Drops the open receipt, if there is one: nothing more of it reaches the printer, the
    // register log says "Receipt abandoned: <why>" and the driver is ready for the next one.
    // Nothing happens when no receipt is open.
    virtual void AbandonReceipt(std::string_view why);

    // The port the driver talks through, and whether it is open; a driver without one names
    // none.
    virtual PortHealth Port() const { return {}; }
    // The folder the driver leaves receipt files in; none for a driver that talks to the
    // printer itself.
    virtual std::optional<ReceiptFolderHealth> ReceiptOutput() const { return std::nullopt; }
    // Called before a request's first command: a driver whose printer line was lost opens it
    // again. False when it cannot; failureReason then says why and the request fails with it.
    virtual bool ConnectPrinter() { return true; }
    // Once `token` is cancelled, the driver's transfers to the printer fail at once, so that
    // a stop does not wait for a slow printer. Null cancels nothing; the token must outlive
    // its use here. A driver without a printer line has nothing to cut short.
    virtual void SetCancelToken(platform::CancelToken* /*token*/) {}

    // Reads the shared keys (disabledCommands, allowPriceDecimals, maxItemNameSize,
    // alwaysSellEqualsPayed, TVA_GROUPS), then calls LoadDriverSettings.
    bool LoadSharedSettings(const INILoader& configuration);

    void WriteLog(std::string_view message) const { log.Write(message); }
    // Refuses the operation under way: logs `reason` and keeps it as failureReason, so that
    // the till reads what the register log says. Returns false, the operation's result.
    bool Refuse(std::string_view reason);
    // True when the upper-case `letter` occurs anywhere in disabledCommands.
    bool IsCommandDisabled(char letter) const;
    // A payment while the shop's printer takes no payment lines (T in disabledCommands): the
    // register log says so and nothing reaches the printer, yet the receipt goes on, as a
    // printed text does with P disabled. Inside a receipt the amount still counts as paid,
    // so that the equal-totals rule holds the receipt against what the till said it took.
    // Returns true.
    bool SkipDisabledPayment(double amount);
    // The first VAT group whose name equals `name` byte for byte, or null.
    const VatGroup* FindVatGroup(std::string_view name) const;
    // The equal-totals rule: when alwaysSellEqualsPayed is 1 and soldTotal and paidTotal
    // differ as "%0.2f" texts, logs "Valoarea serviciilor difera de valoarea achitata. %s<>%s"
    // and refuses with that text; no failure when the receipt may close.
    platform::Error TotalsRefusal() const;
    // Refuses the close of a receipt whose totals differ, with the text of TotalsRefusal,
    // and abandons the receipt. No failure when the receipt may close.
    platform::Error CheckTotalsForClose();

    RegisterLog log;
    ReceiptState state = ReceiptState::unconfigured;
    std::string disabledCommands;  // held upper-cased
    int allowPriceDecimals = 1;
    int maxItemNameSize = kDefaultMaxItemNameSize;
    int alwaysSellEqualsPayed = 0;
    double soldTotal = 0.0;
    double paidTotal = 0.0;
    std::vector<VatGroup> vatGroups;
    // Printer errors and closed receipts since the driver was created.
    PrinterHealth health;

    // Why the last operation that failed did so, in words a person at the till can act on
    // ("Receipt text full", "Printer error 9999 (no reply) on DailyReportsZ; see register
    // log"). Empty when the register log alone tells.
    const std::string& RefusalReason() const { return failureReason; }
    // Called before an operation, so that a reason never outlives the failure it explains.
    void ForgetRefusal() { failureReason.clear(); }
    // The printer confirmed the close of a receipt.
    void CountClosedReceipt() { ++health.receiptsClosed; }

  protected:
    std::string failureReason;
};

}  // namespace tillvane
