#include "registers/text/fprint_register.h"

#include <gtest/gtest.h>

#ifdef __linux__
#include <sys/resource.h>
#endif

#include <cerrno>
#include <csignal>
#include <functional>
#include <regex>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "platform/clock.h"
#include "tests/registers/register_test_support.h"

namespace tillvane {
namespace {

using testing::FileNames;
using testing::LogMessages;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

constexpr const char* kNotReady = "BeginSell: Status not ready or afterSell";

class TextDriverTest : public ::testing::Test {
  protected:
    // A driver writing into the folder "out", with the groups A:1 and B:2 and `settings`.
    FPrintRegister& Configure(const std::string& settings = "") {
        std::filesystem::create_directory(out_);
        driver_ = testing::MakeTextDriver(
            dir_, "TVA_GROUPS=A:1|B:2\r\noutputFolder=" + out_.string() + "\r\n" + settings);
        return *driver_;
    }
    std::vector<std::string> Log() const { return LogMessages(dir_.File("register.log")); }
    // Content of the one receipt file in "out".
    std::string OnlyReceipt() const {
        const auto names = FileNames(out_);
        EXPECT_EQ(names.size(), 1u);
        return names.empty() ? "" : ReadFile(out_ / names.front());
    }
    bool Sell(std::string name, double price = 1.0, double quantity = 1.0) {
        return driver_->SellItem(name, price, quantity, "A", '1', 1);
    }

