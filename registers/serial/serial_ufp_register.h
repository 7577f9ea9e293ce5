#pragma once
// The serial fiscal-printer driver: every register operation becomes zero, one or two printer
// commands sent over the link. The receipt is built on the printer; the driver keeps only the
// receipt state, the running totals and two flags, and reads nothing from a reply but its
// error code. The first command of a receipt that does not end with 0 ends the receipt there:
// nothing more of it is sent, so a till that sells it again gets it printed once.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/serial_port.h"
#include "registers/serial/port_finder.h"
#include "registers/serial/port_serial.h"
#include "registers/serial/serial_link.h"
#include "registers/serial/unfinished_receipt_file.h"
#include "registers/virtual_register.h"

namespace tillvane {

inline constexpr std::string_view kSerialAccessCode = "482917";
inline constexpr std::string_view kDefaultPortName = "COM1";
inline constexpr int kDefaultBaudRate = 9600;

// The serial driver's own keys.
inline constexpr std::string_view kBaudRateKey = "baudRate";
inline constexpr std::string_view kPortKey = "Port";
inline constexpr std::string_view kPortCandidatesKey = "portCandidates";
inline constexpr std::array kSerialDriverKeys = {kBaudRateKey, kPortKey, kPortCandidatesKey};
inline constexpr std::chrono::milliseconds kPauseAfterHandshake{200};
// The handshake before the first receipt starts from this sequence number.
inline constexpr int kHandshakeSequence = 0x27;

// The 11-digit code under which a sale programs its item: day of the month, hour, minute,
// second and milliseconds of `time`.
std::string MakeItemCode(const platform::LocalTime& time);

// A printer command that ended with a code other than 0, in words (the status page shows it):
// "Printer error 9999 (no reply) on CloseReceipt".
std::string PrinterErrorOnCommand(int code, std::string_view command);
// What the till is told when a printer command ended with a code other than 0:
// "Printer error 9999 (no reply) on CloseReceipt; see register log".
std::string PrinterErrorText(int code, std::string_view command);
// What the till is told while the printer holds `receipt`: what the service knows of it and
// what ends it.
std::string UnfinishedReceiptText(const UnfinishedReceipt& receipt);

class SerialUFPRegister : public VirtualRegister {
  public:
    // Exchanges go over the COM port that LoadDriverSettings opens.
    SerialUFPRegister();
    // Exchanges go over `channel`, which must outlive the driver, and wait through `pause`;
    // LoadDriverSettings still opens the port, but the link does not use it.
    SerialUFPRegister(ByteChannel& channel, Pause pause);

    bool CommandH() override { return true; }
    bool CommandF() override { return true; }
    bool BeginSell() override;
    bool CloseReceipt(std::string* message) override;
    // Refused while the printer holds an unfinished receipt: nothing is ready to print.
    bool ResetAfterSell() override;
    bool PrintText(std::string_view piece1, std::string_view piece2, std::string_view piece3,
                   std::string_view piece4, std::string_view piece5) override;
    bool Payment(int paymentType, double amount) override;
    bool CommandN() override { return true; }
    // The printer's command set has no discount, cash in or out, or duplicate: each is
    // refused rather than answered as done.
    bool Discount(float /*percent*/) override { return NotSupported("Discount"); }
    bool CashInOut(double /*amount*/) override { return NotSupported("CashInOut"); }
    bool ReceiptDuplicate() override { return NotSupported("ReceiptDuplicate"); }
    bool DailyReportsZ() override;
    bool DailyReportsX() override;
    // Shortens `name` in place when the item command would not fit into one frame.
    bool SellItem(std::string& name, double price, double quantity, std::string_view vatGroup,
                  char itemGroup, int number) override;
    // Reads baudRate, Port and portCandidates and opens the port (Port=auto: finds it). The
    // driver becomes ready unless the line settings are refused: a port that is missing now
    // is opened when a request needs it.
    bool LoadDriverSettings(const INILoader& configuration) override;
    // Opens a port that is closed or was lost again, with the same settings, and makes the
    // next receipt repeat the printer handshake: the printer may have been switched off.
    bool ConnectPrinter() override;
    // An abandoned receipt whose open the printer confirmed stays open there: the driver
    // remembers it (health.unfinishedReceipt and a file beside the register log) until the
    // printer accepts a new receipt's open or a report.
    void AbandonReceipt(std::string_view why) override;

    PortHealth Port() const override;
    void SetCancelToken(platform::CancelToken* token) override { port.SetCancelToken(token); }

    int sequenceNumber() const { return link_.sequenceNumber(); }

    PortSerial port;
    int baudRate = kDefaultBaudRate;
    int byteSize = 8;
    int parity = 0;                             // none
    int stopBits = 0;                           // one stop bit
    platform::SerialLineSettings lineSettings;  // filled when the port opens
    std::string portName;
    std::string replyData;
    int lastError = 0;
    const std::string accessCode{kSerialAccessCode};
    bool totalDisplayed = false;
    bool handshakeDone = false;
    // Port=auto: the printer is looked for among these names and patterns.
    bool findPort = false;
    std::vector<std::string> portCandidates;

  private:
    enum class LogCode { yes, no };

    // Exchanges `command` with `data`; when lastError is then not 0, logs
    // "<name>:lastError=<code>" (unless `logCode` says no). True when the command ended with 0.
    bool Send(std::uint8_t command, std::string_view data, std::string_view name,
              LogCode logCode = LogCode::yes);
    // Sends a command of the sale under way. When it does not end with 0, failureReason names
    // the printer's code and the command, and an open receipt is abandoned there: nothing more
    // of it is sent. An item sold outside a receipt answers only for itself.
    bool SendSaleCommand(std::uint8_t command, std::string_view data, std::string_view name,
                         LogCode logCode = LogCode::yes);
    // Refuses `operation`: "<operation>: not supported by this printer" goes to the register
    // log, "not supported by this printer" to the till. Returns false.
    bool NotSupported(std::string_view operation);
    // The printer queries made once, before the first receipt.
    void Handshake();
    bool DailyReport(std::string_view data, std::string_view logName);
    // The printer accepted a command that it refuses while a receipt is open: none is.
    void UnfinishedReceiptEnded(std::string_view how);
    // Keeps `receipt` for the next start; a failure goes to the register log.
    void SaveUnfinished(const UnfinishedReceipt& receipt);
    // Adds what clears the unfinished receipt, if there is one, to failureReason.
    void NameUnfinishedReceipt();
    // Opens the configured port, or finds the printer's, and makes the next receipt begin
    // with the handshake. A failure is the port's own (see PortSerial::Open), or names the
    // candidates that did not answer; the register log and the till each word it their way.
    platform::Error OpenPort();

    bool settingsLoaded_ = false;  // the line settings were taken: the port may be opened
    // The receipt being built: when its open went out, and whether the printer confirmed it.
    std::chrono::system_clock::time_point receiptOpenedAt_;
    bool openConfirmed_ = false;
    UnfinishedReceiptFile unfinishedFile_;
    ProbeBackoff probeBackoff_;  // Port=auto: candidates that did not answer

    SerialLink link_;
};

}  // namespace tillvane
