#include "http/event_pump.h"

// Boost 1.74's Asio misses this include under C++20.
#include <utility>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

namespace tillvane {

struct EventPump::Impl {
    boost::asio::io_context context;
};

EventPump::EventPump() : impl_(std::make_unique<Impl>()) {}

EventPump::~EventPump() = default;

void EventPump::Run() {
    // The guard keeps the loop running while there is nothing to do, e.g. before the first
    // connection; only PostExit ends it.
    auto guard = boost::asio::make_work_guard(impl_->context);
    while (!impl_->context.stopped()) {
        try {
            impl_->context.run();
        } catch (...) {
            // A handler that throws must not end the server: the web server catches what its
            // own handlers throw, so this only guards against the unforeseen.
        }
    }
}

void EventPump::PostExit() {
    impl_->context.stop();
}

void EventPump::Post(std::function<void()> task) {
    boost::asio::post(impl_->context, std::move(task));
}

boost::asio::io_context& EventPump::context() {
    return impl_->context;
}

}  // namespace tillvane
