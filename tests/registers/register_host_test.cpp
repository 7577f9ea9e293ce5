#include "registers/register_host.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/registers/register_test_support.h"

namespace tillvane {
namespace {

using testing::FileNames;
using testing::LogMessages;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

constexpr const char* kTextEntry = "SellText model initiated";
constexpr const char* kSerialEntry = "SerialUFP (universal fiscal printer) model initiated";

TEST(RegisterHost, SelectsTheDriverByModel) {
    const struct {
        std::string model;
        bool created;
        std::string upperCased;
        std::string logEntry;
    } cases[] = {
        {"SELLTEXT", true, "SELLTEXT", kTextEntry},
        {"TextSell", true, "TEXTSELL", kTextEntry},
        {"serialufp", true, "SERIALUFP", kSerialEntry},
        {"Serial", true, "SERIAL", kSerialEntry},
        {"ufp", true, "UFP", kSerialEntry},
        {"SELL TEXT", false, "SELL TEXT", "Driver model [SELL TEXT] not implemented"},
        {"", false, "", "Driver model [] not implemented"},
        {"SELLTEXT2", false, "SELLTEXT2", "Driver model [SELLTEXT2] not implemented"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        // The serial driver opens its port at once: one that surely is not there.
        const std::string port = dir.File("no-port");
        WriteFile(dir.File("Tillvane_se.ini"),
                  "driverModel=" + c.model + "\r\nTVA_GROUPS=A:1\r\nPort=" + port);
        RegisterHost host;
        EXPECT_EQ(host.Initialize(dir.File("Tillvane_se.ini"), dir.File("_Tillvane_se.log")).ok(),
                  c.created)
            << c.model;
        EXPECT_EQ(host.driver() != nullptr, c.created) << c.model;
        EXPECT_EQ(host.driverModel(), c.upperCased);
        std::vector<std::string> entries = LogMessages(dir.File("_Tillvane_se.log"));
        if (c.logEntry == kSerialEntry) {
            // The missing port, in the system's own words after the colon.
            ASSERT_EQ(entries.size(), 2u);
            EXPECT_TRUE(entries[1].starts_with("Port " + port + " missing: ")) << entries[1];
            entries.pop_back();
        }
        EXPECT_EQ(entries, std::vector<std::string>{c.logEntry});
    }
}

TEST(RegisterHost, MissingConfigurationIsLoggedAndSelectsNoDriver) {
    TempDir dir;
    RegisterHost host;
    const std::string configPath = dir.File("absent.ini");
    EXPECT_FALSE(host.Initialize(configPath, dir.File("_Tillvane_se.log")).ok());
    EXPECT_EQ(host.driver(), nullptr);
    EXPECT_EQ(LogMessages(dir.File("_Tillvane_se.log")),
              (std::vector<std::string>{"Failed to open " + configPath + ": no such file",
                                        "Driver model [] not implemented"}));
}

TEST(RegisterHost, OverLongModelIsCutToItsField) {
    TempDir dir;
    WriteFile(dir.File("c.ini"), "driverModel=" + std::string(150, 'm'));
    RegisterHost host;
    EXPECT_FALSE(host.Initialize(dir.File("c.ini"), "").ok());
    EXPECT_EQ(host.driverModel(), std::string(kMaxDriverModelLength, 'M'));
}

TEST(RegisterHost, EmptyLogPathWritesNoLogAnywhere) {
    TempDir dir;
    WriteFile(dir.File("c.ini"),
              "driverModel=SELLTEXT\r\nTVA_GROUPS=\r\noutputFolder=" + dir.path().string());
    RegisterHost host;
    EXPECT_TRUE(host.Initialize(dir.File("c.ini"), "").ok());
    ASSERT_NE(host.driver(), nullptr);
    EXPECT_FALSE(host.driver()->BeginSell());  // unconfigured, and would log twice
    EXPECT_EQ(FileNames(dir.path()), std::vector<std::string>{"c.ini"});
}

TEST(RegisterHost, DriverSharesTheLogAndIsReleased) {
    TempDir dir;
    WriteFile(dir.File("c.ini"), "driverModel=SELLTEXT\r\nTVA_GROUPS=A:1\r\noutputFolder=" +
                                     dir.path().string() + "\r\noutputFileName=fixed");
    RegisterHost host;
    ASSERT_TRUE(host.Initialize(dir.File("c.ini"), dir.File("_Tillvane_se.log")).ok());
    VirtualRegister& driver = *host.driver();
    EXPECT_EQ(driver.state, ReceiptState::ready);
    std::string name = "Apa";
    EXPECT_FALSE(driver.SellItem(name, 1.0, 1.0, "Z", '1', 1));
    EXPECT_TRUE(driver.BeginSell());
    EXPECT_TRUE(driver.SellItem(name, 1.0, 1.0, "A", '1', 1));
    host.ReleaseDriver();  // a receipt still open is abandoned: no empty file stays behind
    EXPECT_EQ(host.driver(), nullptr);
    EXPECT_FALSE(std::filesystem::exists(dir.File("fixed.txt")));
    EXPECT_EQ(LogMessages(dir.File("_Tillvane_se.log")),
              (std::vector<std::string>{kTextEntry, "VAT NOT FOUND",
                                        "Receipt abandoned: the driver is released"}));
}

}  // namespace
}  // namespace tillvane
