// The request pipeline without sockets: requests go in as the HTTP side hands them over, a
// recording driver stands for the printer, and each answer is what the client would read.

#include "requests/request_pipeline.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "requests/command_request.h"
#include "requests/replies.h"
#include "tests/commands/recording_register.h"
#include "tests/requests/journal/recording_journal_observer.h"
#include "tests/support/recording_file_system.h"
#include "tests/support/temp_dir.h"

namespace tillvane {
namespace {

using namespace std::chrono_literals;
using Answer = std::pair<int, std::string>;

constexpr auto kAnswerTimeout = 5000ms;

class RequestPipelineTest : public ::testing::Test {
  protected:
    RequestPipelineTest() {
        EXPECT_TRUE(journal_.Open().ok());
        EXPECT_TRUE(delivery_.Start().ok());
        EXPECT_TRUE(pipeline_.queue().Start().ok());
    }

    // Keeps how each request ended.
    struct Outcomes : RequestObserver {
        void Log(std::string_view) override {}
        void LogPostedCommand(std::string_view) override {}
        void Ended(const JournaledRequest&, const RequestOutcome& outcome) override {
            list.push_back(outcome.replay ? "replay" : outcome.ran ? "ran" : "refused");
        }
        void DriverRan() override {}
        std::vector<std::string> list;
    };

    PipelineOptions Options() {
        PipelineOptions options;
        options.maxCommandLines = 2;
        options.driver = &driver_;
        return options;
    }

    Answer Send(std::vector<std::pair<std::string, std::string>> query, std::string refusal = {}) {
        return SendTo(pipeline_, std::move(query), std::move(refusal),
                      [this](const std::string& body) { (void)files_.Record("answer", body); });
    }

    // Sends a GET with these query fields (and the refusal the routes found) and waits for
    // its answer.
    static Answer SendTo(RequestPipeline& pipeline,
                         std::vector<std::pair<std::string, std::string>> query,
                         std::string refusal = {},
                         std::function<void(const std::string&)> answered = {}) {
        std::map<std::string, std::string, std::less<>> fields(query.begin(), query.end());
        CommandRequest request;
        request.queryField = [fields](std::string_view name) -> std::optional<std::string> {
            const auto it = fields.find(name);
            if (it == fields.end()) return std::nullopt;
            return it->second;
        };
        request.refusalStatus = refusal.empty() ? kHttpOk : kHttpForbidden;
        request.refusal = std::move(refusal);
        auto answer = std::make_shared<std::promise<Answer>>();
        std::future<Answer> future = answer->get_future();
        pipeline.Accept(request, std::make_shared<CommandAnswer>(
                                     [answered, answer](int status, std::string body) {
                                         if (answered) answered(body);
                                         answer->set_value({status, std::move(body)});
                                     },
                                     [] { return false; }));
        if (future.wait_for(kAnswerTimeout) != std::future_status::ready) return {0, "no answer"};
        return future.get();
    }

