#include "requests/journal/request_journal.h"

#include <fstream>

#include "base/json_line.h"
#include "base/utc_time.h"

namespace tillvane {

namespace {
constexpr std::int64_t kMillisPerSecond = 1000;
constexpr std::string_view kStartEvent = "start";
constexpr std::string_view kRequestEvent = "request";
constexpr std::string_view kOutcomeUnknownFlag = "unknown";
constexpr std::string_view kJournalClosedText = "the request journal is not open";

// Every record opens with this; inside a text a quote is always escaped, so it marks the
// start of a record wherever it stands.
constexpr std::string_view kRecordOpening = "{\"";

// Reads the record of one journal line. A record cut short (a crash, a full disk) and
// joined by the next one on the same line is skipped: the whole record after it still reads.
bool ParseRecord(std::string_view line, JsonLine& record) {
    if (record.Parse(line)) return true;
    for (std::size_t start = line.find(kRecordOpening, 1); start != std::string_view::npos;
         start = line.find(kRecordOpening, start + 1)) {
        if (record.Parse(line.substr(start))) return true;
    }
    return false;
}

std::int64_t MillisSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

// The fields every record opens with: when, what kind, who, which id and what text.
JsonLineWriter RecordHead(std::string_view event, const JournaledRequest& request) {
    JsonLineWriter writer;
    writer.Text("time", FormatUtcMillis(UnixMillisNow()))
        .Text("event", event)
        .Text("client", request.client);
    // Only with tokens set: without them the records stay as they were.
    if (!request.till.empty()) writer.Text("till", request.till);
    if (request.id.empty()) {
        writer.Null("id");
    } else {
        writer.Text("id", request.id);
    }
    writer.Text("command", request.command);
    return writer;
}

// Appends `line`, logging why it was not written or why the file could not move aside first;
// the line's ticket.
Result<std::uint64_t> AppendLogged(JournalFile& file, const std::string& line,
                                   JournalObserver& observer) {
    const JournalAppend appended = file.Append(line);
    const platform::Error& failure = appended.error.ok() ? appended.rotation : appended.error;
    if (!failure.ok()) observer.Log("Request journal: " + failure.text());
    if (appended.removedEarly > 0) {
        observer.Log("Request journal: " + std::to_string(appended.removedEarly) +
                     " oldest file(s) removed before their time to keep the journal within " +
                     std::to_string(kMaxRotatedJournalFiles + 1) +
                     " files; the ids they held are " + "forgotten at the next start");
    }
    if (!appended.error.ok()) return appended.error;
    return appended.ticket;
}
}  // namespace

RequestJournal::RequestJournal(std::string path, JournalSettings settings,
                               JournalObserver& observer, platform::FileSystem& files)
    : file_(std::move(path), settings.rotateBytes,
            static_cast<std::int64_t>(settings.journalRetention.count()) * kMillisPerSecond, files,
            settings.maxRotatedFiles),
      settings_(settings),
      observer_(observer),
      ids_(settings.idRetention, settings.maxIds,
           [&observer](std::string_view entry) { observer.Log(entry); }) {}

platform::Error RequestJournal::Open() {
    const std::int64_t now = UnixMillisNow();
    const auto retentionMillis = [](std::chrono::seconds retention) {
        return static_cast<std::int64_t>(retention.count()) * kMillisPerSecond;
    };
    const int removed =
        file_.RemoveRotatedBefore(now - retentionMillis(settings_.journalRetention));
    if (removed > 0)
        observer_.Log("Request journal: " + std::to_string(removed) + " old file(s) removed");
    Rebuild();
    if (const platform::Error error = file_.Open(); !error.ok()) {
        observer_.Log("Request journal " + file_.path() + " cannot be written: " + error.text() +
                      "; requests with a REQUESTID are refused");
        const platform::Error unwritable = error.Within(file_.path());
        ReportState(unwritable.text());
        return unwritable;
    }
    open_ = true;
    ReportState({});
    return {};
}

void RequestJournal::Rebuild() {
    const std::int64_t cutoff =
        UnixMillisNow() -
        static_cast<std::int64_t>(settings_.idRetention.count()) * kMillisPerSecond;
    for (const RotatedJournal& rotated : file_.RotatedFiles()) {
        // A file moved aside before the cutoff holds only forgotten ids.
        if (rotated.rotatedAtMillis >= cutoff) RebuildFrom(rotated.path, cutoff);
    }
    RebuildFrom(file_.path(), cutoff);
}

void RequestJournal::RebuildFrom(const std::string& path, std::int64_t cutoffMillis) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    JsonLine record;
    while (std::getline(in, line)) {
        // A line that does not read (cut short by a crash) recorded nothing durable.
        if (!ParseRecord(line, record)) continue;
        const std::string* event = record.Text("event");
        const std::string* id = record.Text("id");
        const std::string* command = record.Text("command");
        const std::string* time = record.Text("time");
        if (event == nullptr || id == nullptr || command == nullptr || time == nullptr) continue;
        const auto at = ParseUtcMillis(*time);
        if (!at) continue;
        const std::string* till = record.Text("till");
        const std::string scopedId = TillScopedRequestId(till != nullptr ? *till : "", *id);
        if (*event == kStartEvent) {
            if (*at >= cutoffMillis)
                ids_.RestoreStarted(scopedId, DigestOfCommandText(*command), *at);
        } else if (*event == kRequestEvent && record.Flag("started") && !record.Flag("replay") &&
                   !record.Flag(kOutcomeUnknownFlag)) {
            // A run cut short part way stays as its start left it: outcome unknown.
            const std::string* reply = record.Text("reply");
            ids_.RestoreEnded(scopedId, DigestOfCommandText(*command), record.Flag("ran"),
                              static_cast<int>(record.Number("status").value_or(0)),
                              reply != nullptr ? *reply : std::string());
        }
    }
}

