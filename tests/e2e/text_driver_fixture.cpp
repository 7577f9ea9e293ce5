#include "tests/e2e/text_driver_fixture.h"

#include <map>

#include "registers/text/receipt_path.h"

namespace tillvane::testing {

void TextDriverEndToEnd::ConfigureTextDriver(const std::vector<std::string>& settings) {
    std::filesystem::create_directories(receipts_);
    std::vector<std::string> config = {"driverModel=SELLTEXT", "outputFolder=" + receipts_.string(),
                                       "tcpPort=" + std::to_string(port_)};
    config.insert(config.end(), settings.begin(), settings.end());
    service_.WriteConfig(config);
}

void TextDriverEndToEnd::StartService() {
    service_.Start();
    ASSERT_TRUE(WaitUntilListening(port_)) << service_.child().Stderr();
}

std::vector<std::string> TextDriverEndToEnd::TakeReceiptFiles() const {
    std::map<std::string, std::string> byName;
    for (const auto& entry : std::filesystem::directory_iterator(receipts_)) {
        if (IsTemporaryReceiptName(entry.path().filename().string())) continue;
        byName[entry.path().filename().string()] = ReadFile(entry.path());
        std::filesystem::remove(entry.path());
    }
    std::vector<std::string> contents;
    for (const auto& [name, content] : byName) contents.push_back(content);
    return contents;
}

void TextDriverEndToEnd::ClearReceipts() const {
    for (const auto& entry : std::filesystem::directory_iterator(receipts_)) {
        std::filesystem::remove(entry.path());
    }
}

}  // namespace tillvane::testing
