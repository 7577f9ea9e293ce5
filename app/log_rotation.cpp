#include "app/log_rotation.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "base/utc_time.h"

namespace tillvane {

namespace fs = std::filesystem;

namespace {

// Names tried for a move that falls in a second already used.
constexpr int kMaxRotationAttempts = 100;

// The moved-aside files of the log at `live`, oldest first (their names sort by time).
std::vector<fs::path> RotatedLogs(const fs::path& live) {
    const fs::path folder = live.has_parent_path() ? live.parent_path() : fs::path(".");
    const std::string prefix = live.stem().string() + "-";
    const std::string extension = live.extension().string();
    std::vector<fs::path> found;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() < prefix.size() + kUtcStampLength + extension.size() ||
            !name.starts_with(prefix) || !name.ends_with(extension) ||
            !ParseUtcStamp(std::string_view(name).substr(prefix.size(), kUtcStampLength))) {
            continue;
        }
        found.push_back(it->path());
    }
    // By time, then "-2" after the plain name of the same second, "-10" after "-9".
    const std::size_t stampEnd = prefix.size() + kUtcStampLength;
    std::sort(found.begin(), found.end(), [stampEnd](const fs::path& a, const fs::path& b) {
        const std::string first = a.filename().string();
        const std::string second = b.filename().string();
        if (const int byTime = first.compare(0, stampEnd, second, 0, stampEnd); byTime != 0) {
            return byTime < 0;
        }
        if (first.size() != second.size()) return first.size() < second.size();
        return first < second;
    });
    return found;
}

}  // namespace

void RotateLogWhenFull(const std::string& path, std::uint64_t entryBytes,
                       const LogRotation& rotation) {
    std::error_code ec;
    const std::uint64_t size = fs::file_size(path, ec);
    if (ec || size == 0 || size + entryBytes <= rotation.rotateBytes) return;
    const fs::path live(path);
    const std::string stem = (live.parent_path() / live.stem()).string();
    const std::string extension = live.extension().string();
    const std::string stamp = FormatUtcStamp(UnixMillisNow());
    for (int attempt = 1; attempt <= kMaxRotationAttempts; ++attempt) {
        std::string aside = stem + "-" + stamp;
        if (attempt > 1) aside.append("-").append(std::to_string(attempt));
        aside += extension;
        if (fs::exists(aside, ec)) continue;
        fs::rename(path, aside, ec);
        break;
    }
    std::vector<fs::path> rotated = RotatedLogs(live);
    for (std::size_t i = 0; i + rotation.keptFiles < rotated.size(); ++i) {
        fs::remove(rotated[i], ec);
    }
}

}  // namespace tillvane
