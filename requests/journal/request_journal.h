#pragma once
// The journal of command requests: every request to REGCMD leaves one record (time, client,
// request id, command text, reply, duration, whether it was a replay), and a request with an
// id leaves a "start" record, on the disk, before the driver sees its first line. At start the
// journal rebuilds the request ids it still has to remember.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "base/result.h"
#include "config/settings.h"
#include "requests/journal/journal_file.h"
#include "requests/journal/journal_observer.h"
#include "requests/journal/request_ids.h"

namespace tillvane {

struct JournalSettings {
    std::chrono::seconds idRetention = Settings{}.idRetention;
    std::chrono::seconds journalRetention = Settings{}.journalRetention;
    std::uint64_t rotateBytes = kJournalRotateBytes;
    std::size_t maxRotatedFiles = kMaxRotatedJournalFiles;
    std::size_t maxIds = kMaxRememberedRequestIds;
};

// One request to REGCMD as the journal records it.
struct JournaledRequest {
    std::string client;
    std::string till;  // the till whose token it presented; empty without tokens
    std::string id;    // empty: the request carried none
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
    // It ran, cut short part way: what reached the printer is not known.
    bool outcomeUnknown = false;
    std::string note;  // why it had no answer, when it had none
};

class RequestJournal {
  public:
    // The file calls go through `files`; what the journal has to tell goes to `observer`.
    RequestJournal(std::string path, JournalSettings settings, JournalObserver& observer,
                   platform::FileSystem& files = platform::SystemFileSystem());
    RequestJournal(const RequestJournal&) = delete;
    RequestJournal& operator=(const RequestJournal&) = delete;

    // Removes rotated files past their retention, rebuilds the ids from the files still
    // within the id retention, and opens the journal. Why not, logged, when it cannot be
    // written: requests with an id are refused then; others run and go unrecorded.
    platform::Error Open();
    bool isOpen() const { return open_; }
    // Records nothing more: what the journal records could not be waited for.
    void Disable() { open_ = false; }
    RequestIds& ids() { return ids_; }

    // Appends the start record of a request with an id; its ticket, for WaitDurable.
    Result<std::uint64_t> RecordStart(const JournaledRequest& request);
    // Returns once the record of `ticket` (and all before it) is on the disk, or why it is not.
    platform::Error WaitDurable(std::uint64_t ticket);

    // Appends the record of how `request` ended; its ticket, for WaitDurable.
    Result<std::uint64_t> Record(const JournaledRequest& request, const RequestOutcome& outcome);

  private:
    void Rebuild();
    // Appends `line`, logging and reporting why it was not written; its ticket.
    Result<std::uint64_t> AppendReported(const std::string& line);
    void ReportState(std::string_view problem);
    void RebuildFrom(const std::string& path, std::int64_t cutoffMillis);

    JournalFile file_;
    const JournalSettings settings_;
    JournalObserver& observer_;
    RequestIds ids_;
    bool open_ = false;
    std::mutex stateMutex_;  // orders the reports of threads that find out at once
    std::string problem_;    // as last reported
    bool stateReported_ = false;
};

}  // namespace tillvane
