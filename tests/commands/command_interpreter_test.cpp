#include "commands/command_interpreter.h"

#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/commands/recording_register.h"

namespace tillvane {
namespace {

using testing::RecordingRegister;
using Calls = std::vector<std::string>;
using namespace std::string_view_literals;

constexpr std::string_view kErrorHead = "EROARE PROTOCOL WEB LA LINIA [";

struct Script {
    const char* name;
    std::string text;
    Calls calls;
    bool result;
    std::string reply;
    bool hexNames = false;
    std::set<std::string, std::less<>> failing = {};
    std::string closeMessage = {};
    bool withDriver = true;
    bool receiptOpen = false;  // an earlier request left a receipt open
    std::string reason = {};   // the driver's failureReason when an operation fails
};

std::string Repeat(std::string_view unit, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += unit;
    return text;
}

const std::string kPrintText70 =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789!#$%&*()";
const std::string kLongLine(10001, 'X');
const std::string kCheckLog = "], check log";

std::string LineError(const std::string& line, const std::string& detail = "]") {
    return std::string(kErrorHead) + line + detail;
}
std::string Abandoned(const std::string& why) {
    return "AbandonReceipt(" + why + ")";
}

const Script kScripts[] = {
    // Lines and codes.
    {"EmptyText", "", {}, true, ""},
    {"OnlyBlanks", "   ", {}, true, ""},
    {"TrailingBar", "BS|", {"BeginSell"}, true, ""},
    {"EmptyLineFails",
     "BS||ES",
     {"BeginSell", Abandoned("EROARE PROTOCOL WEB LA LINIA []")},
     false,
     "EROARE PROTOCOL WEB LA LINIA []"},
    {"LoneBarIsAnEmptyLine", "|", {}, false, "EROARE PROTOCOL WEB LA LINIA []"},
    {"BlankLineFails",
     "BS|   |ES",
     {"BeginSell", Abandoned("EROARE PROTOCOL WEB LA LINIA []")},
     false,
     "EROARE PROTOCOL WEB LA LINIA []"},
    {"LowerCaseCode", "bs", {}, true, ""},
    {"UnknownCode", "XX^1^2", {}, true, ""},
    {"TrailingBlankInCode", "BS ", {}, true, ""},
    {"LeadingBlankInCode", " BS", {"BeginSell"}, true, ""},
    {"TabIsNotABlank", "\tBS", {}, true, ""},
    {"ExtraFieldIgnored", "BS^anything", {"BeginSell"}, true, ""},
    {"DeviceCommands",
     "LK|UK|RR|RO",
     {"CommandH", "CommandF", "CommandN", "ResetAfterSell"},
     true,
     ""},
    {"TypicalReceipt",
     "BS|SI^Apa minerala^2.50^2^A|PT^Multumim|AP^0^5.00|ES",
     {"BeginSell", "SellItem(Apa minerala,2.5,2,A,1,1)", "PrintText(Multumim,,,,)", "Payment(0,5)",
      "CloseReceipt"},
     true,
     ""},
    // A refused RO only means there was no closed receipt to reset.
    {"ResetFailureGoesOn",
     "RO|LK",
     {"ResetAfterSell", "CommandH"},
     true,
     "",
     false,
     {"ResetAfterSell"}},
    // A device line the driver refused would be missing from the receipt.
    {"CommandHFailureFails",
     "BS|LK|ES",
     {"BeginSell", "CommandH", Abandoned(LineError("LK", "], Receipt text full"))},
     false,
     LineError("LK", "], Receipt text full"),
     false,
     {"CommandH"},
     "",
     true,
     false,
     "Receipt text full"},
    // A text line or a payment that the driver refused is missing from the receipt.
    {"PrintTextFailureFails",
     "PT^x|BS",
     {"PrintText(x,,,,)"},
     false,
     LineError("PT^x", kCheckLog),
     false,
     {"PrintText"}},
    {"PaymentFailureFails",
     "BS|AP^1^2|ES",
     {"BeginSell", "Payment(1,2)", Abandoned(LineError("AP^1^2", kCheckLog))},
     false,
     LineError("AP^1^2", kCheckLog),
     false,
     {"Payment"}},
    {"DriverReasonIsQuoted",
     "BS|PT^x|ES",
     {"BeginSell", "PrintText(x,,,,)", Abandoned(LineError("PT^x", "], Receipt text full"))},
     false,
     LineError("PT^x", "], Receipt text full"),
     false,
     {"PrintText"},
     "",
     true,
     false,
     "Receipt text full"},
    // Receipts and requests: a failed request abandons the receipt it began; a BS abandons
    // what an earlier request left open; a receipt spread over requests stays open.
    {"EarlierReceiptIsAbandoned",
     "BS|ES",
     {Abandoned("left open by an earlier request"), "BeginSell", "CloseReceipt"},
     true,
     "",
     false,
     {},
     "",
     true,
     true},
    {"SecondBeginSellFails",
     "BS|BS|ES",
     {"BeginSell", "BeginSell", Abandoned(LineError("BS", kCheckLog))},
     false,
     LineError("BS", kCheckLog)},
    {"ReceiptSpreadOverRequestsStaysOpen",
     "BS|SI^Apa^1^1^A",
     {"BeginSell", "SellItem(Apa,1,1,A,1,1)"},
     true,
     ""},
    {"FailedContinuationLeavesTheReceipt",
     "SI^Apa^1^1^Q|ES",
     {"SellItem(Apa,1,1,Q,1,1)"},
     false,
     LineError("SI^Apa^1^1^Q", kCheckLog),
     false,
     {"SellItem"},
     "",
     true,
     true},
    {"ClosedReceiptIsNotAbandoned",
     "BS|ES|AP^9",
     {"BeginSell", "CloseReceipt"},
     false,
     LineError("AP^9", "], invalid paymentType [9]")},
    // An earlier receipt still open: the items must not land on it under an "OK|".
    {"FailedBeginSellFailsTheRequest",
     "BS|SI^Apa^1^1^A|ES",
     {"BeginSell"},
     false,
     "EROARE PROTOCOL WEB LA LINIA [BS], check log",
     false,
     {"BeginSell"}},
    {"LineOf10001Fails",
     "BS| " + kLongLine + "|ES",
     {"BeginSell", Abandoned(LineError(std::string(100, 'X') + "\u2026", "], line too long"))},
     false,
     LineError(std::string(100, 'X') + "\u2026", "], line too long")},
    {"LineOf10000Runs", "XX^" + std::string(9997, 'x') + "|BS", {"BeginSell"}, true, ""},
    {"CodeOf1025Fails",
     std::string(1025, 'B'),
     {},
     false,
     "EROARE PROTOCOL WEB LA LINIA [" + std::string(1025, 'B') + "]"},
    // Reports end the text with their result.
    {"ZReportEndsText", "ZR|BS", {"DailyReportsZ"}, true, ""},
    {"XReportEndsText", "XR|BS", {"DailyReportsX"}, true, ""},
    {"ZReportFails",
     "BS|ZR|BS",
     {"BeginSell", "DailyReportsZ", Abandoned(LineError("ZR", kCheckLog))},
     false,
     LineError("ZR", kCheckLog),
     false,
     {"DailyReportsZ"}},
    {"XReportFails",
     "XR",
     {"DailyReportsX"},
     false,
     LineError("XR", kCheckLog),
     false,
     {"DailyReportsX"}},
    {"ReportFailureReason",
     "XR",
     {"DailyReportsX"},
     false,
     "Printer error 9999 (no reply) on DailyReportsX; see register log",
     false,
     {"DailyReportsX"},
     "",
     true,
     false,
     "Printer error 9999 (no reply) on DailyReportsX; see register log"},
    // Printed text.
    {"PrintText70",
     "PT^" + kPrintText70,
     {"PrintText(ABCDEFGHIJKLMNO,PQRSTUVWXYZabcd,efghijklmnopqrs,tuvwxyz01234567,)"},
     true,
     ""},
    {"PrintText16", "PT^0123456789abcdef", {"PrintText(0123456789abcde,f,,,)"}, true, ""},
    {"PrintTextMissing", "PT", {"PrintText(,,,,)"}, true, ""},
    {"PrintTextOf1024",
     "PT^" + std::string(1024, 't'),
     {"PrintText(" + std::string(15, 't') + "," + std::string(15, 't') + "," +
      std::string(15, 't') + "," + std::string(15, 't') + ",)"},
     true,
     ""},
    {"PrintTextTooLong",
     "PT^" + std::string(1025, 't'),
     {},
     false,
     LineError("PT^" + std::string(1025, 't'), "], field too long")},
    {"PrintTextIsNotACommand", "PT^ES|BS", {"PrintText(ES,,,,)", "BeginSell"}, true, ""},
    {"PrintTextBlanks", "PT^  Multumim  ^more", {"PrintText(Multumim  ,,,,)"}, true, ""},
    // Sold items.
    {"SellItem", "SI^Apa^2.50^1^A", {"SellItem(Apa,2.5,1,A,1,1)"}, true, ""},
    {"SellItemPrefix", "SI^Apa^2.50^1^A^^123", {"SellItem(123^Apa,2.5,1,A,1,1)"}, true, ""},
    {"SellItemGroupAndPrefix", "SI^Apa^2.50^1^A^7^P", {"SellItem(P^Apa,2.5,1,A,7,1)"}, true, ""},
    {"SellItemPrefixOf10",
     "SI^Apa^1^1^A^^0123456789",
     {"SellItem(0123456789^Apa,1,1,A,1,1)"},
     true,
     ""},
    {"SellItemPrefixOf11Fails",
     "SI^Apa^1^1^A^^01234567890",
     {},
     false,
     LineError("SI^Apa^1^1^A^^01234567890", "], field too long")},
    // An item group over its bound of 20 reads as empty, like any over-long argument.
    {"SellItemGroupOf20",
     "SI^Apa^1^1^A^" + std::string(20, 'g'),
     {},
     false,
     "EROARE PROTOCOL WEB LA LINIA [SI^Apa^1^1^A^" + std::string(20, 'g') +
         "], invalid ItemGroup [" + std::string(20, 'g') + "]"},
    {"SellItemGroupOf21",
     "SI^Apa^1^1^A^" + std::string(21, 'g'),
     {},
     false,
     LineError("SI^Apa^1^1^A^" + std::string(21, 'g'), "], field too long")},
    {"SellItemNoFields", "SI", {}, false, LineError("SI", "], invalid price []")},
    {"SellItemNumbers", "SI^Apa^ 1.5 ^-2^B", {"SellItem(Apa,1.5,-2,B,1,1)"}, true, ""},
    {"SellItemMinusZero", "SI^Apa^-0^-0.00^B", {"SellItem(Apa,0,0,B,1,1)"}, true, ""},
    {"SellItemPriceWithComma",
     "SI^Apa^2,50^2^A",
     {},
     false,
     LineError("SI^Apa^2,50^2^A", "], invalid price [2,50]")},
    {"SellItemBadQuantity",
     "SI^Apa^1^1e3^A",
     {},
     false,
     LineError("SI^Apa^1^1e3^A", "], invalid quantity [1e3]")},
    {"SellItemVatKeepsTrailingBlank", "SI^Apa^1^1^A ", {"SellItem(Apa,1,1,A ,1,1)"}, true, ""},
    {"SellItemName200",
     "SI^" + std::string(200, 'n') + "^1^1^A",
     {"SellItem(" + std::string(200, 'n') + ",1,1,A,1,1)"},
     true,
     ""},
    // Read on, an over-long field would land in the fields after it.
    {"SellItemLongPrice",
     "SI^Apa^123456789012345678901^2^A",
     {},
     false,
     LineError("SI^Apa^123456789012345678901^2^A", "], field too long")},
    {"SellItemGroupOfTwo",
     "SI^Apa^2.50^1^A^12|BS",
     {},
     false,
     "EROARE PROTOCOL WEB LA LINIA [SI^Apa^2.50^1^A^12], invalid ItemGroup [12]"},
    {"SellItemGroupTrailingBlank",
     "SI^Apa^2.50^1^A^1 ",
     {},
     false,
     "EROARE PROTOCOL WEB LA LINIA [SI^Apa^2.50^1^A^1 ], invalid ItemGroup [1 ]"},
    {"SellItemFails",
     "BS|SI^Apa^1^1^Q|ES",
     {"BeginSell", "SellItem(Apa,1,1,Q,1,1)", Abandoned(LineError("SI^Apa^1^1^Q", kCheckLog))},
     false,
     "EROARE PROTOCOL WEB LA LINIA [SI^Apa^1^1^Q], check log",
     false,
     {"SellItem"}},
    // Hex-encoded names.
    {"HexName", "SI^4170^1^1^A", {"SellItem(Ap,1,1,A,1,1)"}, true, "", true},
    {"HexNameOddLength",
     "SI^417^1^1^A",
     {std::string("SellItem(A\x07,1,1,A,1,1)")},
     true,
     "",
     true},
    {"HexNameZero", "SI^00^1^1^A", {"SellItem(,1,1,A,1,1)"}, true, "", true},
    {"HexNameEndsAtZero", "SI^41004142^1^1^A", {"SellItem(A,1,1,A,1,1)"}, true, "", true},
    {"HexNameNoDigitIsZero", "SI^41G142^1^1^A", {"SellItem(A,1,1,A,1,1)"}, true, "", true},
    {"HexNameStrtolGroups",
     "SI^41 F-1+f1G\t2^1^1^A",
     {std::string("SellItem(A\x0F\xFF\x0F\x01\x02,1,1,A,1,1)")},
     true,
     "",
     true},
    {"HexNamePrefixNotDecoded", "SI^4170^1^1^A^^31", {"SellItem(31^Ap,1,1,A,1,1)"}, true, "", true},
    {"HexName100Bytes",
     "SI^" + Repeat("61", 100) + "^1^1^A",
     {"SellItem(" + std::string(100, 'a') + ",1,1,A,1,1)"},
     true,
     "",
     true},
    {"HexNamesOff", "SI^4170^1^1^A", {"SellItem(4170,1,1,A,1,1)"}, true, ""},
    // Payments.
    {"PaymentTypeFive",
     "AP^5^10",
     {},
     false,
     "EROARE PROTOCOL WEB LA LINIA [AP^5^10], invalid paymentType [5]"},
    {"PaymentTypeNegative",
     "AP^-1^10",
     {},
     false,
     "EROARE PROTOCOL WEB LA LINIA [AP^-1^10], invalid paymentType [-1]"},
    {"PaymentTypeHuge",
     "AP^99999^10",
     {},
     false,
     "EROARE PROTOCOL WEB LA LINIA [AP^99999^10], invalid paymentType [99999]"},
    {"PaymentTypeEmpty", "AP^^10", {"Payment(0,10)"}, true, ""},
    {"PaymentTypeTooLong",
     "AP^100000^5.00",
     {},
     false,
     LineError("AP^100000^5.00", "], field too long")},
    {"PaymentAmountTooLong",
     "AP^1^" + std::string(31, '1'),
     {},
     false,
     LineError("AP^1^" + std::string(31, '1'), "], field too long")},
    {"PaymentTypeFour", "AP^+4^1.5", {"Payment(4,1.5)"}, true, ""},
    {"PaymentNegative", "AP^^-3|AP^ 2 ^3.999", {"Payment(0,-3)", "Payment(2,3.999)"}, true, ""},
    // Only a plain whole number is a payment type: read as far as it goes, "2x" would pay by
    // card and "abc" in cash.
    {"PaymentTypeNotPlain",
     "AP^2x^5",
     {},
     false,
     LineError("AP^2x^5", "], invalid paymentType [2x]")},
    {"PaymentNotANumber", "AP^0^nan", {}, false, LineError("AP^0^nan", "], invalid amount [nan]")},
    {"PaymentNoFields", "AP", {"Payment(0,0)"}, true, ""},
    // Closing the receipt.
    {"CloseReceiptRefused",
     "BS|ES|BS",
     {"BeginSell", "CloseReceipt",
      Abandoned("Valoarea serviciilor difera de valoarea achitata. 12.50<>12.40")},
     false,
     "Valoarea serviciilor difera de valoarea achitata. 12.50<>12.40",
     false,
     {"CloseReceipt"},
     "Valoarea serviciilor difera de valoarea achitata. 12.50<>12.40"},
    // A refused close is never answered with a bare failure.
    {"CloseReceiptWithoutReceipt",
     "ES",
     {"CloseReceipt"},
     false,
     LineError("ES", "], no receipt open"),
     false,
     {"CloseReceipt"}},
    {"CloseReceiptUnexplained",
     "BS|ES",
     {"BeginSell", "CloseReceipt", Abandoned(LineError("ES", kCheckLog))},
     false,
     LineError("ES", kCheckLog),
     false,
     {"CloseReceipt"}},
    {"CloseReceiptMessageKept",
     "ES|ZR",
     {"CloseReceipt", "DailyReportsZ"},
     true,
     "note",
     false,
     {},
     "note"},
    {"LaterErrorReplacesMessage",
     "ES|AP^9",
     {"CloseReceipt"},
     false,
     "EROARE PROTOCOL WEB LA LINIA [AP^9], invalid paymentType [9]",
     false,
     {},
     "note"},
    // Bad input.
    {"NulEndsText", std::string("BS\0|ES", 6), {"BeginSell"}, true, ""},
    {"NulInsideField",
     std::string("SI^Ap\0a^1^1^A", 13),
     {},
     false,
     LineError("SI^Ap", "], invalid price []")},
    {"NulEndsLongLine",
     "BS|XX^" + std::string(9000, 'x') + std::string(1, '\0') + std::string(2000, 'x'),
     {"BeginSell"},
     true,
     ""},
    {"BinaryName", "SI^\x01\xfe\x80^1^1^A", {"SellItem(\x01\xfe\x80,1,1,A,1,1)"}, true, ""},
    {"BinaryCode", "\xff\xfe^\x01|BS", {"BeginSell"}, true, ""},
    // No driver configured.
    {"NoDriverQuietCommands", "BS|LK|UK|RR|PT^x|AP^1^2|RO|XX", {}, true, "", false, {}, "", false},
    {"NoDriverSellItem",
     "SI^Apa^1^1^A|BS",
     {},
     false,
     "EROARE PROTOCOL WEB LA LINIA [SI^Apa^1^1^A], check log",
     false,
     {},
     "",
     false},
    {"NoDriverItemGroup",
     "SI^Apa^1^1^A^12",
     {},
     false,
     "EROARE PROTOCOL WEB LA LINIA [SI^Apa^1^1^A^12], invalid ItemGroup [12]",
     false,
     {},
     "",
     false},
    {"NoDriverPaymentType",
     "AP^7^1",
     {},
     false,
     "EROARE PROTOCOL WEB LA LINIA [AP^7^1], invalid paymentType [7]",
     false,
     {},
     "",
     false},
    {"NoDriverCloseReceipt",
     "BS|ES|BS",
     {},
     false,
     LineError("ES", kCheckLog),
     false,
     {},
     "",
     false},
    {"NoDriverDuplicate", "DR|BS", {}, false, LineError("DR", kCheckLog), false, {}, "", false},
    {"NoDriverZReport", "ZR", {}, false, LineError("ZR", kCheckLog), false, {}, "", false},
    {"NoDriverXReport", "BS|XR|BS", {}, false, LineError("XR", kCheckLog), false, {}, "", false},
};

void PrintTo(const Script& script, std::ostream* out) {
    *out << script.name;
}

class CommandScriptTest : public ::testing::TestWithParam<Script> {};

TEST_P(CommandScriptTest, CallsDriverAndAnswers) {
    const Script& script = GetParam();
    RecordingRegister driver;
    driver.failing = script.failing;
    driver.closeMessage = script.closeMessage;
    driver.reason = script.reason;
    if (script.receiptOpen) driver.state = ReceiptState::selling;
    const Result<std::string> run =
        ExecuteCommandText(script.text, script.hexNames, script.withDriver ? &driver : nullptr);

    EXPECT_EQ(driver.calls, script.calls);
    EXPECT_EQ(run.ok(), script.result);
    EXPECT_EQ(ReplyTextOf(run), script.reply);
}

INSTANTIATE_TEST_SUITE_P(Scripts, CommandScriptTest, ::testing::ValuesIn(kScripts),
                         [](const auto& info) { return std::string(info.param.name); });

// A message that quotes a long line is cut inside the quoted line so that the whole message,
// frame and detail included, fits the reply.
// The front end refuses a text by its line count before anything runs, so the count must
// be the interpreter's own: blank pieces are no line, a line too long to run is one.
TEST(CountCommandLines, CountsTheLinesTheInterpreterReads) {
    const std::string longLine(10001, 'x');
    const std::pair<std::string, std::size_t> cases[] = {
        {"", 0},
        {"   ", 0},
        {"BS", 1},
        {"BS|ES", 2},
        {"BS||  |ES|", 2},
        {"  BS  |  PT^a  ", 2},
        {"BS|" + longLine + "|PT^a|ES", 4},
        {longLine, 1},
        {"BS|" + longLine, 2},
    };
    for (const auto& [text, lines] : cases) {
        EXPECT_EQ(CountCommandLines(text), lines) << text.substr(0, 40);
    }
}

TEST(CommandInterpreterReplyBound, LongQuotedLineIsCutToFit) {
    constexpr std::size_t kMaxReply = kReplyTextCapacity - 1;
    static_assert(kMaxReply == 4087);
    const std::string tail(9000, 'n');
    struct Case {
        std::string line;
        const char* failing;
        std::string ending;
    };
    const Case cases[] = {
        {std::string(9000, 'B'), "", "]"},
        {std::string(4056, 'B'), "", "]"},  // fits exactly: nothing is cut
        {std::string(4057, 'B'), "", "]"},
        {"SI^Apa^1^1^A^XY^^" + tail, "", "], invalid ItemGroup [XY]"},
        {"PT^" + tail, "", "], field too long"},
        {"SI^Apa^1^1^A^^^" + tail, "SellItem", "], check log"},
        {"AP^9^1^" + tail, "", "], invalid paymentType [9]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line.substr(0, 20) + " length " + std::to_string(c.line.size()));
        RecordingRegister driver;
        driver.failing.insert(c.failing);
        const Result<std::string> run = ExecuteCommandText(c.line, false, &driver);
        const std::string& reply = ReplyTextOf(run);

        EXPECT_FALSE(run.ok());

        const std::size_t quoted = kMaxReply - kErrorHead.size() - c.ending.size();
        EXPECT_LE(reply.size(), kMaxReply);
        EXPECT_EQ(reply, std::string(kErrorHead) + c.line.substr(0, quoted) + c.ending);
    }
}

TEST(CommandInterpreterReplyBound, LongCloseReceiptMessageIsTrimmed) {
    RecordingRegister driver;
    driver.closeMessage = std::string(2000, 'a') + std::string(8000, 'b');
    const Result<std::string> run = ExecuteCommandText("ES", false, &driver);

    EXPECT_TRUE(run.ok());
    EXPECT_EQ(ReplyTextOf(run), driver.closeMessage.substr(0, kReplyTextCapacity - 1));
}

// Random texts of codes, separators, digits, blanks, NUL and high bytes, with every operation
// failing at random: nothing crashes and the reply never outgrows its bound.
TEST(CommandInterpreterReplyBound, RandomTextsKeepTheBound) {
    // "|" comes last, so that rounds which leave it out make one long line.
    static constexpr std::string_view kPieces[] = {"BS", "SI", "AP", "^", "PT",   "ES",   "ZR",
                                                   "XR", "RO", "^",  " ", "41",   "9",    "-",
                                                   ".",  "0",  "A",  "x", "\0"sv, "\xff", "|"};
    std::mt19937 random(20240601);
    for (int round = 0; round < 500; ++round) {
        const std::size_t alphabet = 4 + random() % (std::size(kPieces) - 3);
        std::string text;
        const std::size_t pieces = random() % 6000;
        for (std::size_t i = 0; i < pieces; ++i) text += kPieces[random() % alphabet];
        RecordingRegister driver;
        for (const char* operation : {"SellItem", "CloseReceipt", "DailyReportsZ"}) {
            if (random() % 2 == 0) driver.failing.insert(operation);
        }
        driver.closeMessage = std::string(random() % 5000, 'm');
        const Result<std::string> run =
            ExecuteCommandText(text, random() % 2 == 0, random() % 4 == 0 ? nullptr : &driver);

        ASSERT_LE(ReplyTextOf(run).size(), kReplyTextCapacity - 1) << text.substr(0, 200);
    }
}

}  // namespace
}  // namespace tillvane
