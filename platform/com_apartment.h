#pragma once
// Per-thread COM initialisation. The Windows service initialises COM on the worker thread (as
// a multithreaded apartment) and on the web server thread, for the system components that
// expect it; other systems have no COM and these do nothing.

namespace tillvane::platform {

// Joins the calling thread to the multithreaded apartment for the rest of its life.
void JoinMultithreadedApartment();

// COM initialised for the calling thread while the object lives.
class ComThreadScope {
  public:
    ComThreadScope();
    ~ComThreadScope();
    ComThreadScope(const ComThreadScope&) = delete;
    ComThreadScope& operator=(const ComThreadScope&) = delete;

  private:
    // Read by the Windows build only.
    [[maybe_unused]] bool initialized_ = false;
};

}  // namespace tillvane::platform
