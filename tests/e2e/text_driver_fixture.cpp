#include "tests/e2e/text_driver_fixture.h"

#include <map>

#include "registers/text/receipt_path.h"

namespace tillvane::testing {

namespace {

void WriteTextDriverConfig(const ServiceProcess& service, const std::filesystem::path& receipts,
                           int port, const std::vector<std::string>& settings) {
    std::filesystem::create_directories(receipts);
    std::vector<std::string> config = {"driverModel=SELLTEXT", "outputFolder=" + receipts.string(),
                                       "tcpPort=" + std::to_string(port)};
    config.insert(config.end(), settings.begin(), settings.end());
    service.WriteConfig(config);
}

}  // namespace

void TextDriverEndToEnd::ConfigureTextDriver(const std::vector<std::string>& settings) {
    settings_ = settings;
    WriteTextDriverConfig(service_, receipts_, port_, settings_);
}

void TextDriverEndToEnd::StartService() {
    std::string failure;
    port_ = service_.StartListening(
        [this](int port) { WriteTextDriverConfig(service_, receipts_, port, settings_); }, failure);
    ASSERT_NE(port_, 0) << failure;
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
