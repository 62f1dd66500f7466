#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

// One thread that runs jobs one at a time, in the order they were handed in. Whatever a job
// creates on this thread (a database connection) is only ever used by later jobs, so it stays
// on the thread that made it. Thread-safe: Run may be called from any thread except this
// one's own jobs.
class TRecordStoreThread
{
public:
    TRecordStoreThread();
    // Finishes the jobs already handed in, then joins the thread.
    ~TRecordStoreThread();

    TRecordStoreThread(const TRecordStoreThread&) = delete;
    TRecordStoreThread& operator=(const TRecordStoreThread&) = delete;

    // Runs job on this thread and returns when it is done; an exception the job lets out is
    // thrown again here.
    void Run(const std::function<void()>& job);

private:
    struct TJob
    {
        const std::function<void()>* Work;
        bool Done = false;
        std::exception_ptr Error;
    };

    void Loop();

    std::mutex m_mutex;
    std::condition_variable m_jobAdded;
    std::condition_variable m_jobDone;
    std::deque<TJob*> m_queue;
    bool m_stopping = false;
    std::thread m_thread; // last: starts once the fields above exist
};