    TempDir dir_;
    std::filesystem::path out_ = dir_.path() / "out";
    std::unique_ptr<FPrintRegister> driver_;
};

TEST_F(TextDriverTest, WholeReceiptIsWrittenAtCloseInOneFile) {
    FPrintRegister& driver = Configure();
    ASSERT_TRUE(driver.BeginSell());
    EXPECT_TRUE(driver.CommandH());
    std::string name = "Apa";
    EXPECT_TRUE(driver.SellItem(name, 2.5, 2, "A", '1', 1));
    EXPECT_TRUE(driver.PrintText("a;b",
                                 "c\r\n\x02"
                                 "d\x1a",
                                 "0123456789ABCDEFGH", "", ""));
    EXPECT_TRUE(driver.Payment(0, 5.0));
    EXPECT_TRUE(driver.CommandN());
    EXPECT_TRUE(driver.Discount(10.0f));
    EXPECT_TRUE(driver.CashInOut(-3.0));
    EXPECT_TRUE(driver.CommandF());
    // Until the close the receipt is only an empty temporary file the printer ignores.
    const auto open = FileNames(out_);
    ASSERT_EQ(open.size(), 1u);
    EXPECT_TRUE(IsTemporaryReceiptName(open[0])) << open[0];
    EXPECT_EQ(ReadFile(out_ / open[0]), "");
    EXPECT_NEAR(driver.soldTotal, 4.5, 1e-6);
    EXPECT_DOUBLE_EQ(driver.paidTotal, 5.0);
    std::string message = "untouched";
    EXPECT_TRUE(driver.CloseReceipt(&message));
    EXPECT_EQ(message, "untouched");
    EXPECT_EQ(driver.state, ReceiptState::afterSell);

    const auto names = FileNames(out_);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_TRUE(std::regex_match(names[0], std::regex(R"(BON_\d{8}_\d{6}_\d{3}\.txt)")));
    EXPECT_EQ(OnlyReceipt(),
              "H,1,______,_,__;\n"
              "S,1,______,_,__;Apa;2.50;2.000;1;1;1;0;0;\n"
              "P,1,______,_,__;a b;c   d ;0123456789ABCDE;;;\n"
              "T,1,______,_,__;0;5.00;;;;\n"
              "N,1,______,_,__;\n"
              "C,1,______,_,__;1;10.00;;;;\n"
              "I,1,______,_,__;0;3.00;;;;\n"
              "F,1,______,_,__;\n");
    EXPECT_TRUE(Log().empty());
}

TEST_F(TextDriverTest, SellLineFields) {
    const struct {
        std::string settings;
        std::string name;
        double price;
        double quantity;
        std::string expectedName;
        std::string expectedNumbers;  // price text and quantity
    } cases[] = {
        {"", "Apa", 12.5, 1, "Apa", "12.50;1.000"},
        {"allowPriceDecimals=0", "Apa", 12.5, 0.5, "Apa", "1250;0.500"},
        {"", "Minus", -3, 2, "Minus", "-3.00;2.000"},
        {"maxItemNameSize=5", "Chocolate", 1, 1, "Choco", "1.00;1.000"},
        {"maxItemNameSize=0", "Chocolate", 1, 1, "", "1.00;1.000"},
        {"maxItemNameSize=-1", std::string(300, 'n'), 1, 1, std::string(300, 'n'), "1.00;1.000"},
        {"", std::string(81, 'n'), 1, 1, std::string(80, 'n'), "1.00;1.000"},
        // A ";" would end the name field and move the price, a control byte such as 0x1A ends
        // the file for some readers; bytes of a code page are written as given.
        {"", "a;b\x01\x1a\x7f\t\x80\xff", 1, 1, "a b    \x80\xff", "1.00;1.000"},
        {"", "Apa;0.01;1.000;1;1;1;0;0;", 1, 1, "Apa 0.01 1.000 1 1 1 0 0 ", "1.00;1.000"},
        // A line break would start a command line of the caller's making.
        {"", "x\nT,1,______,_,__;0;999.00;;;;\r", 1, 1, "x T,1,______,_,__ 0 999.00     ",
         "1.00;1.000"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        std::filesystem::create_directory(dir.path() / "o");
        auto driver = testing::MakeTextDriver(
            dir, "TVA_GROUPS=A:1|B:2\r\noutputFolder=" + (dir.path() / "o").string() + "\r\n" +
                     c.settings);
        ASSERT_TRUE(driver->BeginSell());
        std::string name = c.name;
        ASSERT_TRUE(driver->SellItem(name, c.price, c.quantity, "B", 'g', 7));
        EXPECT_EQ(name, c.expectedName);  // cut in the caller's text
        EXPECT_EQ(driver->receiptText(),
                  "S,1,______,_,__;" + c.expectedName + ";" + c.expectedNumbers + ";7;g;2;0;0;\n")
            << c.settings;
    }
}

TEST_F(TextDriverTest, DisabledLetters) {
    const struct {
        std::string letters;
        std::function<bool(FPrintRegister&)> operation;
        bool result;
        std::string logged;  // empty: nothing logged
        double paid = 0.0;
    } cases[] = {
        {"HT", [](FPrintRegister& d) { return d.CommandF(); }, true, ""},
        {"f", [](FPrintRegister& d) { return d.CommandH(); }, true, ""},
        {"P", [](FPrintRegister& d) { return d.PrintText("x", "", "", "", ""); }, true, ""},
        {"N", [](FPrintRegister& d) { return d.CommandN(); }, true, ""},
        // The shop's printer takes no payment lines: the receipt goes on without one, and the
        // amount still counts for the equal-totals rule.
        {"HT", [](FPrintRegister& d) { return d.Payment(1, 2.0); }, true,
         "ERROR: T command disabled (unsupported payment modes)", 2.0},
        {"C", [](FPrintRegister& d) { return d.Discount(5.0f); }, false,
         "ERROR: C command disabled (unsupported discounts)"},
        {"I", [](FPrintRegister& d) { return d.CashInOut(1.0); }, false,
         "ERROR: I command disabled (unsupported in/out cash)"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        auto driver =
            testing::MakeTextDriver(dir, "TVA_GROUPS=A:1\r\noutputFolder=" + dir.path().string() +
                                             "\r\ndisabledCommands=" + c.letters);
        ASSERT_TRUE(driver->BeginSell());
        std::string name = "Apa";
        ASSERT_TRUE(driver->SellItem(name, 10.0, 1.0, "A", '1', 1));
        const std::string before = driver->receiptText();
        EXPECT_EQ(c.operation(*driver), c.result) << c.letters;
        EXPECT_EQ(driver->receiptText(), before) << c.letters;
        EXPECT_DOUBLE_EQ(driver->soldTotal, 10.0);
        EXPECT_DOUBLE_EQ(driver->paidTotal, c.paid);
        EXPECT_EQ(LogMessages(dir.File("register.log")), c.logged.empty()
                                                             ? std::vector<std::string>{}
                                                             : std::vector<std::string>{c.logged});
    }
}

TEST_F(TextDriverTest, ReportsMakeFilesOfTheirOwn) {
    const struct {
        std::function<bool(FPrintRegister&)> report;
        char letter;
        std::string disabledMessage;
    } cases[] = {
        {[](FPrintRegister& d) { return d.DailyReportsZ(); }, 'Z',
         "ERROR: Z command disabled (unsupported ZReport)"},
        {[](FPrintRegister& d) { return d.DailyReportsX(); }, 'X',
         "ERROR: X command disabled (unsupported ZReport)"},
        {[](FPrintRegister& d) { return d.ReceiptDuplicate(); }, 'D',
         "ERROR: D command disabled (unsupported ReceiptDuplicate)"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string folder = "outputFolder=" + dir.path().string() + "\r\n";
        auto driver = testing::MakeTextDriver(dir, "TVA_GROUPS=A:1\r\n" + folder);
        EXPECT_TRUE(c.report(*driver));
        EXPECT_EQ(driver->state, ReceiptState::afterSell);
        EXPECT_EQ(ReadFile(driver->receiptPath()), std::string(1, c.letter) + ",1,______,_,__;\n");

        // While a receipt is open the report fails and leaves the receipt alone.
        ASSERT_TRUE(driver->BeginSell());
        std::string name = "Apa";
        ASSERT_TRUE(driver->SellItem(name, 1.0, 1.0, "A", '1', 1));
        EXPECT_FALSE(c.report(*driver));
        EXPECT_TRUE(driver->CloseReceipt(nullptr));
        EXPECT_EQ(ReadFile(driver->receiptPath()), "S,1,______,_,__;Apa;1.00;1.000;1;1;1;0;0;\n");
        EXPECT_EQ(LogMessages(dir.File("register.log")), std::vector<std::string>{kNotReady});

        TempDir disabledDir;
        auto disabled = testing::MakeTextDriver(
            disabledDir, "TVA_GROUPS=A:1\r\noutputFolder=" + disabledDir.path().string() +
                             "\r\ndisabledCommands=" + c.letter);
        EXPECT_FALSE(c.report(*disabled));
        EXPECT_EQ(LogMessages(disabledDir.File("register.log")),
                  std::vector<std::string>{c.disabledMessage});
        EXPECT_EQ(FileNames(disabledDir.path()),
                  (std::vector<std::string>{"driver.ini", "register.log"}));
    }
}

TEST_F(TextDriverTest, EqualTotalsRule) {
    const struct {
        int rule;
        double sold;
        double paid;
        std::string refusal;  // empty: the receipt closes
    } cases[] = {
        {1, 10.0, 9.99, "Valoarea serviciilor difera de valoarea achitata. 10.00<>9.99"},
        {1, 12.5, 12.4, "Valoarea serviciilor difera de valoarea achitata. 12.50<>12.40"},
        {1, -0.001, 0.0, "Valoarea serviciilor difera de valoarea achitata. -0.00<>0.00"},
        {1, 12.5, 12.499, ""},
        {1, 10.004, 10.0, ""},
        {0, 10.0, 9.99, ""},
        {2, 10.0, 9.99, ""},
    };
    for (const auto& c : cases) {
        TempDir dir;
        auto driver =
            testing::MakeTextDriver(dir, "TVA_GROUPS=A:1\r\noutputFolder=" + dir.path().string() +
                                             "\r\nalwaysSellEqualsPayed=" + std::to_string(c.rule));
        ASSERT_TRUE(driver->BeginSell());
        std::string name = "Apa";
        ASSERT_TRUE(driver->SellItem(name, c.sold, 1.0, "A", '1', 1));
        ASSERT_TRUE(driver->Payment(0, c.paid));
        std::string message;
        const bool closed = driver->CloseReceipt(&message);
        EXPECT_EQ(closed, c.refusal.empty()) << c.sold << " " << c.paid;
        EXPECT_EQ(message, c.refusal);
        EXPECT_EQ(driver->state, closed ? ReceiptState::afterSell : ReceiptState::ready);
        // Refused: the receipt is abandoned and no file stays behind for the printer.
        EXPECT_EQ(std::filesystem::exists(driver->receiptPath()), closed);
        const std::vector<std::string> refusalLog = {c.refusal, "Receipt abandoned: " + c.refusal};
        EXPECT_EQ(LogMessages(dir.File("register.log")),
                  closed ? std::vector<std::string>{} : refusalLog);
    }
}

TEST_F(TextDriverTest, StateRules) {
    FPrintRegister unconfigured;
    EXPECT_FALSE(unconfigured.BeginSell());

    FPrintRegister& driver = Configure();
    std::string message = "untouched";
    EXPECT_FALSE(driver.CloseReceipt(&message));
    EXPECT_EQ(message, "untouched");
    EXPECT_FALSE(driver.ResetAfterSell());
    EXPECT_FALSE(driver.Payment(0, 1.0));
    EXPECT_FALSE(driver.PrintText("x", "", "", "", ""));
    EXPECT_FALSE(Sell("Apa"));
    EXPECT_FALSE(driver.SellItem(message, 1.0, 1.0, "a", '1', 1));  // unknown group, any state
    EXPECT_EQ(driver.paidTotal, 0.0);
    EXPECT_EQ(Log(), std::vector<std::string>{"VAT NOT FOUND"});

    ASSERT_TRUE(driver.BeginSell());
    EXPECT_FALSE(driver.BeginSell());
    EXPECT_EQ(driver.state, ReceiptState::selling);
    EXPECT_TRUE(driver.CloseReceipt(nullptr));
    EXPECT_TRUE(driver.BeginSell());  // afterSell needs no reset
    EXPECT_TRUE(driver.CloseReceipt(nullptr));
    EXPECT_TRUE(driver.ResetAfterSell());
    EXPECT_EQ(driver.state, ReceiptState::ready);
    EXPECT_EQ(Log(), (std::vector<std::string>{"VAT NOT FOUND", kNotReady}));
}

TEST_F(TextDriverTest, ReceiptsBegunInOneMillisecondGetDistinctFiles) {
    FPrintRegister& driver = Configure();
    constexpr int kReceipts = 100;
    std::set<std::string> expected;
    for (int i = 0; i < kReceipts; ++i) {
        ASSERT_TRUE(driver.BeginSell());
        ASSERT_TRUE(Sell("item" + std::to_string(i)));
        ASSERT_TRUE(driver.CloseReceipt(nullptr));
        expected.insert("S,1,______,_,__;item" + std::to_string(i) + ";1.00;1.000;1;1;1;0;0;\n");
    }
    std::set<std::string> contents;
    for (const std::string& name : FileNames(out_)) {
        EXPECT_TRUE(std::regex_match(name, std::regex(R"(BON_\d{8}_\d{6}_\d{3}(_\d+)?\.txt)")));
        contents.insert(ReadFile(out_ / name));
    }
    EXPECT_EQ(contents, expected);
}

// A text driver whose clock stands still at 2026-12-07 11:42:27.042.
class StoppedClockDriver : public FPrintRegister {
  protected:
    platform::LocalTime CurrentTime() const override {
        platform::LocalTime time;
        time.tm.tm_year = 2026 - 1900;
        time.tm.tm_mon = 11;
        time.tm.tm_mday = 7;
        time.tm.tm_hour = 11;
        time.tm.tm_min = 42;
        time.tm.tm_sec = 27;
        time.milliseconds = 42;
        return time;
    }
};

TEST_F(TextDriverTest, TakenTimeStampedNamesGetTheNextFreeSuffix) {
    std::filesystem::create_directory(out_);
    WriteFile(dir_.File("c.ini"), "TVA_GROUPS=A:1\r\noutputFolder=" + out_.string());
    INILoader configuration;
    ASSERT_TRUE(configuration.Load(dir_.File("c.ini")).ok());
    StoppedClockDriver driver;
    driver.log.SetPath(dir_.File("register.log"));
    driver.LoadSharedSettings(configuration);

    const std::string stamp = "BON_20261207_114227_042";
    WriteFile(out_ / (stamp + "_1.txt"), "taken");
    ASSERT_TRUE(driver.DailyReportsZ());
    EXPECT_EQ(driver.receiptPath(), testing::DriverPath(out_, stamp + ".txt"));
    for (const char* next : {"_2", "_3"}) {
        ASSERT_TRUE(driver.DailyReportsX());
        EXPECT_EQ(driver.receiptPath(), testing::DriverPath(out_, stamp + next + ".txt"));
    }
    // A name taken while the receipt is open (another program, say) is left alone too: the
    // name is claimed when the receipt closes.
    ASSERT_TRUE(driver.BeginSell());
    WriteFile(out_ / (stamp + "_4.txt"), "taken");
    ASSERT_TRUE(driver.CloseReceipt(nullptr));
    EXPECT_EQ(driver.receiptPath(), testing::DriverPath(out_, stamp + "_5.txt"));
    for (int suffix = 6; suffix <= kMaxReceiptNameSuffix; ++suffix) {
        WriteFile(out_ / (stamp + "_" + std::to_string(suffix) + ".txt"), "taken");
    }
    EXPECT_EQ(ReadFile(out_ / (stamp + "_1.txt")), "taken");  // never replaced
    EXPECT_EQ(ReadFile(out_ / (stamp + "_4.txt")), "taken");
    EXPECT_EQ(ReadFile(out_ / (stamp + ".txt")), "Z,1,______,_,__;\n");

    // Every name of this millisecond is taken: the receipt cannot be published.
    ASSERT_TRUE(driver.BeginSell());
    std::string message;
    EXPECT_FALSE(driver.CloseReceipt(&message));
    EXPECT_EQ(driver.state, ReceiptState::ready);
    const std::string last = testing::DriverPath(out_, stamp + "_999.txt");
    EXPECT_TRUE(message.starts_with("Error writing file " + last + ": ")) << message;
    EXPECT_EQ(Log(), std::vector<std::string>{"Receipt abandoned: " + message});
    EXPECT_EQ(FileNames(out_).size(), kMaxReceiptNameSuffix + 1u);  // no temporary file left
    EXPECT_EQ(ReadFile(last), "taken");
}

TEST_F(TextDriverTest, ReceiptTextBound) {
    FPrintRegister& driver = Configure("outputFileName=full\r\nmaxItemNameSize=-1");
    const std::string piece(kMaxPrintTextPieceLength, 'p');
    // An S line whose name fills the receipt to the last character.
    const std::size_t sLineWithoutName =
        std::string("S,1,______,_,__;;1.00;1.000;1;1;1;0;0;\n").size();
    const auto fillAllBut200 = [&] {
        ASSERT_TRUE(driver.BeginSell());
        while (driver.receiptText().size() + 200 < kMaxReceiptTextLength) {
            ASSERT_TRUE(driver.PrintText(piece, piece, piece, piece, piece));
        }
    };

    fillAllBut200();
    const std::size_t room = kMaxReceiptTextLength - driver.receiptText().size();
    EXPECT_TRUE(Sell(std::string(room - sLineWithoutName, 'n')));
    EXPECT_EQ(driver.receiptText().size(), kMaxReceiptTextLength);
    EXPECT_TRUE(driver.CloseReceipt(nullptr));
    EXPECT_EQ(ReadFile(out_ / "full.txt").size(), kMaxReceiptTextLength);
    EXPECT_EQ(ReadFile(out_ / "full.txt").back(), '\n');  // nothing cut
    EXPECT_TRUE(Log().empty());

    // Once a line was refused, the receipt can no longer close: it would print without it.
    fillAllBut200();
    EXPECT_FALSE(Sell(std::string(room - sLineWithoutName + 1, 'n'), 7.0));
    EXPECT_EQ(driver.soldTotal, 0.0);  // a refused line counts for nothing
    EXPECT_EQ(driver.RefusalReason(), "Receipt text full");
    EXPECT_EQ(Log(), std::vector<std::string>{"Receipt text full: line refused"});
    EXPECT_TRUE(driver.Payment(0, 1.0));  // a shorter line still fits
    std::string message;
    EXPECT_FALSE(driver.CloseReceipt(&message));
    EXPECT_EQ(message, "Receipt text full");
    EXPECT_EQ(driver.state, ReceiptState::ready);
    // The abandoned receipt never touched the file the first one went to.
    EXPECT_EQ(FileNames(out_), std::vector<std::string>{"full.txt"});
    EXPECT_EQ(ReadFile(out_ / "full.txt").size(), kMaxReceiptTextLength);
    EXPECT_EQ(Log().back(), "Receipt abandoned: Receipt text full");
}

TEST_F(TextDriverTest, FixedFileNameIsReplacedEachTime) {
    FPrintRegister& driver = Configure("outputFileName=receipt  ");
    for (const char* item : {"first", "second"}) {
        ASSERT_TRUE(driver.BeginSell());
        ASSERT_TRUE(Sell(item));
        ASSERT_TRUE(driver.CloseReceipt(nullptr));
    }
    EXPECT_TRUE(driver.DailyReportsX());
    EXPECT_EQ(FileNames(out_), std::vector<std::string>{"receipt.txt"});
    EXPECT_EQ(ReadFile(out_ / "receipt.txt"), "X,1,______,_,__;\n");
}

TEST_F(TextDriverTest, OutputFolderKeepsItsCaseAndLosesTrailingSlash) {
    const std::filesystem::path mixed = dir_.path() / "Mixed Case";
    std::filesystem::create_directory(mixed);
#ifdef _WIN32
    const std::string separator = "\\";
    const std::string expected = testing::DriverPath(mixed, "");  // upper-cased there
#else
    const std::string separator = "/";
    const std::string expected = mixed.string() + "/";
#endif
    auto driver = testing::MakeTextDriver(
        dir_, "TVA_GROUPS=A:1\r\noutputFolder=" + mixed.string() + separator + "  ");
    EXPECT_EQ(driver->outputFolder() + separator, expected);
    EXPECT_TRUE(driver->DailyReportsZ());
    EXPECT_EQ(FileNames(mixed).size(), 1u);
}

TEST_F(TextDriverTest, EmptyOutputFolderIsTheWorkingDirectory) {
#ifdef _WIN32
    GTEST_SKIP() << "on Windows an empty folder is the drive's root, checked by the path rules";
#endif
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    auto driver = testing::MakeTextDriver(dir_, "TVA_GROUPS=A:1\r\noutputFileName=here");
    const bool written = driver->DailyReportsZ();
    std::filesystem::current_path(previous);
    EXPECT_TRUE(written);
    EXPECT_EQ(driver->receiptPath(), "here.txt");
    EXPECT_EQ(ReadFile(dir_.path() / "here.txt"), "Z,1,______,_,__;\n");
}

TEST_F(TextDriverTest, MissingOutputFolderIsLogged) {
    auto driver = testing::MakeTextDriver(
        dir_, "TVA_GROUPS=A:1\r\noutputFileName=r\r\noutputFolder=" + out_.string());
    EXPECT_FALSE(driver->BeginSell());
    EXPECT_EQ(driver->state, ReceiptState::ready);
    EXPECT_FALSE(driver->DailyReportsZ());
    const std::string error = "Error creating file " + testing::DriverPath(out_, ".tillvane-r.tmp");
    const auto log = Log();
    ASSERT_EQ(log.size(), 2u);
    for (const std::string& entry : log) EXPECT_TRUE(entry.starts_with(error + ": ")) << entry;
}

#ifdef __linux__
// A disk that fills up mid-write, as the file size limit makes it: writes past it fail with
// EFBIG (SIGXFSZ ignored). The receipt printed before under the fixed name stays whole.
TEST_F(TextDriverTest, FailedWriteLeavesNoFileAndSaysWhy) {
    FPrintRegister& driver = Configure("outputFileName=r");
    const std::filesystem::path receipt = out_ / "r.txt";
    ASSERT_TRUE(driver.DailyReportsX());
    const std::string reason =
        "Error writing file " + receipt.string() + ": " + std::generic_category().message(EFBIG);
    constexpr rlim_t kFileSizeLimit = 4096;
    rlimit previous{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = previous;
    limited.rlim_cur = kFileSizeLimit;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    ASSERT_TRUE(driver.BeginSell());
    while (driver.receiptText().size() <= kFileSizeLimit) {
        ASSERT_TRUE(driver.PrintText("0123456789", "", "", "", ""));
    }
    std::string message;
    const bool closed = driver.CloseReceipt(&message);
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(closed);
    EXPECT_EQ(message, reason);
    EXPECT_EQ(driver.state, ReceiptState::ready);
    EXPECT_EQ(FileNames(out_), std::vector<std::string>{"r.txt"});
    EXPECT_EQ(ReadFile(receipt), "X,1,______,_,__;\n");
    EXPECT_EQ(Log(), std::vector<std::string>{"Receipt abandoned: " + reason});

    ASSERT_TRUE(driver.BeginSell());  // the next receipt starts clean
    ASSERT_TRUE(Sell("Apa"));
    EXPECT_TRUE(driver.CloseReceipt(&message));
    EXPECT_EQ(ReadFile(receipt), "S,1,______,_,__;Apa;1.00;1.000;1;1;1;0;0;\n");
}
#endif

// Temporary files that a service stopped mid-receipt left behind go when the driver starts;
// everything else in the folder stays.
TEST_F(TextDriverTest, LeftoverTemporaryFilesAreRemovedAtStart) {
    std::filesystem::create_directory(out_);
    const std::vector<std::string> leftovers = {".tillvane-BON_20261207_114227_042.tmp",
                                                ".tillvane-r_3.tmp"};
    for (const std::string& name : leftovers) WriteFile(out_ / name, "S,1,half");
    const std::vector<std::string> kept = {".other.tmp", "BON_20261207_114227_042.txt",
                                           "tillvane-r.tmp"};
    for (const std::string& name : kept) WriteFile(out_ / name, "kept");

    Configure();
    EXPECT_EQ(FileNames(out_), kept);
    std::vector<std::string> expected;
    for (const std::string& name : leftovers) {
        expected.push_back("Removed leftover temporary file " + testing::DriverPath(out_, name) +
                           ": a receipt cut short before it was answered");
    }
    EXPECT_EQ(Log(), expected);
}

TEST_F(TextDriverTest, OverLongFileNameLeavesTheDriverUnconfigured) {
    const std::string longest(kMaxOutputFileNameLength, 'f');
    EXPECT_EQ(Configure("outputFileName=" + longest).state, ReceiptState::ready);
    EXPECT_TRUE(driver_->DailyReportsZ());
    EXPECT_EQ(FileNames(out_), std::vector<std::string>{longest + ".txt"});

    FPrintRegister& refused = Configure("outputFileName=" + longest + "f");
    EXPECT_EQ(refused.state, ReceiptState::unconfigured);
    EXPECT_FALSE(refused.BeginSell());
    EXPECT_EQ(Log(), (std::vector<std::string>{
                         "outputFileName longer than 99 characters refused: " + longest + "f",
                         kNotReady}));
}

}  // namespace
}  // namespace tillvane
