#pragma once

#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

// Runs blocking work (an encoder call, a database round trip, a wait for the card-step lock
// that a request holds) on a thread of its own while the calling GUI thread keeps its event
// loop turning, so windows still paint and timers still fire. Returns once the work has ended,
// giving back its result or throwing its error on the calling thread.
//
// Call it on a thread with a running Qt event dispatcher (the GUI thread). The work runs on
// another thread: it must not touch widgets, and whatever it reads must stay alive and
// unchanged until the call returns. The caller keeps its own controls from starting more work
// meanwhile (the waiting loop still delivers input).
namespace BackgroundCall {

void Run(const std::function<void()>& work);

template <typename Work> std::invoke_result_t<Work&> Call(Work work)
{
    using Result = std::invoke_result_t<Work&>;
    if constexpr (std::is_void_v<Result>) {
        Run(work);
    } else {
        std::optional<Result> result;
        Run([&] { result.emplace(work()); });
        return std::move(*result);
    }
}

} // namespace BackgroundCall
