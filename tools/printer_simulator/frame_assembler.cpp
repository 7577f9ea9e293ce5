#include "tools/printer_simulator/frame_assembler.h"

namespace tillvane::simulator {

std::vector<ReceivedFrame> FrameAssembler::Feed(std::string_view bytes) {
    std::vector<ReceivedFrame> frames;
    pending_ += bytes;
    while (true) {
        const std::size_t start = pending_.find(link::kFrameStart);
        if (start == std::string::npos) {
            pending_.clear();
            break;
        }
        pending_.erase(0, start);
        if (pending_.size() < 2) break;
        const std::size_t size = link::RequestFrameSize(static_cast<std::uint8_t>(pending_[1]));
        if (size == 0) {
            frames.push_back({std::nullopt});
            pending_.erase(0, 1);
            continue;
        }
        if (pending_.size() < size) break;
        Result<link::RequestFrame> parsed =
            link::ParseRequestFrame(std::string_view(pending_).substr(0, size));
        frames.push_back({parsed ? std::optional(std::move(*parsed)) : std::nullopt});
        pending_.erase(0, size);
    }
    return frames;
}

}  // namespace tillvane::simulator
