// The request journal on disk: what a crash leaves (a torn last line, an empty or missing
// file) is read back safely, rotation keeps every record, old files go, and the ids rebuilt
// from the records say what the service knows of each.

#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/json_line.h"
#include "base/utc_time.h"
#include "requests/journal/journal_file.h"
#include "requests/journal/request_journal.h"
#include "requests/reply_status.h"
#include "tests/requests/journal/recording_journal_observer.h"
#include "tests/support/recording_file_system.h"
#include "tests/support/result_value.h"
#include "tests/support/temp_dir.h"

namespace tillvane {
namespace {

using testing::ReadFile;
using testing::WriteFile;
using namespace std::chrono_literals;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

TEST(JournalFileTest, OpenKeepsWholeLinesAndCutsATornTail) {
    struct Case {
        const char* name;
        bool exists;
        std::string before;
        std::string after;  // once opened and "{\"n\":9}\n" appended
    };
    const std::vector<Case> cases = {
        {"Missing", false, "", "{\"n\":9}\n"},
        {"Empty", true, "", "{\"n\":9}\n"},
        {"Whole", true, "{\"n\":1}\n", "{\"n\":1}\n{\"n\":9}\n"},
        {"TornLastLine", true, "{\"n\":1}\n{\"n\":", "{\"n\":1}\n{\"n\":9}\n"},
        {"OnlyATornLine", true, "{\"n\":1", "{\"n\":9}\n"},
        {"ZerosAfterACrash", true, std::string("{\"n\":1}\n") + std::string(10000, '\0'),
         "{\"n\":1}\n{\"n\":9}\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempDir dir;
        const std::string path = dir.File("j.jsonl");
        if (c.exists) WriteFile(path, c.before);
        JournalFile file(path);
        const platform::Error opened = file.Open();
        ASSERT_TRUE(opened.ok()) << opened.text();
        const JournalAppend appended = file.Append("{\"n\":9}\n");
        ASSERT_TRUE(appended.error.ok()) << appended.error.text();
        EXPECT_TRUE(file.WaitDurable(appended.ticket).ok());
        EXPECT_EQ(ReadFile(path), c.after);
    }
}

#ifndef _WIN32
// Lowers the largest file size this process may write, as a full disk would stop a write part
// way; the signal that comes with it is ignored while the limit holds.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &before_);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGXFSZ, &ignore, &signalBefore_);
        rlimit lowered = before_;
        lowered.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &before_);
        ::sigaction(SIGXFSZ, &signalBefore_, nullptr);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    rlimit before_{};
    struct sigaction signalBefore_ {};
};

TEST(JournalFileTest, AnAppendStoppedPartWayLeavesNoFragment) {
    testing::TempDir dir;
    const std::string path = dir.File("j.jsonl");
    JournalFile file(path);
    ASSERT_TRUE(file.Open().ok());
    ASSERT_TRUE(file.Append("{\"n\":1}\n").error.ok());
    {
        // Room for 4 more bytes: the write stops in the middle of the record.
        const FileSizeLimit limit(12);
        const JournalAppend cut = file.Append("{\"n\":2,\"pad\":\"xxxxxxxxxx\"}\n");
        EXPECT_EQ(cut.ticket, 0u);
        EXPECT_NE(cut.error.text().find("write"), std::string::npos) << cut.error.text();
        EXPECT_EQ(ReadFile(path), "{\"n\":1}\n");
    }
    const JournalAppend appended = file.Append("{\"n\":3}\n");
    ASSERT_TRUE(appended.error.ok()) << appended.error.text();
    EXPECT_TRUE(file.WaitDurable(appended.ticket).ok());
    EXPECT_EQ(ReadFile(path), "{\"n\":1}\n{\"n\":3}\n");
}
#endif

TEST(JournalFileTest, RotationKeepsEveryLineInOrderAndOldFilesGo) {
    testing::TempDir dir;
    const std::string path = dir.File("Tillvane_se.jsonl");
    constexpr std::uint64_t kSmall = 100;
    constexpr std::int64_t kKeepOneHour = 3'600'000;
    // Moved aside long ago: the first rotation removes it.
    const std::string ancient = dir.File("Tillvane_se-20000101T000000Z.jsonl");
    WriteFile(ancient, "{}\n");
    JournalFile file(path, kSmall, kKeepOneHour, platform::SystemFileSystem(), 100);
    ASSERT_TRUE(file.Open().ok());
    std::vector<std::string> written;
    std::uint64_t ticket = 0;
    for (int i = 0; i < 20; ++i) {
        written.push_back("{\"record\":" + std::to_string(i) +
                          ",\"pad\":\"xxxxxxxxxxxxxxxxxxxx\"}");
        const JournalAppend appended = file.Append(written.back() + "\n");
        ASSERT_TRUE(appended.error.ok() && appended.rotation.ok()) << appended.error.text();
        ticket = appended.ticket;
    }
    EXPECT_TRUE(file.WaitDurable(ticket).ok());

    EXPECT_FALSE(std::filesystem::exists(ancient));
    const std::vector<RotatedJournal> rotated = file.RotatedFiles();
    ASSERT_GE(rotated.size(), 5u);
    std::vector<std::string> read;
    for (const RotatedJournal& r : rotated) {
        const std::string name = std::filesystem::path(r.path).filename().string();
        EXPECT_TRUE(name.starts_with("Tillvane_se-") && name.ends_with(".jsonl")) << name;
        EXPECT_LE(std::abs(r.rotatedAtMillis - UnixMillisNow()), 60'000);
        EXPECT_LE(std::filesystem::file_size(r.path), kSmall);
        for (const std::string& line : Lines(ReadFile(r.path))) read.push_back(line);
    }
    for (const std::string& line : Lines(ReadFile(path))) read.push_back(line);
    EXPECT_EQ(read, written);

    // Files moved aside before the cutoff go; the live file stays.
    EXPECT_EQ(file.RemoveRotatedBefore(UnixMillisNow() - 3'600'000), 0);
    EXPECT_EQ(file.RemoveRotatedBefore(UnixMillisNow() + 3'600'000),
              static_cast<int>(rotated.size()));
    EXPECT_TRUE(file.RotatedFiles().empty());
    EXPECT_TRUE(std::filesystem::exists(path));
}

TEST(JsonLineTest, EveryTextIsWrittenAsExpectedAndReadsBackByteForByte) {
    struct Case {
        std::string text;
        std::string json;  // as the journal writes it
    };
    const std::vector<Case> cases = {
        {"", R"("")"},
        {"BS|SI^Apa^2.50^2^A|AP^0^5.00|ES", R"("BS|SI^Apa^2.50^2^A|AP^0^5.00|ES")"},
        {"quote \" backslash \\ slash /", R"("quote \" backslash \\ slash /")"},
        {std::string("control \x01\x1f\x7f tab\t cr\r lf\n nul ") + '\0' + " end",
         R"("control \u0001\u001f\u007f tab\t cr\r lf\n nul \u0000 end")"},
        // Valid UTF-8 stays as it is; every other byte is written as \u00XX.
        {"M\xC4\x83r \xE2\x82\xAC \xF0\x9F\x8D\x8E",
         "\"M\xC4\x83r \xE2\x82\xAC \xF0\x9F\x8D\x8E\""},
        {"latin-1 \xE9 lone \x80 cut \xE2\x82 over \xC0\xAF",
         R"("latin-1 \u00e9 lone \u0080 cut \u00e2\u0082 over \u00c0\u00af")"},
        {"surrogate \xED\xA0\x80 beyond \xF4\x90\x80\x80",
         R"("surrogate \u00ed\u00a0\u0080 beyond \u00f4\u0090\u0080\u0080")"},
    };
    for (const Case& c : cases) {
        const std::string line = JsonLineWriter().Text("command", c.text).Number("n", -5).Line();
        EXPECT_EQ(line, "{\"command\":" + c.json + ",\"n\":-5}\n");
        JsonLine parsed;
        ASSERT_TRUE(parsed.Parse(line.substr(0, line.size() - 1))) << line;
        ASSERT_NE(parsed.Text("command"), nullptr);
        EXPECT_EQ(*parsed.Text("command"), c.text);
        EXPECT_EQ(parsed.Number("n"), -5);
    }
    EXPECT_EQ(JsonLineWriter()
                  .Text("event", "start")
                  .Null("id")
                  .Flag("replay", true)
                  .Flag("ran", false)
                  .Number("ms", 0)
                  .Line(),
              "{\"event\":\"start\",\"id\":null,\"replay\":true,\"ran\":false,\"ms\":0}\n");

    // What another tool may write reads too: blanks, "\/", \u escapes beyond one byte.
    JsonLine parsed;
    ASSERT_TRUE(parsed.Parse(R"( { "a" : "x\/y\u00e9\u0101\u20ac\b\f" , "n":-12 ,"t":true,)"
                             R"("z":null } )"));
    ASSERT_NE(parsed.Text("a"), nullptr);
    EXPECT_EQ(*parsed.Text("a"), "x/y\xE9\xC4\x81\xE2\x82\xAC\b\f");
    EXPECT_EQ(parsed.Number("n"), -12);
    EXPECT_TRUE(parsed.Flag("t"));
    EXPECT_EQ(parsed.Text("z"), nullptr);
    for (const char* torn : {"{\"a\":\"b", "{\"a\":", "{\"a\"", "{", "", "{\"a\":1,}",
                             "{\"a\":1} x", "{\"a\":\"\\x\"}", "{\"a\":1x}"}) {
        EXPECT_FALSE(parsed.Parse(torn)) << torn;
    }
}

TEST(UtcTimeTest, TimesAreWrittenAndReadAsFixedText) {
    struct Case {
        std::int64_t millis;
        const char* record;  // FormatUtcMillis
        const char* stamp;   // FormatUtcStamp, to the second
    };
    const std::vector<Case> cases = {
        {1796716906123, "2026-12-08T08:01:46.123Z", "20261208T080146Z"},
        {0, "1970-01-01T00:00:00.000Z", "19700101T000000Z"},
        {1709251199999, "2024-02-29T23:59:59.999Z", "20240229T235959Z"},
        {-1, "1969-12-31T23:59:59.999Z", "19691231T235959Z"},
        {2147483648000, "2038-01-19T03:14:08.000Z", "20380119T031408Z"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.record);
        EXPECT_EQ(FormatUtcMillis(c.millis), c.record);
        EXPECT_EQ(testing::ValueOrNone(ParseUtcMillis(c.record)), c.millis);
        EXPECT_EQ(FormatUtcStamp(c.millis), c.stamp);
        // The stamp drops the milliseconds, rounding towards the past.
        const std::int64_t second = c.millis - ((c.millis % 1000) + 1000) % 1000;
        EXPECT_EQ(testing::ValueOrNone(ParseUtcStamp(c.stamp)), second);
    }
    EXPECT_EQ(FormatUtcTimestamp(std::chrono::system_clock::time_point(1796716906123ms)),
              "2026-12-08T08:01:46Z");
    for (const char* bad :
         {"2026-02-30T00:00:00.000Z", "2026-12-08T24:00:00.000Z", "2026-12-08 08:01:46.123Z",
          "2026-12-08T08:01:46.123", "2026-12-08T08:01:46Z", "2026-1a-08T08:01:46.123Z"}) {
        EXPECT_FALSE(ParseUtcMillis(bad)) << bad;
    }
    for (const char* bad : {"20260230T000000Z", "20261208T080146", "20261208-080146Z"}) {
        EXPECT_FALSE(ParseUtcStamp(bad)) << bad;
    }
}

class RequestJournalTest : public ::testing::Test {
  protected:
    std::string Record(std::int64_t atMillis, const std::string& event, const std::string& id,
                       const std::string& command, const std::string& tail = "") {
        return "{\"time\":\"" + FormatUtcMillis(atMillis) + "\",\"event\":\"" + event +
               "\",\"client\":\"127.0.0.1\",\"id\":\"" + id + "\",\"command\":\"" + command + "\"" +
               tail + "}\n";
    }
    std::string End(std::int64_t at, const std::string& id, const std::string& command,
                    const std::string& reply, bool ran, bool replay = false) {
        return Record(at, "request", id, command,
                      ",\"status\":200,\"reply\":\"" + reply + "\",\"ms\":3,\"replay\":" +
                          (replay ? "true" : "false") + ",\"ran\":" + (ran ? "true" : "false") +
                          ",\"started\":" + (replay ? "false" : "true"));
    }

    IdAdmission Admit(RequestJournal& journal, const std::string& id, const std::string& text,
                      std::string& reply) {
        IdDecision decision =
            journal.ids().Admit(id, DigestOfCommandText(text), UnixMillisNow(), IdWaiter{});
        reply = std::move(decision.reply);
        return decision.admission;
    }

    testing::TempDir dir_;
    std::string path_ = dir_.File("Tillvane_se.jsonl");
};

TEST_F(RequestJournalTest, RebuildsWhatIsKnownOfEachId) {
    const std::int64_t now = UnixMillisNow();
    const std::int64_t old = now - 8LL * 24 * 3600 * 1000;  // beyond the 7 days
    // An older file moved aside yesterday, one moved aside long ago.
    WriteFile(dir_.File("Tillvane_se-" + FormatUtcStamp(now - 24LL * 3600 * 1000) + ".jsonl"),
              Record(now - 1000, "start", "rotated", "XR") +
                  End(now - 900, "rotated", "XR", "OK|", true));
    const std::string ancient = dir_.File("Tillvane_se-20000101T000000Z.jsonl");
    WriteFile(ancient, Record(now, "start", "ancient", "XR"));
    WriteFile(path_,
              Record(now, "start", "answered", "XR") + End(now, "answered", "XR", "OK|", true) +
                  Record(now, "start", "failed", "ZR") +
                  End(now, "failed", "ZR", "ERR|Printer error", true) +
                  Record(now, "start", "crashed", "XR") +
                  End(now, "crashed", "XR", "OK|", false, true) +  // a replay ends no run
                  End(now, "crashed", "ZR", "OK|", true) +         // nor another text's end
                  Record(now, "start", "dropped", "XR") + End(now, "dropped", "XR", "", false) +
                  // A retry refused while the run went on ends nothing.
                  Record(now, "start", "refusedRetry", "XR") +
                  Record(now, "request", "refusedRetry", "XR",
                         R"(,"status":503,"reply":"ERR|printer busy","replay":false,)"
                         R"("ran":false,"started":false)") +
                  // A run cut short part way by a stop.
                  Record(now, "start", "cutShort", "XR") +
                  Record(now, "request", "cutShort", "XR",
                         R"(,"status":503,"reply":"ERR|service stopping","ran":true,)"
                         R"("started":true,"unknown":true)") +
                  // A record cut short by a full disk, the next one joined to it.
                  R"({"time":")" + FormatUtcMillis(now) + R"(","event":"start","id":"lost","co)" +
                  Record(now, "start", "afterFragment", "XR") +
                  End(now, "afterFragment", "XR", "OK|", true) + std::string(20, '\0') +
                  Record(now, "start", "afterZeros", "XR") + Record(old, "start", "expired", "XR") +
                  Record(now, "start", "torn", "XR") + "{\"time\":\"" + FormatUtcMillis(now) +
                  "\",\"event\":\"request\",\"id\":\"torn\",\"comm");

    testing::RecordingJournalObserver observer;
    RequestJournal journal(path_, JournalSettings{}, observer);
    ASSERT_TRUE(journal.Open().ok());
    EXPECT_FALSE(std::filesystem::exists(ancient));
    struct Case {
        const char* id;
        const char* text;
        IdAdmission admission;
        const char* reply;
    };
    const std::vector<Case> cases = {
        {"answered", "XR", IdAdmission::replay, "OK|"},
        {"answered", "ZR", IdAdmission::otherCommand, ""},
        {"failed", "ZR", IdAdmission::replay, "ERR|Printer error"},
        {"crashed", "XR", IdAdmission::outcomeUnknown, ""},
        {"torn", "XR", IdAdmission::outcomeUnknown, ""},
        {"rotated", "XR", IdAdmission::replay, "OK|"},
        {"lost", "XR", IdAdmission::fresh, ""},
        {"afterFragment", "XR", IdAdmission::replay, "OK|"},
        {"afterZeros", "XR", IdAdmission::outcomeUnknown, ""},
        {"dropped", "XR", IdAdmission::fresh, ""},
        {"refusedRetry", "XR", IdAdmission::outcomeUnknown, ""},
        {"cutShort", "XR", IdAdmission::outcomeUnknown, ""},
        {"expired", "XR", IdAdmission::fresh, ""},
        {"ancient", "XR", IdAdmission::fresh, ""},
        {"new", "XR", IdAdmission::fresh, ""},
        {"new", "XR", IdAdmission::joined, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        std::string reply;
        EXPECT_EQ(Admit(journal, c.id, c.text, reply), c.admission);
        EXPECT_EQ(reply, c.reply);
    }
    // The torn record was cut, so the next one starts on a line of its own.
    EXPECT_TRUE(ReadFile(path_).ends_with(Record(now, "start", "torn", "XR")));
}

// What the status says of the journal follows the disk: a record lost or not flushed is
// reported at once, and the next record written clears it.
TEST_F(RequestJournalTest, TellsItsObserverWhenItCannotWriteAndWhenItCanAgain) {
    testing::RecordingFileSystem files;
    testing::RecordingJournalObserver observer;
    RequestJournal journal(path_, {}, observer, files);
    ASSERT_TRUE(journal.Open().ok());
    const JournaledRequest request{"127.0.0.1", "", "id1", "XR"};
    files.Fail("append");
    EXPECT_FALSE(journal.RecordStart(request).ok());
    EXPECT_TRUE(journal.RecordStart(request).ok());
    files.Fail("flush");
    const Result<std::uint64_t> ticket = journal.RecordStart(request);
    ASSERT_TRUE(ticket.ok());
    EXPECT_FALSE(journal.WaitDurable(ticket.value()).ok());
    const std::string lost = path_ + ": " + testing::RecordingFileSystem::kFailureText;
    EXPECT_EQ(observer.states, (std::vector<std::string>{"", lost, "", lost}));
}

// A journal that cannot be written says why, naming its file, and tells its observer the
// same: the status must show the operator which file to look at.
TEST_F(RequestJournalTest, OpenSaysWhyItCannotWrite) {
    testing::RecordingJournalObserver observer;
    const std::string path = path_ + ".missing/journal.jsonl";
    RequestJournal journal(path, JournalSettings{}, observer);
    const platform::Error opened = journal.Open();
    ASSERT_FALSE(opened.ok());
    EXPECT_TRUE(opened.text().starts_with(path + ": ")) << opened.text();
    EXPECT_EQ(observer.states, std::vector<std::string>{opened.text()});
    EXPECT_FALSE(journal.RecordStart({"127.0.0.1", "", "id1", "XR"}).ok());
}

}  // namespace
}  // namespace tillvane
