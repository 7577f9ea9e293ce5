#pragma once
// Cuts the bytes arriving from the driver into request frames, by their LEN byte.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "registers/serial/link_frame.h"

namespace tillvane::simulator {

struct ReceivedFrame {
    std::optional<link::RequestFrame> request;  // nothing when the frame was damaged
};

class FrameAssembler {
  public:
    // Adds received bytes; returns the frames they complete, in order. Bytes before a 0x01
    // are dropped.
    std::vector<ReceivedFrame> Feed(std::string_view bytes);
    // True while a frame has begun and not ended.
    bool HasPartial() const { return !pending_.empty(); }
    // Drops a frame that stopped halfway.
    void DropPartial() { pending_.clear(); }

  private:
    std::string pending_;  // from a 0x01 on
};

}  // namespace tillvane::simulator
