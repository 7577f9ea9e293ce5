#pragma once
// Why a call to the system failed: the system's code (errno; GetLastError on Windows) and its
// own words for it, or no failure at all. The files, the journal and the platform's file calls
// all answer with one.

#include <string>
#include <string_view>
#include <utility>

namespace tillvane::platform {

// Failures a caller acts on rather than only reports.
enum class ErrorKind { other, nameTaken, nameMissing, valueRefused };

class [[nodiscard]] Error {
  public:
    // No failure.
    Error() = default;
    // A failure of the system's `code`, in the system's words `text`.
    Error(int code, std::string text, ErrorKind kind = ErrorKind::other)
        : failed_(true), code_(code), text_(std::move(text)), kind_(kind) {}
    // A failure this program found itself (no system code), in `text`.
    static Error Message(std::string text) { return Error(0, std::move(text)); }
    // The same failure, marked as being of `kind`.
    Error As(ErrorKind kind) const {
        if (ok()) return *this;
        return Error(code_, text_, kind);
    }

    bool ok() const { return !failed_; }
    int code() const { return code_; }
    const std::string& text() const { return text_; }
    // A name that exists already.
    bool nameTaken() const { return failed_ && kind_ == ErrorKind::nameTaken; }
    // A file or folder that does not exist.
    bool nameMissing() const { return failed_ && kind_ == ErrorKind::nameMissing; }
    // A value the system does not take (a line speed a port cannot run at, say).
    bool valueRefused() const { return failed_ && kind_ == ErrorKind::valueRefused; }

    // The same failure, its text led by what failed ("write: No space left on device").
    Error Within(std::string_view what) const {
        if (ok()) return *this;
        return Error(code_, std::string(what) + ": " + text_, kind_);
    }

  private:
    bool failed_ = false;
    int code_ = 0;
    std::string text_;
    ErrorKind kind_ = ErrorKind::other;
};

// The calling thread's last system failure (errno; GetLastError on Windows).
Error LastSystemError();

// The system's own words for its failure `code` (errno; a Windows or Winsock error code).
std::string SystemErrorText(int code);

// The failure of the system's `code`, in the system's own words.
inline Error SystemError(int code, ErrorKind kind = ErrorKind::other) {
    return Error(code, SystemErrorText(code), kind);
}

}  // namespace tillvane::platform
