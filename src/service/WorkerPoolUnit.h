#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A fixed set of threads that run posted jobs in order of arrival. Built on std::thread and
// std::mutex so ThreadSanitizer sees every hand-over. Destruction lets running jobs finish, drops
// those not yet started and joins every thread. Thread-safe: Post may be called from any thread.
class TWorkerPool
{
public:
    explicit TWorkerPool(int threadCount);
    ~TWorkerPool();

    TWorkerPool(const TWorkerPool&) = delete;
    TWorkerPool& operator=(const TWorkerPool&) = delete;

    // The job must not throw; it is run on one of the pool's threads.
    void Post(std::function<void()> job);

private:
    void Run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};
