#pragma once

#include <QCoreApplication>
#include <QCoroTask>
#include <QElapsedTimer>

#include <exception>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace runtask_detail {

template<typename T>
QCoro::Task<> capture(QCoro::Task<T> task, std::optional<T> &value, std::exception_ptr &error, bool &done)
{
    try {
        value.emplace(co_await std::move(task));
    } catch (...) {
        error = std::current_exception();
    }
    done = true;
}

inline QCoro::Task<> capture(QCoro::Task<> task, std::exception_ptr &error, bool &done)
{
    try {
        co_await std::move(task);
    } catch (...) {
        error = std::current_exception();
    }
    done = true;
}

inline void spinUntil(const bool &done)
{
    // The event loop runs the task's waits; a task that never ends fails the test, not hangs it.
    QElapsedTimer waited;
    waited.start();
    while (!done) {
        if (waited.elapsed() > 60000)
            qFatal("a bus task did not end within 60 s");
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    }
}

} // namespace runtask_detail

// Runs a bus coroutine to its end in the test's event loop and returns its result; an
// exception it raised is raised here (QCoro::waitFor loses those).
template<typename T>
T runTask(QCoro::Task<T> &&task)
{
    bool done = false;
    std::exception_ptr error;
    if constexpr (std::is_void_v<T>) {
        auto runner = runtask_detail::capture(std::move(task), error, done);
        runtask_detail::spinUntil(done);
        if (error)
            std::rethrow_exception(error);
    } else {
        std::optional<T> value;
        auto runner = runtask_detail::capture(std::move(task), value, error, done);
        runtask_detail::spinUntil(done);
        if (error)
            std::rethrow_exception(error);
        return std::move(*value);
    }
}
