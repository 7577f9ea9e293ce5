// The register log and the settings every driver shares.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "registers/register_log.h"
#include "tests/registers/register_test_support.h"

namespace tillvane {
namespace {

using testing::LogMessages;
using testing::MakeTextDriver;
using testing::ReadFile;
using testing::TempDir;

TEST(RegisterLog, EntriesAreLineBreakTimeStampAndMessage) {
    TempDir dir;
    RegisterLog log;
    log.SetPath(dir.File("register.log"));
    log.Write("first");
    log.Write("second; with \x01 bytes");
    EXPECT_EQ(LogMessages(dir.File("register.log")),
              (std::vector<std::string>{"first", "second; with \x01 bytes"}));
    EXPECT_TRUE(ReadFile(dir.File("register.log")).starts_with(testing::kLogLineBreak));
}

TEST(RegisterLog, EmptyOrUnusablePathWritesNothing) {
    TempDir dir;
    RegisterLog log;
    log.Write("nowhere");
    EXPECT_FALSE(log.enabled());
    log.SetPath(dir.File(std::string(kMaxLogPathLength, 'p')));  // too long to hold
    EXPECT_FALSE(log.enabled());
    log.SetPath(dir.File("missing-folder/register.log"));
    log.Write("lost");  // dropped, and nothing breaks
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(VatGroups, ParsedFromTvaGroups) {
    using Groups = std::vector<std::pair<std::string, std::string>>;
    const struct {
        std::string value;
        Groups expected;
    } cases[] = {
        {"A:1|B:2|C:3", {{"A", "1"}, {"B", "2"}, {"C", "3"}}},
        {"|A:1||B:2|", {{"A", "1"}, {"B", "2"}}},
        {"A : 1", {{"A ", "1"}}},
        {"A:1:x", {{"A", "1"}}},
        // Without a name or a code a sale would carry an empty VAT code; with "," or "=" it
        // would carry another entry ("1,B").
        {"A|B:|:5|C:1,D:2|E:5", {{"E", "5"}}},
        {"ABCDEFGHI:12345", {{"ABCDEFGHI", "12345"}}},
        // Cut, a name or code would be another group: such an entry is refused.
        {"LONGNAME123:1|B:2", {{"B", "2"}}},
        {"A:123456|B:2", {{"B", "2"}}},
        {"A:1|" + std::string(201, 'x') + "|B:2", {{"A", "1"}}},
        {"A:" + std::string(101, '9') + "|B:2", {{"B", "2"}}},
        {std::string(101, 'N') + ":1|B:2", {{"B", "2"}}},
        // A ";" or a control byte would put a field too many into every sale of the group.
        {"A:1;B:2", {}},
        {"A:1;B:2|C:3", {{"C", "3"}}},
        {"A;:1|B\t:2|C:\x1a"
         "3|D:4",
         {{"D", "4"}}},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const auto driver = MakeTextDriver(dir, "TVA_GROUPS=" + c.value);
        Groups groups;
        for (const VatGroup& group : driver->vatGroups) groups.emplace_back(group.name, group.code);
        EXPECT_EQ(groups, c.expected) << c.value;
        // Without a single group the driver stays unconfigured (logged as TVA_GROUPS NOT DEFINED).
        EXPECT_EQ(driver->state,
                  c.expected.empty() ? ReceiptState::unconfigured : ReceiptState::ready);
    }
}

TEST(VatGroups, EmptyListLeavesTheDriverUnconfigured) {
    TempDir dir;
    const auto driver = MakeTextDriver(dir, "TVA_GROUPS=||");
    EXPECT_EQ(driver->state, ReceiptState::unconfigured);
    EXPECT_EQ(LogMessages(dir.File("register.log")),
              std::vector<std::string>{"TVA_GROUPS NOT DEFINED"});
    EXPECT_FALSE(driver->BeginSell());

    TempDir other;
    EXPECT_EQ(MakeTextDriver(other, "x=1")->state, ReceiptState::ready);  // no key: no groups
}

TEST(VatGroups, LookupIsExactAndFindsTheFirst) {
    TempDir dir;
    const auto driver = MakeTextDriver(dir, "TVA_GROUPS=A:1|A:2|b:3");
    ASSERT_NE(driver->FindVatGroup("A"), nullptr);
    EXPECT_EQ(driver->FindVatGroup("A")->code, "1");
    EXPECT_EQ(driver->FindVatGroup("a"), nullptr);
    EXPECT_EQ(driver->FindVatGroup("B"), nullptr);
    EXPECT_EQ(driver->FindVatGroup("A "), nullptr);
}

TEST(SharedSettings, DefaultsAndValues) {
    TempDir dir;
    const auto defaults = MakeTextDriver(dir, "");
    EXPECT_EQ(defaults->disabledCommands, "");
    EXPECT_EQ(defaults->allowPriceDecimals, 1);
    EXPECT_EQ(defaults->maxItemNameSize, 80);
    EXPECT_EQ(defaults->alwaysSellEqualsPayed, 0);

    const auto set = MakeTextDriver(dir,
                                    "disabledCommands=t,p\r\nallowPriceDecimals=0\r\n"
                                    "maxItemNameSize=abc\r\nalwaysSellEqualsPayed= 1x");
    EXPECT_EQ(set->disabledCommands, "T,P");
    EXPECT_TRUE(set->IsCommandDisabled('T'));
    EXPECT_TRUE(set->IsCommandDisabled('p'));
    EXPECT_FALSE(set->IsCommandDisabled('C'));
    EXPECT_EQ(set->allowPriceDecimals, 0);
    EXPECT_EQ(set->maxItemNameSize, 0);  // not a number
    EXPECT_EQ(set->alwaysSellEqualsPayed, 1);
}

TEST(VatGroups, RefusedEntryIsNamedInTheLog) {
    TempDir dir;
    const auto driver = MakeTextDriver(dir, "TVA_GROUPS=LONGNAME123:1234567|A:1");
    ASSERT_EQ(driver->vatGroups.size(), 1u);
    EXPECT_EQ(driver->vatGroups[0].name, "A");
    EXPECT_EQ(LogMessages(dir.File("register.log")),
              std::vector<std::string>{"TVA_GROUPS entry [LONGNAME123:1234567] refused: a name "
                                       "holds at most 9 characters, a code at most 5"});
}

TEST(VatGroups, EntryWithAFieldEndIsNamedInTheLog) {
    TempDir dir;
    const auto driver = MakeTextDriver(dir,
                                       "TVA_GROUPS=A:1;B:2|C:\x1a"
                                       "3|D:4");
    ASSERT_EQ(driver->vatGroups.size(), 1u);
    EXPECT_EQ(driver->vatGroups[0].name, "D");
    const std::string why = "] refused: a name or code may not hold \";\" or a control character";
    EXPECT_EQ(LogMessages(dir.File("register.log")),
              (std::vector<std::string>{"TVA_GROUPS entry [A:1;B:2" + why,
                                        "TVA_GROUPS entry [C: 3" + why}));
}

// Cut, the value would switch on a command the shop switched off.
TEST(SharedSettings, OverLongDisabledCommandsAreRefused) {
    TempDir dir;
    const std::string value = std::string(99, ',') + "T";
    const auto driver = MakeTextDriver(dir, "TVA_GROUPS=A:1\r\ndisabledCommands=" + value);
    EXPECT_EQ(driver->state, ReceiptState::unconfigured);
    EXPECT_FALSE(driver->BeginSell());
    EXPECT_EQ(LogMessages(dir.File("register.log")).front(),
              "disabledCommands longer than 99 characters refused: " + value);

    TempDir fits;
    const auto kept = MakeTextDriver(fits, "disabledCommands=" + std::string(98, ',') + "T");
    EXPECT_EQ(kept->state, ReceiptState::ready);
    EXPECT_TRUE(kept->IsCommandDisabled('T'));
}

}  // namespace
}  // namespace tillvane
