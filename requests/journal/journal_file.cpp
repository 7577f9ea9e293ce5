#include "requests/journal/journal_file.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "base/utc_time.h"
#include "platform/durable_file.h"

namespace tillvane {

namespace fs = std::filesystem;

namespace {

// Makes a new or renamed journal file's name durable: the folder that holds it is flushed.
bool FlushFolderOf(const std::string& path, std::string& error) {
    const std::size_t separator = path.find_last_of("/\\");
    const std::string folder = separator == std::string::npos ? "." : path.substr(0, separator + 1);
    platform::FileError failure;
    if (platform::FlushFolder(folder, failure)) return true;
    error = "flush of folder " + folder + ": " + failure.text;
    return false;
}

// Names tried for a rotation that falls in a second already used.
constexpr int kMaxRotationAttempts = 100;
// Bytes read at a time when looking for the last line break.
constexpr std::uint64_t kTailChunk = 4096;

// Size of `path` up to and with its last line break; the whole size when it ends in one.
std::uint64_t WholeLinesSize(const std::string& path, std::uint64_t size) {
    std::ifstream in(path, std::ios::binary);
    std::uint64_t end = size;
    std::string chunk;
    while (end > 0 && in) {
        const std::uint64_t start = end > kTailChunk ? end - kTailChunk : 0;
        chunk.resize(end - start);
        in.seekg(static_cast<std::streamoff>(start));
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        if (!in) return size;  // unreadable: leave the file as it is
        const std::size_t lineBreak = chunk.find_last_of('\n');
        if (lineBreak != std::string::npos) return start + lineBreak + 1;
        end = start;
    }
    return 0;
}
}  // namespace

JournalFile::JournalFile(std::string path, std::uint64_t rotateBytes, std::int64_t keepMillis)
    : path_(std::move(path)), rotateBytes_(rotateBytes), keepMillis_(keepMillis) {
    const fs::path asPath(path_);
    extension_ = asPath.extension().string();
    stem_ = path_.substr(0, path_.size() - extension_.size());
}

bool JournalFile::Open(std::string& error) {
    std::lock_guard lock(mutex_);
    std::error_code ec;
    const std::uint64_t size = fs::exists(path_, ec) ? fs::file_size(path_, ec) : 0;
    if (ec) {
        error = ec.message();
        return false;
    }
    const std::uint64_t whole = WholeLinesSize(path_, size);
    if (whole < size) {
        fs::resize_file(path_, whole, ec);
        if (ec) {
            error = "cannot cut the torn last line: " + ec.message();
            return false;
        }
    }
    if (!file_.Open(path_, error)) return false;
    fileBytes_ = whole;
    // A new file's name must outlive a power cut as well as its lines.
    if (size == 0 && !FlushFolderOf(path_, error)) return false;
    return true;
}

std::uint64_t JournalFile::Append(std::string_view line, std::string& error) {
    std::unique_lock lock(mutex_);
    if (fileBytes_ > 0 && fileBytes_ + line.size() > rotateBytes_) {
        flushDone_.wait(lock, [this] { return !flushing_; });
        std::string rotateError;
        // A journal that cannot move aside keeps growing: losing records would be worse.
        if (!Rotate(rotateError)) error = rotateError;
    }
    // A file that a failed rotation left closed is opened again for the next line.
    if (!file_.isOpen() && !file_.Open(path_, error)) return 0;
    if (!file_.Append(line, error)) return 0;
    fileBytes_ += line.size();
    appended_ += line.size();
    return appended_;
}

bool JournalFile::WaitDurable(std::uint64_t ticket, std::string& error) {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (durable_ >= ticket) return true;
        if (flushing_) {
            flushDone_.wait(lock);
            continue;
        }
        // This caller flushes for everyone: the lines appended meanwhile wait for the next.
        flushing_ = true;
        const std::uint64_t target = appended_;
        lock.unlock();
        const bool flushed = file_.FlushToDisk(error);
        lock.lock();
        flushing_ = false;
        if (flushed) durable_ = std::max(durable_, target);
        flushDone_.notify_all();
        if (!flushed) return false;
    }
}

bool JournalFile::Rotate(std::string& error) {
    // Counted afresh whatever becomes of this rotation: one that fails is tried again after
    // as many bytes more, not before every line.
    fileBytes_ = 0;
    if (!file_.FlushToDisk(error)) return false;
    durable_ = appended_;
    file_.Close();
    const std::int64_t now = UnixMillisNow();
    bool moved = false;
    for (int attempt = 1; attempt <= kMaxRotationAttempts && !moved; ++attempt) {
        platform::FileError failure;
        moved = platform::MoveWithoutReplacing(path_, RotatedName(now, attempt), failure);
        if (!moved && !failure.nameTaken) {
            error = "cannot rotate the journal: " + failure.text;
            break;
        }
    }
    if (!file_.Open(path_, error)) return false;
    if (!moved) return false;
    if (keepMillis_ > 0) RemoveRotatedBefore(now - keepMillis_);
    return FlushFolderOf(path_, error);
}

std::string JournalFile::RotatedName(std::int64_t nowMillis, int attempt) const {
    std::string name = stem_;
    name += '-';
    name += FormatUtcStamp(nowMillis);
    if (attempt > 1) {
        name += '-';
        name += std::to_string(attempt);
    }
    name += extension_;
    return name;
}

std::vector<RotatedJournal> JournalFile::RotatedFiles() const {
    std::vector<RotatedJournal> found;
    const fs::path live(path_);
    const fs::path folder = live.has_parent_path() ? live.parent_path() : fs::path(".");
    const std::string prefix = live.stem().string() + "-";
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() < prefix.size() + kUtcStampLength + extension_.size() ||
            name.compare(0, prefix.size(), prefix) != 0 || !name.ends_with(extension_)) {
            continue;
        }
        const auto stamp =
            ParseUtcStamp(std::string_view(name).substr(prefix.size(), kUtcStampLength));
        if (!stamp) continue;
        found.push_back({it->path().string(), *stamp});
    }
    // The names sort by time; "-2" after the plain name of the same second.
    std::sort(found.begin(), found.end(), [](const RotatedJournal& a, const RotatedJournal& b) {
        if (a.rotatedAtMillis != b.rotatedAtMillis) return a.rotatedAtMillis < b.rotatedAtMillis;
        if (a.path.size() != b.path.size()) return a.path.size() < b.path.size();
        return a.path < b.path;
    });
    return found;
}

int JournalFile::RemoveRotatedBefore(std::int64_t cutoffMillis) const {
    int removed = 0;
    for (const RotatedJournal& rotated : RotatedFiles()) {
        if (rotated.rotatedAtMillis >= cutoffMillis) continue;
        std::error_code ec;
        if (fs::remove(rotated.path, ec)) ++removed;
    }
    return removed;
}

}  // namespace tillvane