Result<std::uint64_t> RequestJournal::RecordStart(const JournaledRequest& request) {
    if (!open_) return platform::Error::Message(std::string(kJournalClosedText));
    const JsonLineWriter writer = RecordHead(kStartEvent, request);
    return AppendReported(writer.Line());
}

platform::Error RequestJournal::WaitDurable(std::uint64_t ticket) {
    const platform::Error error = file_.WaitDurable(ticket);
    if (error.ok()) return error;
    observer_.Log("Request journal cannot be flushed to disk: " + error.text());
    ReportState(file_.path() + ": " + error.text());
    return error;
}

Result<std::uint64_t> RequestJournal::Record(const JournaledRequest& request,
                                             const RequestOutcome& outcome) {
    if (!open_) return platform::Error::Message(std::string(kJournalClosedText));
    JsonLineWriter writer = RecordHead(kRequestEvent, request);
    writer.Number("status", outcome.status)
        .Text("reply", outcome.reply)
        .Number("ms", MillisSince(request.received))
        .Flag("replay", outcome.replay)
        .Flag("ran", outcome.ran)
        .Flag("started", outcome.started);
    // Only when set: the records of every other end stay as they were.
    if (outcome.outcomeUnknown) writer.Flag(kOutcomeUnknownFlag, true);
    if (!outcome.note.empty()) writer.Text("note", outcome.note);
    return AppendReported(writer.Line());
}

Result<std::uint64_t> RequestJournal::AppendReported(const std::string& line) {
    // A file that could not move aside still took the line: only a line lost is a problem.
    Result<std::uint64_t> ticket = AppendLogged(file_, line, observer_);
    ReportState(ticket.ok() ? std::string() : file_.path() + ": " + ticket.error().text());
    return ticket;
}

void RequestJournal::ReportState(std::string_view problem) {
    std::lock_guard lock(stateMutex_);
    if (stateReported_ && problem == problem_) return;
    stateReported_ = true;
    problem_ = problem;
    observer_.StateChanged(problem_);
}

}  // namespace tillvane
