#pragma once
// The text-file driver: each receipt or report becomes a small file of command lines in the
// output folder, from which the fiscal printer's own file-watching software prints it.

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "registers/field_text.h"
#include "registers/text/receipt_file.h"
#include "registers/text/receipt_path.h"
#include "registers/virtual_register.h"

namespace tillvane {

// Longest outputFileName; a longer one is refused, since a cut name would be another file.
inline constexpr std::size_t kMaxOutputFileNameLength = 99;

// The text driver's own keys.
inline constexpr std::string_view kOutputFolderKey = "outputFolder";
inline constexpr std::string_view kOutputFileNameKey = "outputFileName";
inline constexpr std::array kTextDriverKeys = {kOutputFolderKey, kOutputFileNameKey};
// Most characters a receipt's lines may hold together; a line that would pass it is refused.
inline constexpr std::size_t kMaxReceiptTextLength = 99999;

class FPrintRegister : public VirtualRegister {
  public:
    // Receipt files are written through `files`.
    explicit FPrintRegister(platform::FileSystem& files = platform::SystemFileSystem());
    // A receipt still open when the driver goes is abandoned: its temporary file is removed.
    ~FPrintRegister() override;
    FPrintRegister(const FPrintRegister&) = delete;
    FPrintRegister& operator=(const FPrintRegister&) = delete;

    bool CommandH() override;
    bool CommandF() override;
    bool BeginSell() override;
    bool CloseReceipt(std::string* message) override;
    bool ResetAfterSell() override;
    bool PrintText(std::string_view piece1, std::string_view piece2, std::string_view piece3,
                   std::string_view piece4, std::string_view piece5) override;
    bool Payment(int paymentType, double amount) override;
    bool CommandN() override;
    bool Discount(float percent) override;
    bool CashInOut(double amount) override;
    bool ReceiptDuplicate() override;
    bool DailyReportsZ() override;
    bool DailyReportsX() override;
    bool SellItem(std::string& name, double price, double quantity, std::string_view vatGroup,
                  char itemGroup, int number) override;
    // Reads outputFolder and outputFileName; refuses paths too long to hold. Removes the
    // temporary files that a service stopped mid-receipt (a crash, a power cut) left in the
    // folder: none of them was ever answered "OK|".
    bool LoadDriverSettings(const INILoader& configuration) override;
    // Closes and removes the open receipt's temporary file; nothing of the receipt is
    // published.
    void AbandonReceipt(std::string_view why) override;
    // The output folder, and why the last receipt could not be written there.
    std::optional<ReceiptFolderHealth> ReceiptOutput() const override;

    const std::string& outputFolder() const { return outputFolder_; }
    const std::string& outputFileName() const { return outputFileName_; }
    // Path of the receipt file: where the open receipt is meant to go, or where the last
    // closed one went (a taken time-stamped name gets its suffix when the receipt closes).
    const std::string& receiptPath() const { return receiptPath_; }
    // The lines collected for the open receipt.
    const std::string& receiptText() const { return receiptText_; }

  protected:
    // The local time that names receipt files; tests put a fixed time here.
    virtual platform::LocalTime CurrentTime() const { return platform::NowLocal(); }

  private:
    // Creates the open receipt's temporary file, or says why none could be made.
    platform::Error CreateTemporaryFile();
    // The receipt's name without suffix: outputFileName, or the time stamp of now.
    std::string NewReceiptName() const;
    // A command line without data fields ("H,1,______,_,__;\n" and the like).
    static std::string DatalessLine(char letter);
    // The record letter, the fixed text and the data fields, each closed by ";".
    static std::string RecordPrefix(char letter);
    // Appends `line` to the open receipt. False outside a receipt, and for a line that does
    // not fit, which is refused whole and logged; such a receipt can no longer close.
    bool AppendLine(std::string_view line);
    // A receipt that cannot be written to the folder: the register log, the till's reply and
    // the status all say where and why. Returns false, the operation's result.
    bool RefuseUnwritableFolder(std::string_view operation, const platform::Error& why);
    // Removes the open receipt's temporary file, logging a failure to do so.
    void RemoveTemporaryFile();
    // Removes, with a register log entry each, temporary files left in the output folder.
    void RemoveLeftoverTemporaryFiles();
    // Makes a file of its own holding the one line of a report.
    bool OneLineReport(char letter, std::string_view disabledMessage);

    platform::FileSystem& files_;
    ReceiptFile receiptFile_;
    std::string receiptName_;  // name of the open receipt, before any suffix
    std::string receiptPath_;
    std::string outputFolder_;
    std::string outputFileName_;
    std::string receiptText_;
    bool receiptFull_ = false;   // a line of the open receipt was refused for lack of room
    std::string folderProblem_;  // why the last receipt could not be written; empty once one was
};

}  // namespace tillvane
