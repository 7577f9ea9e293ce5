#include "requests/command_text_reader.h"

#include <algorithm>
#include <optional>

#include "base/base64.h"
#include "base/html_escape.h"
#include "base/result.h"
#include "commands/command_interpreter.h"
#include "requests/replies.h"

namespace tillvane {

namespace {

// The command text ends at its first 0 byte, as the interpreter has always read it.
void CutAtFirstZeroByte(std::string& text) {
    text.resize(std::min(text.find('\0'), text.size()));
}

}  // namespace

platform::Error CommandTextReader::Read(const CommandRequest& request,
                                        RequestCommand& command) const {
    command.hexNames = false;
    // A POST whose form carries no command text at all takes the CMD of its URL, as a GET
    // does: answered "OK|" unprinted, a receipt the till believes printed would be lost.
    const std::optional<std::string> formText = request.Form(kCommandField);
    const std::optional<std::string> formBase64 = request.Form(kCommandBase64Field);
    const std::optional<std::string> formBase64Hex = request.Form(kCommandBase64HexField);
    const bool fromForm = formText || formBase64 || formBase64Hex;
    command.text = (fromForm ? formText : request.Query(kCommandField)).value_or(std::string());
    if (command.text.size() > kMaxCommandTextLength) {
        return platform::Error::Message(std::string(kCommandTooLongReply));
    }
    if (fromForm && command.text.empty()) {
        // CMD wins; a plain CMD is never Base64-decoded.
        std::string encoded = formBase64.value_or(std::string());
        if (encoded.empty()) {
            encoded = formBase64Hex.value_or(std::string());
            command.hexNames = true;
        }
        if (encoded.size() > kMaxCommandTextLength) {
            return platform::Error::Message(std::string(kCommandTooLongReply));
        }
        Result<std::string> decoded = Base64Decode(encoded);
        if (!decoded.ok()) {
            // Refused before anything runs: a part of a broken text is no receipt.
            return platform::Error::Message(refusals_.Refuse(
                std::string(kInvalidBase64Reply) + std::to_string(decoded.error().code())));
        }
        command.text = std::move(decoded.value());
    }
    CutAtFirstZeroByte(command.text);

    if (options_.debugMode) {
        observer_.Log(command.text);
        if (request.isPost) {
            // A till's name is letters, digits and . _ - only: nothing to escape.
            observer_.LogPostedCommand(
                (request.till.empty() ? std::string() : "till=" + request.till + " ") +
                EscapeHtml(command.text));
        }
    }
    if (CountCommandLines(command.text) > static_cast<std::size_t>(options_.maxCommandLines)) {
        return platform::Error::Message(refusals_.Refuse(std::string(kTooManyLinesReply) +
                                                         std::to_string(options_.maxCommandLines) +
                                                         std::string(kTooManyLinesTail)));
    }
    return {};
}

}  // namespace tillvane
