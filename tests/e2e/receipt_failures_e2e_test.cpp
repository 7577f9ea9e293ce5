// Failed, abandoned and odd requests against the real program with the text driver: each is
// answered with a reason, leaves no receipt file behind (or exactly the right one), and the
// ordinary receipt sent after it prints whole and holds only its own lines.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "tests/e2e/service_process.h"
#include "tests/e2e/text_driver_fixture.h"
#include "tests/support/free_port.h"
#include "tests/support/http_client.h"
#include "tests/support/temp_dir.h"

namespace tillvane::testing {
namespace {

const std::string kReceipt = "BS|SI^Apa^2.50^2^A|AP^0^5.00|ES";
const std::string kReceiptFile =
    "S,1,______,_,__;Apa;2.50;2.000;1;1;1;0;0;\n"
    "T,1,______,_,__;0;5.00;;;;\n";
const std::string kErrorHead = "ERR|EROARE PROTOCOL WEB LA LINIA [";

std::string Repeat(const std::string& unit, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += unit;
    return text;
}

struct Request {
    std::string text;
    std::string reply;
    // The text goes as CMD in the URL of a POST whose form holds only a REQUESTID.
    bool inQuery = false;
};

struct Row {
    const char* name;
    std::vector<Request> requests;
    std::vector<std::string> files;   // the receipt files in the folder afterwards, exact bytes
    std::vector<std::string> logged;  // register log entries the row adds, in order
};

class ReceiptFailuresEndToEnd : public TextDriverEndToEnd {
  protected:
    void Start(std::vector<std::string> settings) {
        // A receipt that fills the text bound takes more lines than the default line limit.
        if (std::none_of(settings.begin(), settings.end(), [](const std::string& setting) {
                return setting.starts_with("maxCommandLines=");
            })) {
            settings.insert(settings.begin(), "maxCommandLines=5000");
        }
        StartTextDriver(settings);
    }

    std::string Send(const Request& request) {
        const HttpResponse response =
            request.inQuery ? PostForm(port_, "/REGCMD?CMD=" + UrlEncode(request.text),
                                       "REQUESTID=from-the-url")
                            : PostForm(port_, "/REGCMD", "CMD=" + UrlEncode(request.text));
        EXPECT_EQ(response.status, 200) << response.error;
        return response.body;
    }
    std::string Send(const std::string& text) { return Send(Request{text, {}}); }

    // The register log entries written since the last call.
    std::vector<std::string> NewLogEntries() {
        const std::string log = ReadFile(service_.File("_Tillvane_se.log"));
        static const std::regex kEntry(R"(\n\d{8} \d{2}:\d{2}:\d{2}->([^\n]*))");
        std::vector<std::string> entries;
        const std::string fresh = log.substr(std::min(logSeen_, log.size()));
        for (auto it = std::sregex_iterator(fresh.begin(), fresh.end(), kEntry);
             it != std::sregex_iterator(); ++it) {
            entries.push_back((*it)[1]);
        }
        logSeen_ = log.size();
        return entries;
    }

    // Runs the row's requests, then the ordinary receipt, and checks what each left behind.
    void RunRows(const std::vector<Row>& rows) {
        NewLogEntries();
        for (const Row& row : rows) {
            SCOPED_TRACE(row.name);
            for (const Request& request : row.requests) {
                EXPECT_EQ(Send(request), request.reply) << request.text.substr(0, 80);
            }
            EXPECT_EQ(TakeReceiptFiles(), row.files);
            EXPECT_EQ(Send(kReceipt), "OK|");
            EXPECT_EQ(TakeReceiptFiles(), std::vector<std::string>{ordinaryFile_});
            // Nothing else stays: no temporary file of a failed or abandoned receipt.
            EXPECT_TRUE(std::filesystem::is_empty(receipts_));
            const std::vector<std::string> logged = NewLogEntries();
            std::size_t next = 0;
            for (const std::string& entry : logged) {
                if (next < row.logged.size() && entry == row.logged[next]) ++next;
            }
            EXPECT_EQ(next, row.logged.size())
                << "missing or out of order: " << (next < row.logged.size() ? row.logged[next] : "")
                << "\nlogged: " << ::testing::PrintToString(logged);
        }
    }

