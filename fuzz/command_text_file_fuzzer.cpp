// Any command text against the text-file driver writing into a scratch folder, with item
// names plain or in hexadecimal. Whatever the text did, the next ordinary receipt succeeds and
// its file holds exactly its own lines.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "commands/command_interpreter.h"
#include "fuzz/fuzz_support.h"
#include "registers/register_host.h"
#include "tests/support/temp_dir.h"

using namespace tillvane;
using tillvane::fuzzing::Violated;

namespace {

constexpr std::string_view kOrdinaryReceipt = "BS|SI^Apa^2.50^2^A|PT^thank you|AP^0^5.00|ES";

// One driver of a configuration, and the file of an ordinary receipt on a fresh one.
struct Till {
    RegisterHost host;
    std::filesystem::path receiptFile;
    std::string ordinaryReceipt;
};

std::unique_ptr<Till> MakeTill(std::string_view name, std::string_view settings) {
    auto till = std::make_unique<Till>();
    const auto folder = fuzzing::ScratchFolder() / name;
    std::filesystem::create_directories(folder / "out");
    const auto ini = folder / "Tillvane_se.ini";
    testing::WriteFile(ini, "driverModel=SELLTEXT\r\nTVA_GROUPS=A:1|B:2\r\noutputFolder=" +
                                (folder / "out").string() + "\r\noutputFileName=bon\r\n" +
                                std::string(settings));
    // No register log: it would only grow with every input.
    if (!till->host.Initialize(ini.string(), "").ok()) Violated("the text driver was not created");
    till->receiptFile = folder / "out" / "bon.txt";
    if (!ExecuteCommandText(kOrdinaryReceipt, false, till->host.driver()).ok()) {
        Violated("an ordinary receipt failed on a fresh driver");
    }
    till->ordinaryReceipt = testing::ReadFile(till->receiptFile);
    return till;
}

// Fields ended by ";" on each kind of command line, the fixed ones included: a name or text
// that added or ended a field would move a figure into another field.
int FieldsOfRecord(char letter) {
    switch (letter) {
        case 'S':
            return 9;
        case 'T':
        case 'P':
        case 'C':
        case 'I':
            return 6;
        case 'H':
        case 'F':
        case 'N':
        case 'D':
        case 'Z':
        case 'X':
            return 1;
        default:
            return -1;
    }
}

// Every line the driver has written is one whole command line of a known kind.
void CheckCommandLines(const std::string& file) {
    constexpr std::string_view kFixedFields = ",1,______,_,__;";
    std::size_t start = 0;
    while (start < file.size()) {
        const std::size_t end = file.find('\n', start);
        if (end == std::string::npos) Violated("a command line without its line end");
        const std::string_view line(file.data() + start, end - start);
        if (line.size() < 1 + kFixedFields.size() ||
            line.substr(1, kFixedFields.size()) != kFixedFields ||
            std::count(line.begin(), line.end(), ';') != FieldsOfRecord(line.front()) ||
            line.find('\r') != std::string_view::npos) {
            Violated("a malformed command line in the receipt file: " + std::string(line));
        }
        start = end + 1;
    }
}

}  // namespace

// Input: one byte of switches (hexadecimal names; the second configuration), then the text.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::unique_ptr<Till> tills[] = {
        MakeTill("plain", ""),
        MakeTill("strict",
                 "alwaysSellEqualsPayed=1\r\nallowPriceDecimals=0\r\n"
                 "maxItemNameSize=5\r\ndisabledCommands=H\r\n"),
    };
    if (size < 1) return 0;
    const bool hexNames = (data[0] & 1) != 0;
    Till& till = *tills[(data[0] >> 1) & 1];
    const std::string_view text = fuzzing::AsText(data + 1, size - 1);

    const Result<std::string> run = ExecuteCommandText(text, hexNames, till.host.driver());
    if (ReplyTextOf(run).size() >= kReplyTextCapacity) Violated("reply over its bound");
    CheckCommandLines(testing::ReadFile(till.receiptFile));

    const Result<std::string> ordinary =
        ExecuteCommandText(kOrdinaryReceipt, false, till.host.driver());
    if (!ordinary.ok()) {
        Violated("the ordinary receipt after the text failed: " + ReplyTextOf(ordinary));
    }
    if (testing::ReadFile(till.receiptFile) != till.ordinaryReceipt) {
        Violated("the ordinary receipt after the text holds other lines");
    }
    return 0;
}
