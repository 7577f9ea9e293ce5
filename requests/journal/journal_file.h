#pragma once
// The request journal on disk: one line per record, appended and flushed to disk in groups
// (one flush covers every line appended before it began), rotated by size into files named
// with the time of rotation, and rotated files removed once older than their retention.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "platform/file_system.h"

namespace tillvane {

// The journal file moves aside once it would grow past this size.
inline constexpr std::uint64_t kJournalRotateBytes = 16 * 1024 * 1024;
// Rotated files kept at most, whatever their age: with the live file, the journal takes at
// most 8 x 16 MiB on disk. The oldest beyond them go early, and the ids they held with them.
inline constexpr std::size_t kMaxRotatedJournalFiles = 7;

struct RotatedJournal {
    std::string path;
    std::int64_t rotatedAtMillis = 0;  // UTC, from the name
};

// What became of one appended line.
struct JournalAppend {
    platform::Error error;     // why the line was not written (nothing of it stays)
    platform::Error rotation;  // why the file could not move aside first (the line was kept)
    std::uint64_t ticket = 0;  // for WaitDurable, once the line is written
    int removedEarly = 0;      // rotated files removed before their time to keep the cap
};

class JournalFile {
  public:
    // `path` is the live file, e.g. ".../Tillvane_se.jsonl"; rotated ones are named
    // ".../Tillvane_se-20261208T080146Z.jsonl" (with "-2", "-3" ... before the extension when
    // two rotations fall in one second).
    // Rotated files older than `keepMillis` (0: all are kept) are removed at each rotation.
    // The file calls go through `files`.
    // At most `maxRotatedFiles` rotated files are kept: the oldest beyond them are removed.
    explicit JournalFile(std::string path, std::uint64_t rotateBytes = kJournalRotateBytes,
                         std::int64_t keepMillis = 0,
                         platform::FileSystem& files = platform::SystemFileSystem(),
                         std::size_t maxRotatedFiles = kMaxRotatedJournalFiles);

    // Cuts a torn last line (the part after the last line break: a write that a crash cut
    // short, never flushed and never answered) and opens the file for appending.
    platform::Error Open();
    const std::string& path() const { return path_; }

    // Appends one line (it must end with "\n"); a line that could not be written whole is cut
    // off again and gets no ticket.
    JournalAppend Append(std::string_view line);
    // Returns once the line of `ticket`, and every line before it, is on the disk.
    platform::Error WaitDurable(std::uint64_t ticket);

    // The rotated files beside the live one, oldest first.
    std::vector<RotatedJournal> RotatedFiles() const;
    // Removes rotated files moved aside before `cutoffMillis`; returns how many.
    int RemoveRotatedBefore(std::int64_t cutoffMillis) const;

  private:
    // With mutex_ held and no flush running: flushes, moves the file aside, opens a new one.
    // `removedEarly`: rotated files removed to keep within the cap.
    platform::Error Rotate(int& removedEarly);
    // Opens the live file for appending unless it is open.
    platform::Error OpenLiveFile();
    // Makes a new or renamed journal file's name durable: the folder that holds it is flushed.
    platform::Error FlushFolderOfPath();
    std::string RotatedName(std::int64_t nowMillis, int attempt) const;

    const std::string path_;
    const std::uint64_t rotateBytes_;
    const std::int64_t keepMillis_;
    const std::size_t maxRotatedFiles_;
    std::string stem_;       // path_ without its extension
    std::string extension_;  // ".jsonl"
    platform::FileSystem& files_;

    std::mutex mutex_;
    std::condition_variable flushDone_;
    std::unique_ptr<platform::AppendableFile> file_;  // null while closed
    std::uint64_t fileBytes_ = 0;
    std::uint64_t appended_ = 0;  // bytes appended since Open, over every file: the tickets
    std::uint64_t durable_ = 0;   // of those, the bytes known to be on the disk
    bool flushing_ = false;
};

}  // namespace tillvane
