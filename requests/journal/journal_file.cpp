#include "requests/journal/journal_file.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "base/utc_time.h"

namespace tillvane {

namespace fs = std::filesystem;

namespace {

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

JournalFile::JournalFile(std::string path, std::uint64_t rotateBytes, std::int64_t keepMillis,
                         platform::FileSystem& files, std::size_t maxRotatedFiles)
    : path_(std::move(path)),
      rotateBytes_(rotateBytes),
      keepMillis_(keepMillis),
      maxRotatedFiles_(maxRotatedFiles),
      files_(files) {
    const fs::path asPath(path_);
    extension_ = asPath.extension().string();
    stem_ = path_.substr(0, path_.size() - extension_.size());
}

platform::Error JournalFile::FlushFolderOfPath() {
    const std::size_t separator = path_.find_last_of("/\\");
    const std::string folder =
        separator == std::string::npos ? "." : path_.substr(0, separator + 1);
    return files_.FlushFolder(folder).Within("flush of folder " + folder);
}

platform::Error JournalFile::OpenLiveFile() {
    if (file_) return {};
    return files_.OpenForAppend(path_, file_);
}

platform::Error JournalFile::Open() {
    std::lock_guard lock(mutex_);
    std::error_code ec;
    const std::uint64_t size = fs::exists(path_, ec) ? fs::file_size(path_, ec) : 0;
    if (ec) return platform::Error(ec.value(), ec.message());
    const std::uint64_t whole = WholeLinesSize(path_, size);
    if (whole < size) {
        platform::Error cut = files_.Truncate(path_, whole);
        if (!cut.ok()) return cut.Within("cannot cut the torn last line");
    }
    if (platform::Error opened = OpenLiveFile(); !opened.ok()) return opened;
    fileBytes_ = whole;
    // A new file's name must outlive a power cut as well as its lines.
    if (size == 0) return FlushFolderOfPath();
    return {};
}

JournalAppend JournalFile::Append(std::string_view line) {
    std::unique_lock lock(mutex_);
    JournalAppend result;
    const auto full = [&] { return fileBytes_ > 0 && fileBytes_ + line.size() > rotateBytes_; };
    if (full()) {
        flushDone_.wait(lock, [this] { return !flushing_; });
        // A journal that cannot move aside keeps growing: losing records would be worse. Another
        // append may have moved it aside while this one waited.
        if (full()) result.rotation = Rotate(result.removedEarly);
    }
    // A file that a failed rotation left closed is opened again for the next line.
    result.error = OpenLiveFile();
    if (!result.error.ok()) return result;
    result.error = file_->Append(line);
    if (!result.error.ok()) return result;
    fileBytes_ += line.size();
    appended_ += line.size();
    result.ticket = appended_;
    return result;
}

platform::Error JournalFile::WaitDurable(std::uint64_t ticket) {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (durable_ >= ticket) return {};
        if (flushing_) {
            flushDone_.wait(lock);
            continue;
        }
        // This caller flushes for everyone: the lines appended meanwhile wait for the next.
        flushing_ = true;
        const std::uint64_t target = appended_;
        // Only the flushing caller touches the file now: appends wait for flushing_ to end.
        platform::AppendableFile* const file = file_.get();
        lock.unlock();
        platform::Error flushed =
            file != nullptr ? file->FlushToDisk() : platform::Error::Message("file not open");
        lock.lock();
        flushing_ = false;
        if (flushed.ok()) durable_ = std::max(durable_, target);
        flushDone_.notify_all();
        if (!flushed.ok()) return flushed;
    }
}

platform::Error JournalFile::Rotate(int& removedEarly) {
    // Counted afresh whatever becomes of this rotation: one that fails is tried again after
    // as many bytes more, not before every line.
    fileBytes_ = 0;
    if (platform::Error flushed =
            file_ ? file_->FlushToDisk() : platform::Error::Message("file not open");
        !flushed.ok()) {
        return flushed;
    }
    durable_ = appended_;
    file_.reset();
    const std::int64_t now = UnixMillisNow();
    bool moved = false;
    platform::Error error;
    for (int attempt = 1; attempt <= kMaxRotationAttempts && !moved; ++attempt) {
        const platform::Error failure =
            files_.MoveWithoutReplacing(path_, RotatedName(now, attempt));
        moved = failure.ok();
        if (!moved && !failure.nameTaken()) {
            error = failure.Within("cannot rotate the journal");
            break;
        }
    }
    if (platform::Error opened = OpenLiveFile(); !opened.ok()) return opened;
    if (!moved) return error;
    if (keepMillis_ > 0) RemoveRotatedBefore(now - keepMillis_);
    const std::vector<RotatedJournal> rotated = RotatedFiles();
    for (std::size_t i = 0; i + maxRotatedFiles_ < rotated.size(); ++i) {
        std::error_code ec;
        if (fs::remove(rotated[i].path, ec)) ++removedEarly;
    }
    return FlushFolderOfPath();
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
