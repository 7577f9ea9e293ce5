// Whole configuration files: the reader takes any bytes, and a driver configured from them
// (output kept in the scratch folder) still sells or refuses without harm.

#include <cstdint>
#include <string>

#include "commands/command_interpreter.h"
#include "config/ini_loader.h"
#include "fuzz/fuzz_support.h"
#include "registers/register_host.h"
#include "tests/support/temp_dir.h"

using namespace tillvane;
using tillvane::fuzzing::Violated;

namespace {

// The first entry of a key wins: these keep the driver on the text driver and its files in the
// scratch folder, whatever the rest of the file says.
std::string FixedSettings() {
    const auto out = fuzzing::ScratchFolder() / "out";
    std::filesystem::create_directories(out);
    return "driverModel=SELLTEXT\r\noutputFolder=" + out.string() + "\r\noutputFileName=bon\r\n";
}

void CheckReader(const std::filesystem::path& path) {
    INILoader loader;
    // A file that is no text is refused, with a reason; anything else loads.
    if (const auto error = loader.Load(path.string()); !error.ok()) {
        if (error.text().empty()) Violated("a refused file without a reason");
        return;
    }
    std::string value;
    for (const INIEntry& entry : loader.entries()) {
        if (entry.key.size() > kMaxConfigKeyLength) Violated("key over its bound");
        if (entry.value.size() > kMaxConfigValueLength) Violated("value over its bound");
        if (!loader.GetValue(value, entry.key)) Violated("a loaded key is not found");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string fixed = FixedSettings();
    const auto path = fuzzing::ScratchFolder() / "Tillvane_se.ini";
    const std::string_view text = fuzzing::AsText(data, size);

    testing::WriteFile(path, std::string(text));
    CheckReader(path);

    testing::WriteFile(path, fixed + std::string(text));
    // A file that is no text (a NUL byte, say) is refused whole, and with it the driver model;
    // any text gives the text driver, whatever follows the fixed settings.
    const bool isText = INILoader().Load(path.string()).ok();
    RegisterHost host;
    if (host.Initialize(path.string(), "").ok() != isText) {
        Violated(isText ? "the text driver was not created" : "a refused file made a driver");
    }
    if (!isText) return 0;
    const std::string commands[] = {
        "BS|SI^Apa^2.50^2^A|PT^text|AP^0^5.00|ES",
        "BS|SI^" + std::string(120, 'N') + "^1^1^B^2^P|AP^1^1|ES",
        "XR",
    };
    for (const std::string& command : commands) {
        const Result<std::string> run = ExecuteCommandText(command, false, host.driver());
        if (ReplyTextOf(run).size() >= kReplyTextCapacity) Violated("reply over its bound");
    }
    return 0;
}
