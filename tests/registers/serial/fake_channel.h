#pragma once
// A scripted byte channel: it records the frames written to it and answers each with what the
// test says, read back one byte at a time; an empty input reads as a read time-out.

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "registers/serial/byte_channel.h"
#include "registers/serial/link_frame.h"
#include "registers/serial/serial_link.h"

namespace tillvane::testing {

class FakeChannel : public ByteChannel {
  public:
    // Called with each frame written; its result becomes the input to read.
    std::function<std::string(const std::string& frame)> respond;
    std::vector<std::string> frames;
    std::string input;  // bytes not read yet
    bool refuseWrites = false;
    int discards = 0;
    int emptyReads = 0;

    platform::Error Write(std::string_view bytes) override {
        if (refuseWrites) return platform::Error::Message("write refused");
        frames.emplace_back(bytes);
        if (respond) input += respond(frames.back());
        return {};
    }
    std::optional<char> ReadByte() override {
        if (input.empty()) {
            ++emptyReads;
            return std::nullopt;
        }
        const char byte = input.front();
        input.erase(0, 1);
        return byte;
    }
    void DiscardInput() override {
        ++discards;
        input.clear();
    }
};

// The printer's well-formed answer to `frame`: its sequence and command echoed, `errorCode`.
inline std::string ReplyTo(const std::string& frame, int errorCode = 0,
                           std::string_view data = {}) {
    return link::BuildReplyFrame(static_cast<std::uint8_t>(frame.at(2)),
                                 static_cast<std::uint8_t>(frame.at(3)), errorCode, data);
}

// Records the pauses instead of waiting.
struct PauseRecorder {
    std::vector<std::chrono::milliseconds> pauses;
    Pause AsPause() {
        return [this](std::chrono::milliseconds duration) { pauses.push_back(duration); };
    }
};

}  // namespace tillvane::testing