    std::size_t logSeen_ = 0;
    std::string ordinaryFile_ = kReceiptFile;  // what the ordinary receipt writes
};

const std::string kSold = "S,1,______,_,__;";
const std::string kPaid = "T,1,______,_,__;";
const std::string kLeftOpen = "Receipt abandoned: left open by an earlier request";

std::string Abandoned(const std::string& reply) {
    return "Receipt abandoned: " + reply.substr(std::string("ERR|").size());
}

TEST_F(ReceiptFailuresEndToEnd, EveryFailureIsAnsweredAndTheNextReceiptStartsClean) {
    Start({"TVA_GROUPS=A:1|B:2|LONGNAME123:1234567|C:1;D:2"});
    const std::string unknownGroup = kErrorHead + "SI^Lapte^4^1^Z], check log";
    const std::string badItemGroup = kErrorHead + "SI^Apa^1^1^A^12], invalid ItemGroup [12]";
    const std::string badPaymentType = kErrorHead + "AP^5^1], invalid paymentType [5]";
    const std::string emptyLine = kErrorHead + "]";
    const std::string secondBegin = kErrorHead + "BS], check log";
    const std::string longLine = kErrorHead + std::string(100, 'x') + "\u2026], line too long";
    const std::string full = kErrorHead + "PT^0123456789abcde], Receipt text full";
    const std::string comma = kErrorHead + "SI^Apa^2,50^2^A], invalid price [2,50]";
    const std::string huge = kErrorHead + "SI^Apa^1e308^1^A], invalid price [1e308]";
    const std::string notANumber = kErrorHead + "AP^0^nan], invalid amount [nan]";
    const std::string badQuantity = kErrorHead + "SI^Apa^1^abc^A], invalid quantity [abc]";
    const std::string longField = kErrorHead + "AP^100000^5.00], field too long";
    const std::string refusedGroup = kErrorHead + "SI^Apa^1^1^LONGNAME1], check log";
    const std::string zWhileOpen = kErrorHead + "ZR], check log";
    const std::string fullPrint = Repeat("PT^0123456789abcde|", 2702);
    const std::string typoGroup = kErrorHead + "SI^Apa^2.50^2^C], check log";
    const std::string paymentType2x = kErrorHead + "AP^2x^5.00], invalid paymentType [2x]";
    const std::string paymentTypeAbc = kErrorHead + "AP^abc^5.00], invalid paymentType [abc]";

    EXPECT_EQ(NewLogEntries(),
              (std::vector<std::string>{
                  "SellText model initiated",
                  "TVA_GROUPS entry [LONGNAME123:1234567] refused: a name holds at most 9 "
                  "characters, a code at most 5",
                  "TVA_GROUPS entry [C:1;D:2] refused: a name or code may not hold \";\" or a "
                  "control character"}));
    RunRows({
        {"UnknownVatGroup",
         {{"BS|SI^Paine^3^1^A|SI^Lapte^4^1^Z|AP^0^7|ES", unknownGroup}},
         {},
         {"VAT NOT FOUND", Abandoned(unknownGroup)}},
        {"InvalidItemGroup",
         {{"BS|SI^Apa^1^1^A^12|ES", badItemGroup}},
         {},
         {Abandoned(badItemGroup)}},
        {"PaymentTypeFive",
         {{"BS|SI^Apa^1^1^A|AP^5^1|ES", badPaymentType}},
         {},
         {Abandoned(badPaymentType)}},
        {"EmptyLine", {{"BS|SI^Apa^1^1^A||ES", emptyLine}}, {}, {Abandoned(emptyLine)}},
        {"SecondBeginSellInOneRequest",
         {{"BS|SI^Apa^1^1^A|BS|SI^Apa^1^1^A|AP^0^2|ES", secondBegin}},
         {},
         {"BeginSell: Status not ready or afterSell", Abandoned(secondBegin)}},
        // A till that stopped mid-sale: its receipt stays open, unseen by the printer, until
        // the next BS abandons it.
        {"NeverEnded", {{"BS|SI^Paine^3^1^A", "OK|"}}, {}, {kLeftOpen}},
        {"ReportWhileAReceiptIsOpen",
         {{"BS|SI^Paine^3^1^A", "OK|"}, {"ZR", zWhileOpen}},
         {},
         {"BeginSell: Status not ready or afterSell", kLeftOpen}},
        {"StrayEnd", {{"ES", kErrorHead + "ES], no receipt open"}}, {}, {}},
        {"SpreadOverRequests",
         {{"BS|SI^Apa^2.50^2^A", "OK|"}, {"AP^0^5.00|ES", "OK|"}},
         {kReceiptFile},
         {}},
        {"LineTooLong",
         {{"BS|SI^Apa^1^1^A|" + std::string(10001, 'x') + "|AP^0^1|ES", longLine}},
         {},
         {Abandoned(longLine)}},
        {"ReceiptFull",
         {{"BS|SI^Apa^2.50^2^A|" + fullPrint + "AP^0^5.00|ES", full}},
         {},
         {"Receipt text full: line refused", Abandoned(full)}},
        // Spread over requests, the receipt that filled up stays open; its ES writes nothing.
        {"ReceiptFullClosedLater",
         {{"BS|SI^Apa^2.50^2^A", "OK|"},
          {fullPrint + "AP^0^5.00", full},
          {"ES", "ERR|Receipt text full"}},
         {},
         {"Receipt text full: line refused", "Receipt abandoned: Receipt text full"}},
        {"PriceWithComma", {{"BS|SI^Apa^2,50^2^A|AP^0^5.00|ES", comma}}, {}, {Abandoned(comma)}},
        {"HugePrice", {{"BS|SI^Apa^1e308^1^A|ES", huge}}, {}, {Abandoned(huge)}},
        {"AmountNotANumber",
         {{"BS|SI^Apa^1^1^A|AP^0^nan|ES", notANumber}},
         {},
         {Abandoned(notANumber)}},
        {"QuantityNotANumber",
         {{"BS|SI^Apa^1^abc^A|ES", badQuantity}},
         {},
         {Abandoned(badQuantity)}},
        {"FieldTooLong",
         {{"BS|SI^Apa^2.50^2^A|AP^100000^5.00|ES", longField}},
         {},
         {Abandoned(longField)}},
        {"RefusedVatGroupIsNotSold",
         {{"BS|SI^Apa^1^1^LONGNAME1|ES", refusedGroup}},
         {},
         {"VAT NOT FOUND", Abandoned(refusedGroup)}},
        {"SemicolonInName",
         {{"BS|SI^Apa;0.01;1.000;1;1;1;0;0;^2.50^2^A|AP^0^5.00|ES", "OK|"}},
         {kSold + "Apa 0.01 1.000 1 1 1 0 0 ;2.50;2.000;1;1;1;0;0;\n" + kPaid + "0;5.00;;;;\n"},
         {}},
        {"MinusZero",
         {{"BS|SI^Apa^-0^-0^A|AP^0^-0|ES", "OK|"}},
         {kSold + "Apa;0.00;0.000;1;1;1;0;0;\n" + kPaid + "0;0.00;;;;\n"},
         {}},
        {"ItemGroupLineBreak",
         {{"BS|SI^Apa^2.50^2^A^\n|AP^0^5.00|ES", "OK|"}},
         {kSold + "Apa;2.50;2.000;1; ;1;0;0;\n" + kPaid + "0;5.00;;;;\n"},
         {}},
        // Read as far as it goes, "2x" would pay by card and "abc" in cash.
        {"PaymentTypeNotPlain",
         {{"BS|SI^Apa^2.50^2^A|AP^2x^5.00|ES", paymentType2x},
          {"BS|SI^Apa^2.50^2^A|AP^abc^5.00|ES", paymentTypeAbc}},
         {},
         {Abandoned(paymentType2x), Abandoned(paymentTypeAbc)}},
        // 0x1A ends the file for some readers; 0x02 and 0x03 frame a printer's data.
        {"ControlBytesInNameAndText",
         {{"BS|SI^A\x1a\x02pa^2.50^2^A|PT^x\x03y\x1a|AP^0^5.00|ES", "OK|"}},
         {kSold + "A  pa;2.50;2.000;1;1;1;0;0;\nP,1,______,_,__;x y ;;;;;\n" + kPaid +
          "0;5.00;;;;\n"},
         {}},
        // "C:1;D:2" was refused at start: its group sells nothing.
        {"VatCodeWithSemicolon",
         {{"BS|SI^Apa^2.50^2^C|AP^0^5.00|ES", typoGroup}},
         {},
         {"VAT NOT FOUND", Abandoned(typoGroup)}},
        {"DeviceLinesOutsideAReceipt",
         {{"LK", kErrorHead + "LK], no receipt open"},
          {"UK", kErrorHead + "UK], no receipt open"},
          {"RR", kErrorHead + "RR], no receipt open"}},
         {},
         {}},
        // The first LK takes the last room (20 characters) the printed lines left.
        {"DeviceLineWithoutRoom",
         {{"BS|SI^Apa^2.50^2^A|" + Repeat("PT^0123456789abcde|", 2701) + "LK|LK|ES",
           kErrorHead + "LK], Receipt text full"}},
         {},
         {"Receipt text full: line refused", Abandoned(kErrorHead + "LK], Receipt text full")}},
        // A form without a command text: the CMD of the URL runs, once, as a GET's would.
        {"PostWithTheCommandInTheUrl",
         {{kReceipt, "OK|", true}, {kReceipt, "OK|", true}},
         {kReceiptFile},
         {}},
    });
}

TEST_F(ReceiptFailuresEndToEnd, PricesInHundredthsAndTotalsThatMustMatch) {
    Start({"TVA_GROUPS=A:1", "allowPriceDecimals=0", "alwaysSellEqualsPayed=1"});
    ordinaryFile_ = kSold + "Apa;250;2.000;1;1;1;0;0;\n" + kPaid + "0;5.00;;;;\n";
    const std::string unequal = "ERR|Valoarea serviciilor difera de valoarea achitata. 2.55<>2.50";
    // 2.55 is stored as 2.5499999...: in hundredths it rounds to 255, never cut to 254.
    const std::string sold255 = kSold + "Apa;255;1.000;1;1;1;0;0;\n" + kPaid + "0;2.55;;;;\n";
    RunRows({
        {"PriceRoundedToHundredths", {{"BS|SI^Apa^2.55^1^A|AP^0^2.55|ES", "OK|"}}, {sold255}, {}},
        {"UnequalTotals",
         {{"BS|SI^Apa^2.55^1^A|AP^0^2.50|ES", unequal}},
         {},
         {unequal.substr(4), Abandoned(unequal)}},
    });
}

TEST_F(ReceiptFailuresEndToEnd, DiscountCashInOutAndDuplicate) {
    Start({"TVA_GROUPS=A:1", "alwaysSellEqualsPayed=1"});
    const std::string item = kSold + "Apa;10.00;1.000;1;1;1;0;0;\n";
    const std::string discounted =
        "ERR|Valoarea serviciilor difera de valoarea achitata. 9.00<>10.00";
    const std::string overAHundred = kErrorHead + "DC^100.01], invalid percent [100.01]";
    const std::string badCash = kErrorHead + "IO^-2,5], invalid amount [-2,5]";
    RunRows({
        {"Discount",
         {{"BS|SI^Apa^10^1^A|DC^10|AP^0^9.00|ES", "OK|"}},
         {item + "C,1,______,_,__;1;10.00;;;;\n" + kPaid + "0;9.00;;;;\n"},
         {}},
        {"TotalsRuleSeesTheDiscount",
         {{"BS|SI^Apa^10^1^A|DC^10|AP^0^10.00|ES", discounted}},
         {},
         {discounted.substr(4), Abandoned(discounted)}},
        {"Surcharge",
         {{"BS|SI^Apa^10^1^A|DC^-5|AP^0^10.50|ES", "OK|"}},
         {item + "C,1,______,_,__;0;5.00;;;;\n" + kPaid + "0;10.50;;;;\n"},
         {}},
        {"CashOutAndIn",
         {{"BS|IO^-25.50|ES", "OK|"}, {"BS|IO^100|ES", "OK|"}},
         {"I,1,______,_,__;0;25.50;;;;\n", "I,1,______,_,__;1;100.00;;;;\n"},
         {}},
        {"Duplicate", {{"DR", "OK|"}}, {"D,1,______,_,__;\n"}, {}},
        {"PercentOverAHundred",
         {{"BS|SI^Apa^10^1^A|DC^100.01|AP^0^0|ES", overAHundred}},
         {},
         {Abandoned(overAHundred)}},
        {"CashNotPlain", {{"BS|IO^-2,5|ES", badCash}}, {}, {Abandoned(badCash)}},
        {"OutsideAReceipt",
         {{"DC^10", kErrorHead + "DC^10], no receipt open"},
          {"IO^5", kErrorHead + "IO^5], no receipt open"}},
         {},
         {}},
        {"DuplicateWhileAReceiptIsOpen",
         {{"BS|SI^Paine^3^1^A", "OK|"}, {"DR", kErrorHead + "DR], check log"}},
         {},  // the open receipt is a hidden temporary file, no receipt yet
         {"BeginSell: Status not ready or afterSell", kLeftOpen}},
    });
}

TEST_F(ReceiptFailuresEndToEnd, DisabledLettersAreRefusedWithTheDriversMessage) {
    Start({"TVA_GROUPS=A:1", "disabledCommands=CIDZ"});
    const std::string discount = "ERROR: C command disabled (unsupported discounts)";
    const std::string cash = "ERROR: I command disabled (unsupported in/out cash)";
    const std::string duplicate = "ERROR: D command disabled (unsupported ReceiptDuplicate)";
    const std::string report = "ERROR: Z command disabled (unsupported ZReport)";
    const std::string discountReply = kErrorHead + "DC^10], " + discount;
    const std::string cashReply = kErrorHead + "IO^5], " + cash;
    RunRows({
        {"C",
         {{"BS|SI^Apa^10^1^A|DC^10|AP^0^9|ES", discountReply}},
         {},
         {discount, Abandoned(discountReply)}},
        {"I", {{"BS|IO^5|ES", cashReply}}, {}, {cash, Abandoned(cashReply)}},
        {"D", {{"DR", kErrorHead + "DR], " + duplicate}}, {}, {duplicate}},
        {"Z", {{"ZR", "ERR|" + report}}, {}, {report}},
    });
}

// A shop whose printer software takes no payment lines can still sell: AP is left out of the
// receipt as PT is with P disabled, and the equal-totals rule still holds it to the sale.
TEST_F(ReceiptFailuresEndToEnd, DisabledPaymentsAreLeftOut) {
    Start({"TVA_GROUPS=A:1", "disabledCommands=T", "alwaysSellEqualsPayed=1"});
    ordinaryFile_ = kSold + "Apa;2.50;2.000;1;1;1;0;0;\n";
    const std::string disabled = "ERROR: T command disabled (unsupported payment modes)";
    const std::string underpaid =
        "ERR|Valoarea serviciilor difera de valoarea achitata. 10.00<>9.99";
    const std::string unpaid = "ERR|Valoarea serviciilor difera de valoarea achitata. 10.00<>0.00";
    RunRows({
        {"PaymentLeftOut",
         {{"BS|SI^Apa^10^1^A|PT^Multumim|AP^1^4|AP^0^6|ES", "OK|"}},
         {kSold + "Apa;10.00;1.000;1;1;1;0;0;\nP,1,______,_,__;Multumim;;;;;\n"},
         {disabled, disabled}},
        {"Underpaid",
         {{"BS|SI^Apa^10^1^A|AP^0^9.99|ES", underpaid}},
         {},
         {disabled, underpaid.substr(4), Abandoned(underpaid)}},
        {"NotPaid", {{"BS|SI^Apa^10^1^A|ES", unpaid}}, {}, {unpaid.substr(4), Abandoned(unpaid)}},
    });
}

// The line limit counts exactly: a text of as many lines as allowed runs, one more is refused.
TEST_F(ReceiptFailuresEndToEnd, ConfiguredLineLimit) {
    Start({"maxCommandLines=5", "TVA_GROUPS=A:1"});
    RunRows({
        {"FiveLines",
         {{"BS|SI^Apa^2.50^2^A|PT^x|AP^0^5.00|ES", "OK|"}},
         {kSold + "Apa;2.50;2.000;1;1;1;0;0;\nP,1,______,_,__;x;;;;;\n" + kPaid + "0;5.00;;;;\n"},
         {}},
        {"SixLines",
         {{"BS|SI^Apa^2.50^2^A|PT^x|PT^y|AP^0^5.00|ES", "ERR|command text has more than 5 lines"}},
         {},
         {}},
    });
}

// Values that are no such number keep their defaults, and the application log says so: a
// limit of "1.5" read as 1 would refuse every receipt.
TEST_F(ReceiptFailuresEndToEnd, RefusedSettingsKeepTheirDefaults) {
    Start({"maxCommandLines=1.5", "requestIdDays=0,00002", "journalDays=1e999", "TVA_GROUPS=A:1"});
    const std::string printed = "P,1,______,_,__;x;;;;;\n";
    RunRows({
        {"ThousandLines",
         {{"BS|SI^Apa^2.50^2^A|" + Repeat("PT^x|", 996) + "AP^0^5.00|ES", "OK|"}},
         {kSold + "Apa;2.50;2.000;1;1;1;0;0;\n" + Repeat(printed, 996) + kPaid + "0;5.00;;;;\n"},
         {}},
        {"ThousandAndOneLines",
         {{"BS|SI^Apa^2.50^2^A|" + Repeat("PT^x|", 997) + "AP^0^5.00|ES",
           "ERR|command text has more than 1000 lines"}},
         {},
         {}},
    });
    const std::string appLog = ReadFile(service_.File("Tillvane_se.log"));
    for (const std::string entry :
         {"maxCommandLines [1.5] is not a whole number above 0; the default 1000 is used",
          "requestIdDays [0,00002] is not a number of days above 0; the default 7 is used",
          "journalDays [1e999] is not a number of days above 0; the default 90 is used"}) {
        EXPECT_NE(appLog.find(entry), std::string::npos) << entry << "\nlog:\n" << appLog;
    }
}

// A 64 KiB file system as the output folder: a receipt larger than that fails to write.
TEST_F(ReceiptFailuresEndToEnd, FullDiskLeavesNoPartialFile) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
    std::filesystem::create_directories(receipts_);
    if (::mount("tillvane-test", receipts_.c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here";
    }
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{receipts_.string()};
    Start({"TVA_GROUPS=A:1"});

    const std::string big =
        "BS|SI^Apa^2.50^2^A|" + Repeat("PT^0123456789abcde|", 2000) + "AP^0^5.00|ES";
    const std::string reply = Send(big);
    const std::regex expected("ERR\\|Error writing file " + receipts_.string() +
                              "/BON_\\d{8}_\\d{6}_\\d{3}\\.txt: No space left on device");
    EXPECT_TRUE(std::regex_match(reply, expected)) << reply;
    EXPECT_EQ(TakeReceiptFiles(), std::vector<std::string>{});
    EXPECT_TRUE(std::filesystem::is_empty(receipts_));  // the temporary file went too
    NewLogEntries();
    EXPECT_EQ(Send(kReceipt), "OK|");
    EXPECT_EQ(TakeReceiptFiles(), std::vector<std::string>{kReceiptFile});
    EXPECT_NE(ReadFile(service_.File("_Tillvane_se.log")).find(Abandoned(reply)),
              std::string::npos);
}

}  // namespace
}  // namespace tillvane::testing
