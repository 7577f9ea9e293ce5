// The request pipeline without sockets: requests go in as the HTTP side hands them over, a
// recording driver stands for the printer, and each answer is what the client would read.

#include "requests/request_pipeline.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <utility>
#include <vector>

#include "http/web_request.h"
#include "requests/replies.h"
#include "tests/commands/recording_register.h"
#include "tests/support/temp_dir.h"

namespace tillvane {
namespace {

using namespace std::chrono_literals;
using Answer = std::pair<int, std::string>;

constexpr auto kAnswerTimeout = 5000ms;

class RequestPipelineTest : public ::testing::Test {
  protected:
    RequestPipelineTest() {
        journal_.Open();
        delivery_.Start();
        pipeline_.queue().Start();
    }

    PipelineOptions Options() {
        PipelineOptions options;
        options.maxCommandLines = 2;
        options.driver = [this] { return &driver_; };
        options.log = [](std::string_view) {};
        options.outcome = [this](const JournaledRequest&, const RequestOutcome& outcome) {
            outcomes_.push_back(outcome.replay ? "replay" : outcome.ran ? "ran" : "refused");
        };
        return options;
    }

    // Sends a GET with these query fields (and the refusal the routes found) and waits for
    // its answer.
    Answer Send(std::vector<std::pair<std::string, std::string>> query, std::string refusal = {}) {
        FormFields fields;
        for (auto& [name, value] : query) fields.Add(name, value);
        WebRequest request(std::string(kCommandPath), std::move(fields), FormFields());
        auto answer = std::make_shared<std::promise<Answer>>();
        request.OfferDeferral([answer] {
            return std::make_shared<PendingReply>([answer](int status, std::string body) {
                answer->set_value({status, std::move(body)});
            });
        });
        const int refusalStatus = refusal.empty() ? kHttpOk : kHttpForbidden;
        pipeline_.Accept(request, false, refusalStatus, std::move(refusal));
        std::future<Answer> future = answer->get_future();
        if (future.wait_for(kAnswerTimeout) != std::future_status::ready) return {0, "no answer"};
        return future.get();
    }

    testing::TempDir dir_;
    testing::RecordingRegister driver_;
    std::vector<std::string> outcomes_;
    RequestJournal journal_{dir_.File("journal.jsonl"), JournalSettings{}, [](std::string_view) {}};
    AnswerDelivery delivery_{journal_};
    RequestPipeline pipeline_{journal_, delivery_, Options()};
};

TEST_F(RequestPipelineTest, EachRequestEndsInOneAnswerAndTheDriverSeesOnlyWhatMayRun) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> query;
        std::string refusal;
        Answer answer;
        std::vector<std::string> calls;  // what the driver saw for this request
        std::string outcome;
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
        {"refused by the routes",
         {{"CMD", "BS"}},
         std::string(kCrossSiteReply),
         {kHttpForbidden, std::string(kCrossSiteReply)},
         {},
         "refused"},
    };
    for (const Case& c : cases) {
        driver_.calls.clear();
        outcomes_.clear();
        EXPECT_EQ(Send(c.query, c.refusal), c.answer) << c.name;
        EXPECT_EQ(driver_.calls, c.calls) << c.name;
        EXPECT_EQ(outcomes_, std::vector<std::string>{c.outcome}) << c.name;
    }
    pipeline_.Stop();
    EXPECT_EQ(Send({{"CMD", "BS"}}), Answer(kHttpServiceUnavailable, std::string(kStoppingReply)));
    pipeline_.Join();
}

}  // namespace
}  // namespace tillvane
