#pragma once

// Typed outcomes: the value of work that may fail, or the error it ended with.
//
//   auto job = [store, id] { return store->loadRecording(id); };
//   Outcome<LocalRecording> loaded = co_await attemptOn(actors, job);
//   if (const APIError* refused = loaded.errorAs<APIError>()) ...   // branch on the type
//   loaded.drop("re-reading the manifest");                          // or drop it, with a trace
//
// This file is the one place in the model that catches any error. Everywhere else the model
// either branches on an error's type or drops it through `drop`, which in debug builds writes
// one line to the standard error stream:
//
//   nuvel: dropped <error type> (<where>): <what>
//
// Release builds drop errors silently: the status sentence is the user's record of a failure.

#include "NuvelKit/support/Executor.hpp"
#include "NuvelKit/support/Task.hpp"

#include <cstdio>
#include <cstdlib>
#include <cxxabi.h>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <typeinfo>
#include <utility>

namespace nuvel {

// The error side of an outcome: empty on success.
class Failure {
public:
    Failure() = default;

    bool failed() const { return static_cast<bool>(error_); }
    const std::exception_ptr& error() const { return error_; }
    // The error's dynamic type, demangled ("nuvel::RecordingError"); empty on success.
    const std::string& errorType() const { return type_; }

    // The error as `E` when it is one (or derives from it), else null. Valid while this lives.
    template <class E> const E* errorAs() const {
        if (!error_)
            return nullptr;
        try {
            std::rethrow_exception(error_);
        } catch (const E& error) {
            return &error;
        } catch (...) {
            return nullptr;
        }
    }
    bool cancelled() const { return errorAs<Cancelled>() != nullptr; }
    // The error says a file is not there: for a copy that was never written, an answer, not a fault.
    bool missingFile() const {
        const auto* error = errorAs<std::filesystem::filesystem_error>();
        return error && error->code() == std::errc::no_such_file_or_directory;
    }

    // Drops the error (nothing on success), leaving the debug trace described above.
    void drop([[maybe_unused]] std::string_view where) const {
#ifndef NDEBUG
        if (!error_)
            return;
        const std::exception* described = errorAs<std::exception>();
        std::fprintf(stderr, "nuvel: dropped %s (%.*s): %s\n", type_.c_str(), int(where.size()), where.data(),
                     described ? described->what() : "");
#endif
    }

    // Inside a handler: the error being handled, with its type.
    static Failure current() {
        Failure failure;
        failure.error_ = std::current_exception();
        if (const std::type_info* type = abi::__cxa_current_exception_type()) {
            int status = 0;
            char* readable = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
            failure.type_ = status == 0 && readable ? readable : type->name();
            std::free(readable);
        }
        return failure;
    }

private:
    std::exception_ptr error_;
    std::string type_;
};

template <class T> class Outcome : public Failure {
public:
    explicit Outcome(T value) : value_(std::move(value)) {}
    explicit Outcome(Failure failure) : Failure(std::move(failure)) {}

    bool ok() const { return value_.has_value(); }
    // Only on success.
    T& value() { return *value_; }
    const T& value() const { return *value_; }

private:
    std::optional<T> value_;
};

template <> class Outcome<void> : public Failure {
public:
    Outcome() = default;
    explicit Outcome(Failure failure) : Failure(std::move(failure)) {}
    bool ok() const { return !failed(); }
};

// Calls `work` and gives what it returns, or the error it threw.
template <class F> auto attemptNow(F&& work) -> Outcome<std::invoke_result_t<F>> {
    using T = std::invoke_result_t<F>;
    try {
        if constexpr (std::is_void_v<T>) {
            work();
            return Outcome<void>();
        } else {
            return Outcome<T>(work());
        }
    } catch (...) {
        return Outcome<T>(Failure::current());
    }
}

// Awaits `task` (taken from the caller's variable) and gives its value, or the error it ended
// with, Cancelled included.
template <class T> Task<Outcome<T>> attempt(Task<T>& task) {
    Task<T> owned = std::move(task);
    std::optional<Outcome<T>> outcome;
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(owned);
            outcome.emplace();
        } else {
            outcome.emplace(co_await std::move(owned));
        }
    } catch (...) {
        outcome.emplace(Failure::current());
    }
    co_return std::move(*outcome);
}

namespace detail {
template <class F> using AttemptResult = typename RunResult<F>::type;

template <class F> Task<AttemptResult<F>> runAsTask(Executor& executor, F work) {
    if constexpr (std::is_void_v<AttemptResult<F>>)
        co_await runOn(executor, work);
    else
        co_return co_await runOn(executor, work);
}
} // namespace detail

// Runs `work` on `executor` as runOn does (moving it out of the caller's variable) and gives its
// value, or the error it threw.
template <class F>
requires(!std::is_const_v<F>) Task<Outcome<detail::AttemptResult<F>>> attemptOn(Executor& executor, F& work) {
    Task<detail::AttemptResult<F>> task = detail::runAsTask(executor, std::move(work));
    co_return co_await attempt(task);
}

} // namespace nuvel