    testing::TempDir dir_;
    testing::RecordingRegister driver_;
    Outcomes outcomes_;
    // The journal's file calls and the answers, in the order they happened.
    testing::RecordingFileSystem files_;
    testing::RecordingJournalObserver journalObserver_;
    RequestJournal journal_{dir_.File("journal.jsonl"), JournalSettings{}, journalObserver_,
                            files_};
    AnswerDelivery delivery_{journal_};
    RequestPipeline pipeline_{journal_, delivery_, Options(), outcomes_};
};

TEST_F(RequestPipelineTest, EachRequestEndsInOneAnswerAndTheDriverSeesOnlyWhatMayRun) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> query;
        std::string refusal;
        Answer answer;
        std::vector<std::string> calls;  // what the driver saw for this request
        std::string outcome;
        const char* failOnce = nullptr;  // a journal file call that fails once
    };
    const std::vector<Case> cases = {
        {"runs", {{"CMD", "BS"}, {"REQUESTID", "r1"}}, "", {kHttpOk, "OK|"}, {"BeginSell"}, "ran"},
        {"same id replays",
         {{"CMD", "BS"}, {"REQUESTID", "r1"}},
         "",
         {kHttpOk, "OK|"},
         {},
         "replay"},
        {"same id, other text",
         {{"CMD", "ES"}, {"REQUESTID", "r1"}},
         "",
         {kHttpConflict, std::string(kRequestIdReusedReply)},
         {},
         "refused"},
        {"invalid id",
         {{"CMD", "BS"}, {"REQUESTID", "a b"}},
         "",
         {kHttpBadRequest, std::string(kInvalidRequestIdReply)},
         {},
         "refused"},
        {"too many lines",
         {{"CMD", "BS|BS|BS"}},
         "",
         {kHttpOk, "ERR|command text has more than 2 lines"},
         {},
         "refused"},
        {"journal flush fails",
         {{"CMD", "XR"}, {"REQUESTID", "f1"}},
         "",
         {kHttpServiceUnavailable, std::string(kJournalUnavailableReply)},
         {},
         "refused",
         "flush"},
        {"refused by the routes",
         {{"CMD", "BS"}},
         std::string(kCrossSiteReply),
         {kHttpForbidden, std::string(kCrossSiteReply)},
         {},
         "refused"},
    };
    for (const Case& c : cases) {
        driver_.calls.clear();
        outcomes_.list.clear();
        if (c.failOnce != nullptr) files_.Fail(c.failOnce);
        EXPECT_EQ(Send(c.query, c.refusal), c.answer) << c.name;
        EXPECT_EQ(driver_.calls, c.calls) << c.name;
        EXPECT_EQ(outcomes_.list, std::vector<std::string>{c.outcome}) << c.name;
    }
    pipeline_.Stop();
    EXPECT_EQ(Send({{"CMD", "BS"}}), Answer(kHttpServiceUnavailable, std::string(kStoppingReply)));
    pipeline_.Join();
}

// A request handed over without an answer object has nobody to tell that it printed: it is
// dropped unprinted, and the pipeline goes on with the next.
TEST_F(RequestPipelineTest, ARequestWithoutAnAnswerIsDroppedUnprinted) {
    CommandRequest request;
    request.queryField = [](std::string_view name) -> std::optional<std::string> {
        if (name == "CMD") return "BS";
        return std::nullopt;
    };
    pipeline_.Accept(request, nullptr);
    // Queued behind it: once this one is answered, the first has had its turn.
    EXPECT_EQ(Send({{"CMD", "BS"}}), Answer(kHttpOk, "OK|"));
    EXPECT_EQ(driver_.calls, std::vector<std::string>{"BeginSell"});
    EXPECT_EQ(outcomes_.list, (std::vector<std::string>{"refused", "ran"}));
}

// An answer leaves only once the journal's record of it is on the disk: a crash right after
// the answer must still find the record, or a retry would print the receipt again.
TEST_F(RequestPipelineTest, AnAnswerLeavesOnlyAfterItsRecordIsFlushed) {
    for (const auto& query : std::vector<std::vector<std::pair<std::string, std::string>>>{
             {{"CMD", "BS"}, {"REQUESTID", "r1"}}, {{"CMD", "BS"}}}) {
        EXPECT_EQ(Send(query).second, "OK|");
        const std::vector<std::string> operations = files_.Operations();
        ASSERT_FALSE(operations.empty());
        EXPECT_EQ(operations.back(), "answer");
        EXPECT_EQ(operations[operations.size() - 2], "flush")
            << ::testing::PrintToString(operations);
        EXPECT_EQ(operations[operations.size() - 3], "append");
    }
}

// A request refused by a stopped queue never ran: after a restart its id runs.
TEST_F(RequestPipelineTest, AnIdRefusedByAStoppedQueueRunsAfterARestart) {
    const std::vector<std::pair<std::string, std::string>> query = {{"CMD", "BS"},
                                                                    {"REQUESTID", "q1"}};
    for (const Answer& expected :
         {Answer(kHttpServiceUnavailable, std::string(kStoppingReply)), Answer(kHttpOk, "OK|")}) {
        RequestJournal journal(dir_.File("restarted.jsonl"), JournalSettings{}, journalObserver_);
        ASSERT_TRUE(journal.Open().ok());
        AnswerDelivery delivery(journal);
        ASSERT_TRUE(delivery.Start().ok());
        RequestPipeline pipeline(journal, delivery, Options(), outcomes_);
        if (expected.first == kHttpOk) {
            ASSERT_TRUE(pipeline.queue().Start().ok());
        } else {
            pipeline.Stop();
        }
        EXPECT_EQ(SendTo(pipeline, query), expected);
    }
}

}  // namespace
}  // namespace tillvane
