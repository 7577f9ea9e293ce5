#pragma once
// A value, or why there is none: what a call gives back when its failure is part of its
// answer. The failure is a platform::Error, so that a system failure and a refused input
// travel the same way.

#include <optional>
#include <utility>

#include "platform/error.h"

namespace tillvane {

template <typename T>
class [[nodiscard]] Result {
  public:
    Result(T value) : value_(std::move(value)) {}
    // `error` must be a failure: a result without a value holds one.
    Result(platform::Error error) : error_(std::move(error)) {
        if (error_.ok()) error_ = platform::Error::Message("no value");
    }

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    const platform::Error& error() const { return error_; }
    // Only on a result that is ok().
    T& value() { return *value_; }
    const T& value() const { return *value_; }
    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }

  private:
    std::optional<T> value_;
    platform::Error error_;
};

}  // namespace tillvane
