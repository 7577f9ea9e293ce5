#pragma once
// What the request pipeline tells whoever hosts it, as requests pass: its log entries and how
// each request ended. Called from the HTTP and driver threads alike.

#include <string_view>

namespace tillvane {

struct JournaledRequest;
struct RequestOutcome;

class RequestObserver {
  public:
    virtual ~RequestObserver() = default;

    // An entry of the application log.
    virtual void Log(std::string_view entry) = 0;
    // In debug mode, a posted command text for the request log.
    virtual void LogPostedCommand(std::string_view text) = 0;
    // A request as it ends, before its answer is sent, on the thread that ends it.
    virtual void Ended(const JournaledRequest& request, const RequestOutcome& outcome) = 0;
    // On the driver thread, after every run: the driver's state may have changed.
    virtual void DriverRan() = 0;
};

}  // namespace tillvane
