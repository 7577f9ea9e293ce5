// Retries with REQUESTID against the real program and the text driver: each id prints at most
// once whatever the till sends again, across restarts, until the id is forgotten; the journal
// beside the program records every request.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/utc_time.h"
#include "platform/posix/unique_fd.h"
#include "tests/e2e/service_process.h"
#include "tests/e2e/text_driver_fixture.h"
#include "tests/support/free_port.h"
#include "tests/support/http_client.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace tillvane::testing {
namespace {

using namespace std::chrono_literals;

const std::string kReused = "ERR|REQUESTID already used for another command";
const std::string kInvalid = "ERR|invalid REQUESTID";
const std::string kUnknown =
    "ERR|outcome unknown: the service stopped while this request ran; check the printer before "
    "retrying with a new REQUESTID";
const std::string kNoJournal = "ERR|request journal cannot be written; nothing was printed";

// A sale whose receipt file names it, so that its copies can be counted.
std::string Sale(const std::string& name) {
    return "BS|SI^" + name + "^1.00^1^A|AP^0^1.00|ES";
}

struct Step {
    std::string id;    // sent as REQUESTID unless `noId`
    std::string text;  // the command text
    int status;
    std::string reply;
    bool noId = false;
    bool get = false;  // GET with the query string instead of a POST form
};

struct Row {
    const char* name;
    std::vector<Step> steps;
    std::vector<std::pair<std::string, int>> printed;  // sale name, receipt files naming it
};

// A small file system in memory mounted on a folder, for as long as the object lives.
class SmallDisk {
  public:
    SmallDisk(const std::filesystem::path& folder, std::uintmax_t bytes) : folder_(folder) {
        std::filesystem::create_directories(folder);
        const std::string options = "size=" + std::to_string(bytes);
        mounted_ =
            ::geteuid() == 0 && ::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~SmallDisk() {
        if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return mounted_; }

    std::filesystem::path Path(const std::string& name) const { return folder_ / name; }

    // Writes a file of `name` until the disk has no room left.
    void Fill(const std::string& name) const {
        const platform::UniqueFd filler(
            ::open(Path(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        const std::string page(4096, 'f');
        while (::write(filler.get(), page.data(), page.size()) > 0) {
        }
    }

  private:
    std::filesystem::path folder_;
    bool mounted_ = false;
};

class RequestIdEndToEnd : public TextDriverEndToEnd {
  protected:
    void Start(std::vector<std::string> settings = {}) {
        settings.insert(settings.begin(), "TVA_GROUPS=A:1");
        StartTextDriver(settings);
    }

    void Stop() {
        service_.child().Signal(SIGTERM);
        ASSERT_EQ(service_.child().WaitForExit(kStopBound), 0);
    }

    HttpResponse Send(const Step& step) {
        std::string query = "CMD=" + UrlEncode(step.text);
        if (!step.noId) query += "&REQUESTID=" + UrlEncode(step.id);
        return step.get ? Get(port_, "/REGCMD?" + query) : PostForm(port_, "/REGCMD", query);
    }

    void Expect(const Step& step) {
        const HttpResponse response = Send(step);
        EXPECT_EQ(response.status, step.status) << step.id << " " << response.error;
        EXPECT_EQ(response.body, step.reply) << step.id;
    }

    // Receipt files that hold the sale `name`.
    int Printed(const std::string& name) const {
        int count = 0;
        for (const auto& entry : std::filesystem::directory_iterator(receipts_)) {
            if (ReadFile(entry.path()).find(";" + name + ";") != std::string::npos) ++count;
        }
        return count;
    }

    std::string Journal() const { return ReadFile(service_.File("Tillvane_se.jsonl")); }
};

TEST_F(RequestIdEndToEnd, EachIdRunsOnceAndItsRetriesGetItsReply) {
    Start();
    const std::string badVat = "BS|SI^Lapte^4^1^Z|AP^0^4|ES";
    const std::string badVatReply = "ERR|EROARE PROTOCOL WEB LA LINIA [SI^Lapte^4^1^Z], check log";
    const std::vector<Row> rows = {
        {"FirstThenReplay",
         {{"r1", Sale("Paine"), 200, "OK|"}, {"r1", Sale("Paine"), 200, "OK|"}},
         {{"Paine", 1}}},
        {"SameIdOtherText",
         {{"r2", Sale("Lapte"), 200, "OK|"},
          {"r2", Sale("Oua"), 409, kReused},
          {"r2", Sale("Lapte"), 200, "OK|"}},
         {{"Lapte", 1}, {"Oua", 0}}},
        {"FailureIsReplayedToo",
         {{"r3", badVat, 200, badVatReply}, {"r3", badVat, 200, badVatReply}},
         {}},
        {"InvalidIds",
         {{"", Sale("Unt"), 400, kInvalid},
          {std::string(65, 'a'), Sale("Unt"), 400, kInvalid},
          {"a b", Sale("Unt"), 400, kInvalid},
          {"a/b", Sale("Unt"), 400, kInvalid},
          {"caf\xC3\xA9", Sale("Unt"), 400, kInvalid},
          {"a|b", Sale("Unt"), 400, kInvalid, false, true}},
         {{"Unt", 0}}},
        {"LongestIdWithEveryCharacter",
         {{"Az09._:-" + std::string(56, 'x'), Sale("Miere"), 200, "OK|"},
          {"Az09._:-" + std::string(56, 'x'), Sale("Miere"), 200, "OK|"}},
         {{"Miere", 1}}},
        {"GetThenPost",
         {{"g1", Sale("Cafea"), 200, "OK|", false, true}, {"g1", Sale("Cafea"), 200, "OK|"}},
         {{"Cafea", 1}}},
        // Ids are compared as sent: letter case counts.
        {"CaseCounts",
         {{"c1", Sale("Ceai"), 200, "OK|"}, {"C1", Sale("Ceai"), 200, "OK|"}},
         {{"Ceai", 2}}},
        {"WithoutIdAsBefore",
         {{"", Sale("Zahar"), 200, "OK|", true}, {"", Sale("Zahar"), 200, "OK|", true}},
         {{"Zahar", 2}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        for (const Step& step : row.steps) Expect(step);
        for (const auto& [name, count] : row.printed) EXPECT_EQ(Printed(name), count) << name;
    }
    // One record per request, replays marked; the first of r1 was preceded by its start.
    const std::string journal = Journal();
    EXPECT_NE(journal.find(R"("event":"start","client":"127.0.0.1","id":"r1")"), std::string::npos);
    EXPECT_NE(
        journal.find(R"("id":"r1","command":"BS|SI^Paine^1.00^1^A|AP^0^1.00|ES","status":200,)"
                     R"("reply":"OK|")"),
        std::string::npos);
    EXPECT_NE(journal.find(R"("replay":true)"), std::string::npos);
    std::size_t records = 0;
    for (std::size_t at = journal.find("\"event\":\"request\""); at != std::string::npos;
         at = journal.find("\"event\":\"request\"", at + 1)) {
        ++records;
    }
    std::size_t steps = 0;
    for (const Row& row : rows) steps += row.steps.size();
    EXPECT_EQ(records, steps);
}

TEST_F(RequestIdEndToEnd, IdsOutliveARestartAndACrashLeavesTheirOutcomeUnknown) {
    Start();
    Expect({"s1", Sale("Paine"), 200, "OK|"});
    Stop();
    // As a crash leaves it, just now: a request whose start is on the disk but not its end,
    // and a record cut short.
    const std::string crashed = Sale("Lapte");
    const std::string now = FormatUtcMillis(UnixMillisNow());
    WriteFile(service_.File("Tillvane_se.jsonl"),
              Journal() + R"({"time":")" + now +
                  R"(","event":"start","client":"127.0.0.1","id":"s2","command":")" + crashed +
                  "\"}\n" + R"({"time":")" + now + R"(","event":"request","client":"127.)");
    Start();
    Expect({"s1", Sale("Paine"), 200, "OK|"});
    Expect({"s2", crashed, 409, kUnknown});
    Expect({"s2", crashed, 409, kUnknown});
    Expect({"s3", Sale("Oua"), 200, "OK|"});
    EXPECT_EQ(Printed("Paine"), 1);
    EXPECT_EQ(Printed("Lapte"), 0);
    EXPECT_EQ(Printed("Oua"), 1);
    // The torn record is gone; every line is whole.
    for (std::size_t start = 0, end; (end = Journal().find('\n', start)) != std::string::npos;
         start = end + 1) {
        const std::string line = Journal().substr(start, end - start);
        EXPECT_TRUE(line.starts_with("{") && line.ends_with("}")) << line;
    }
    EXPECT_TRUE(Journal().ends_with("}\n"));
}

TEST_F(RequestIdEndToEnd, AnIdIsForgottenAfterItsRetention) {
    // About five seconds.
    Start({"requestIdDays=0.00006"});
    Expect({"e1", Sale("Paine"), 200, "OK|"});
    Expect({"e1", Sale("Paine"), 200, "OK|"});
    EXPECT_EQ(Printed("Paine"), 1);
    EXPECT_TRUE(WaitUntil(
        [&] {
            Expect({"e1", Sale("Paine"), 200, "OK|"});
            return Printed("Paine") == 2;
        },
        20s));
    // Forgotten, it was recorded anew: the next retry is a replay again.
    Expect({"e1", Sale("Paine"), 200, "OK|"});
    EXPECT_EQ(Printed("Paine"), 2);
}

TEST_F(RequestIdEndToEnd, WithoutAWritableJournalIdsAreRefusedAndOthersPrint) {
    // A folder where the journal should be: it cannot be opened.
    std::filesystem::create_directories(service_.File("Tillvane_se.jsonl"));
    Start();
    const Row row = {"JournalIsAFolder",
                     {{"j1", Sale("Paine"), 503, kNoJournal},
                      {"j1", Sale("Paine"), 503, kNoJournal},
                      {"", Sale("Lapte"), 200, "OK|", true}},
                     {{"Paine", 0}, {"Lapte", 1}}};
    for (const Step& step : row.steps) Expect(step);
    for (const auto& [name, count] : row.printed) EXPECT_EQ(Printed(name), count) << name;
}

// The journal's disk fills up: a request with an id is refused unprinted while its start cannot
// be recorded, one without prints; a record cut short by the full disk leaves nothing that
// could hide the next one, so that after a restart every id still prints at most once.
TEST_F(RequestIdEndToEnd, AFullDiskRefusesIdsAndNoIdPrintsTwiceAfterARestart) {
    const std::filesystem::path program =
        std::filesystem::path(TILLVANE_BINARY_DIR) / "service" / "Tillvane_se";
    constexpr std::uintmax_t kRoomBesideTheProgram = 3 * 1024 * 1024;
    const SmallDisk disk(dir_.path() / "small-disk",
                         std::filesystem::file_size(program) + kRoomBesideTheProgram);
    if (!disk.mounted()) GTEST_SKIP() << "mounting a tmpfs needs root";
    service_ = ServiceProcess(dir_, "small-disk");
    Start();
    Expect({"before", Sale("Inainte"), 200, "OK|"});
    disk.Fill("filler");

    // Each record that still fits takes the room left; then they are refused.
    std::vector<std::string> answered;
    std::vector<std::string> refused;
    for (int i = 1; i <= 40 && refused.size() < 3; ++i) {
        const std::string id = std::string("Z").append(std::to_string(i));
        const HttpResponse response = Send({id, Sale(id), 0, ""});
        if (response.status == 503) {
            EXPECT_EQ(response.body, kNoJournal) << id;
            EXPECT_EQ(Printed(id), 0) << id;
            refused.push_back(id);
        } else {
            EXPECT_EQ(response.body, "OK|") << id << " " << response.error;
            EXPECT_EQ(Printed(id), 1) << id;
            answered.push_back(id);
        }
    }
    ASSERT_EQ(refused.size(), 3u) << "the journal never ran out of room";
    Expect({"", Sale("FaraId"), 200, "OK|", true});
    EXPECT_EQ(Printed("FaraId"), 1);

    std::filesystem::remove(disk.Path("filler"));
    Expect({"W1", Sale("W1"), 200, "OK|"});
    Stop();
    Start();
    Expect({"W1", Sale("W1"), 200, "OK|"});
    EXPECT_EQ(Printed("W1"), 1);
    // Answered before: told again or told its outcome is unknown, never printed again.
    for (const std::string& id : answered) {
        EXPECT_NE(Send({id, Sale(id), 0, ""}).status, 503) << id;
        EXPECT_EQ(Printed(id), 1) << id;
    }
    // Refused ones never ran: they print now, once.
    for (const std::string& id : refused) {
        Expect({id, Sale(id), 200, "OK|"});
        Expect({id, Sale(id), 200, "OK|"});
        EXPECT_EQ(Printed(id), 1) << id;
    }
    EXPECT_EQ(Printed("Inainte"), 1);
    for (std::size_t start = 0, end; (end = Journal().find('\n', start)) != std::string::npos;
         start = end + 1) {
        const std::string line = Journal().substr(start, end - start);
        EXPECT_TRUE(line.starts_with("{\"time\"") && line.ends_with("}")) << line;
    }
    Stop();
}

}  // namespace
}  // namespace tillvane::testing
