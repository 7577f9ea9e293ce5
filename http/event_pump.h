#pragma once
// The event loop of the web server: runs on the thread that calls Run, and is told to leave
// its loop from any other thread.

#include <functional>
#include <memory>

namespace boost::asio {
class io_context;
}

namespace tillvane {

class EventPump {
  public:
    EventPump();
    ~EventPump();
    EventPump(const EventPump&) = delete;
    EventPump& operator=(const EventPump&) = delete;

    // Runs the loop on the calling thread until PostExit. Returns at once when PostExit came
    // first.
    void Run();
    // Makes Run return; safe from any thread, also before Run has started.
    void PostExit();

    // Runs `task` on the loop's thread; safe from any thread. Tasks still waiting when the
    // loop ends are dropped unrun.
    void Post(std::function<void()> task);

    boost::asio::io_context& context();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tillvane
