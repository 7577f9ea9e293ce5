#pragma once
// The journal of command requests: every request to REGCMD leaves one record (time, client,
// request id, command text, reply, duration, whether it was a replay), and a request with an
// id leaves a "start" record, on the disk, before the driver sees its first line. No answer is
// sent before the record of it is on the disk. At start the journal rebuilds the request ids
// it still has to remember.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "config/settings.h"
#include "requests/journal/journal_file.h"
#include "requests/journal/request_ids.h"

namespace tillvane {

class PendingReply;

struct JournalSettings {
    std::chrono::seconds idRetention = Settings{}.idRetention;
    std::chrono::seconds journalRetention = Settings{}.journalRetention;
    std::uint64_t rotateBytes = kJournalRotateBytes;
};

// One request to REGCMD as the journal records it.
struct JournaledRequest {
    std::string client;
    std::string id;  // empty: the request carried none
    std::string command;
    std::chrono::steady_clock::time_point received = std::chrono::steady_clock::now();
};

// How a request ended.
struct RequestOutcome {
    int status = 0;
    std::string reply;
    bool ran = false;      // the driver saw its text
    bool replay = false;   // answered from an earlier run of its id (or told its fate)
    bool started = false;  // its id was recorded as started by this request
    std::string note;      // why it had no answer, when it had none
};

class RequestJournal {
  public:
    using Log = std::function<void(std::string_view)>;

    RequestJournal(std::string path, JournalSettings settings, Log log);
    // Sends the answers still owed, then ends the thread that sends them.
    ~RequestJournal();
    RequestJournal(const RequestJournal&) = delete;
    RequestJournal& operator=(const RequestJournal&) = delete;

    // Removes rotated files past their retention, rebuilds the ids from the files still
    // within the id retention, and opens the journal. False, logged, when it cannot be
    // written: requests with an id are refused then; others run and go unrecorded.
    bool Open();
    bool isOpen() const { return open_; }
    RequestIds& ids() { return ids_; }

    // Appends the start record of a request with an id; its ticket, 0 when not written.
    std::uint64_t RecordStart(const JournaledRequest& request);
    // True once the record of `ticket` (and all before it) is on the disk.
    bool WaitDurable(std::uint64_t ticket);

    // Told of every request as it ends (before its answer is sent), on the thread that ends it.
    using Observer = std::function<void(const JournaledRequest&, const RequestOutcome&)>;
    void SetObserver(Observer observer) { observer_ = std::move(observer); }

    // Appends the record of how `request` ended and sends `reply` its answer once that record
    // is on the disk. With `outcome.started`, the run of its id ends too: the requests that
    // waited for it get the same answer, each with a replay record of its own.
    void Finish(const JournaledRequest& request, const RequestOutcome& outcome,
                std::shared_ptr<PendingReply> reply);

  private:
    struct Delivery {
        std::shared_ptr<PendingReply> reply;
        int status = 0;
        std::string body;
    };

    std::uint64_t AppendRecord(const JournaledRequest& request, const RequestOutcome& outcome);
    void Rebuild();
    void RebuildFrom(const std::string& path, std::int64_t cutoffMillis);
    void Deliver(std::uint64_t ticket, std::vector<Delivery> deliveries);
    void SendLoop();

    JournalFile file_;
    const JournalSettings settings_;
    Log log_;
    Observer observer_;
    RequestIds ids_;
    bool open_ = false;

    std::mutex queueMutex_;  // guards queue_ and stopping_
    std::condition_variable queued_;
    std::deque<std::pair<std::uint64_t, std::vector<Delivery>>> queue_;
    bool stopping_ = false;
    std::thread sender_;
};

}  // namespace tillvane
