#include "tools/printer_simulator/printer_responder.h"

#include "registers/serial/link_frame.h"

namespace tillvane::simulator {

namespace {

// Noise ahead of a reply: none of the bytes that mean something on the link.
constexpr std::string_view kNoise = "\xFE\x7F noise \x02\x06";

std::string HexCode(std::uint8_t command) {
    constexpr char kDigits[] = "0123456789ABCDEF";
    return {'0', 'x', kDigits[command >> 4], kDigits[command & 0x0F]};
}

std::string KindName(const Fault& fault) {
    switch (fault.kind) {
        case FaultKind::silent:
            return "silent";
        case FaultKind::nak:
            return "nak";
        case FaultKind::error:
            return "error=" + std::to_string(fault.errorCode);
        case FaultKind::empty:
            return "empty";
        case FaultKind::garbage:
            return "garbage";
        case FaultKind::wrongSequence:
            return "badseq";
        case FaultKind::cut:
            return "cut";
    }
    return {};
}

}  // namespace

const Fault* PrinterResponder::TakeFault(std::uint8_t command) {
    for (std::size_t i = 0; i < faults_.size(); ++i) {
        if (faults_[i].command != command || used_[i]) continue;
        if (faults_[i].once) used_[i] = true;
        return &faults_[i];
    }
    return nullptr;
}

std::string PrinterResponder::Respond(const ReceivedFrame& frame) {
    if (!frame.request) {
        journal_.Write("BAD FRAME");
        return std::string(1, link::kNak);
    }
    const link::RequestFrame& request = *frame.request;
    const Fault* fault = TakeFault(request.command);
    if (fault != nullptr) {
        journal_.Write("FAULT " + HexCode(request.command) + " " + KindName(*fault));
        switch (fault->kind) {
            case FaultKind::silent:
                return {};
            case FaultKind::nak:
                return std::string(1, link::kNak);
            case FaultKind::empty:
                return std::string(1, link::kFrameEnd);
            case FaultKind::error:
                return link::BuildReplyFrame(request.sequence, request.command, fault->errorCode,
                                             {}, printer_.StatusBytes());
            case FaultKind::garbage:
            case FaultKind::wrongSequence:
            case FaultKind::cut:
                break;
        }
    }

    const PrinterAnswer answer = printer_.Handle(request.command, request.data);
    journal_.Write(answer.journalLine);
    if (!answer.reply && fault == nullptr) return {};
    const int sequence = fault != nullptr && fault->kind == FaultKind::wrongSequence
                             ? link::NextSequence(request.sequence)
                             : request.sequence;
    std::string reply = link::BuildReplyFrame(sequence, request.command, answer.errorCode,
                                              answer.data, printer_.StatusBytes());
    if (fault != nullptr && fault->kind == FaultKind::garbage) reply.insert(0, kNoise);
    if (fault != nullptr && fault->kind == FaultKind::cut) {
        reply.resize(reply.size() / 2);
        hangUp_ = true;
    }
    return reply;
}

void PrinterResponder::CancelAtKeys() {
    const std::string line = printer_.CancelAtKeys();
    if (!line.empty()) journal_.Write(line);
}

std::string PrinterResponder::RespondToPartial() {
    journal_.Write("BAD FRAME");
    return std::string(1, link::kNak);
}

}  // namespace tillvane::simulator
