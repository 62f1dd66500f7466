#include "BackgroundCallUnit.h"

#include "ThreadInboxUnit.h"

#include <QEventLoop>
#include <exception>
#include <thread>

namespace BackgroundCall {

void Run(const std::function<void()>& work)
{
    QEventLoop loop;
    TThreadInbox inbox; // the wake-up travels through a std::mutex, which TSan sees
    std::exception_ptr error;

    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
        inbox.Post([&loop] { loop.quit(); });
    });
    // The wake-up can only run inside this loop (or one nested in it), so it is never lost.
    // An application that is quitting ends every loop early: then simply wait for the work.
    loop.exec();
    worker.join();
    if (error)
        std::rethrow_exception(error);
}

} // namespace BackgroundCall
