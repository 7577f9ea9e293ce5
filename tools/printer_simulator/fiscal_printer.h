#pragma once
// The simulated fiscal printer's own working: what each command does to the receipt, what
// it would print, and which commands it refuses out of order.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace tillvane::simulator {

// The simulator's own error codes (the reply's four-digit error field).
inline constexpr int kUnknownCommand = 1001;
inline constexpr int kBadData = 1002;
inline constexpr int kNoReceiptOpen = 2001;
inline constexpr int kNoItemSold = 2003;
inline constexpr int kNotPaidInFull = 2004;
inline constexpr int kReceiptOpenForReport = 2005;
inline constexpr int kUnknownItem = 2006;
inline constexpr int kReceiptAlreadyOpen = 2007;

// The status bytes every reply carries after its 0x04, as printers send them: each has its
// top bit set (so none is a framing byte), and the flags below in the rest.
inline constexpr std::size_t kStatusByteCount = 6;
inline constexpr std::uint8_t kStatusByteBase = 0x80;
inline constexpr std::size_t kReceiptOpenStatusByte = 2;
inline constexpr std::uint8_t kReceiptOpenFlag = 0x08;

struct PrinterAnswer {
    bool reply = true;  // false: the command is not answered at all
    int errorCode = 0;
    std::string data;         // the reply's data
    std::string journalLine;  // what the printer would have printed or done
};

class FiscalPrinter {
  public:
    PrinterAnswer Handle(std::uint8_t command, std::string_view data);
    // What the printer's status bytes say now.
    std::string StatusBytes() const;
    // The cashier ends the open receipt at the printer's keys: it is cancelled, nothing of it
    // counts. The journal line, or empty when no receipt was open.
    std::string CancelAtKeys();

  private:
    struct Item {
        std::string name;
        std::string vatGroup;
    };

    PrinterAnswer OpenReceipt();
    PrinterAnswer ProgramItem(std::string_view data);
    PrinterAnswer SellItem(std::string_view data);
    PrinterAnswer PrintText(std::string_view data);
    PrinterAnswer DisplayTotal();
    PrinterAnswer Payment(std::string_view data);
    PrinterAnswer CloseReceipt();
    PrinterAnswer DailyReport(std::string_view data);

    std::map<std::string, Item, std::less<>> items_;  // by item code
    bool receiptOpen_ = false;
    int itemsSold_ = 0;
    int paymentsMade_ = 0;
    long long soldCents_ = 0;
    long long paidCents_ = 0;
    int receiptsToday_ = 0;
    long long dayTotalCents_ = 0;
};

}  // namespace tillvane::simulator
