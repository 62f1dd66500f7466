#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// One thread that runs jobs one at a time, in the order they were handed in. Whatever a job
// creates on this thread (a database connection) is only ever used by later jobs, so it stays
// on the thread that made it. Thread-safe: Run and Start may be called from any thread except
// this one's own jobs.
class TRecordStoreThread
{
    struct TJob;

public:
    // A job handed in with Start. Copies share the job.
    class TTicket
    {
    public:
        TTicket() = default;
        // Returns once the job is done (at once for a ticket without a job); an exception the
        // job let out is thrown again here.
        void Wait() const;

    private:
        friend class TRecordStoreThread;
        explicit TTicket(std::shared_ptr<TJob> job) : m_job(std::move(job)) {}
        std::shared_ptr<TJob> m_job;
    };

    TRecordStoreThread();
    // Finishes the jobs already handed in, then joins the thread.
    ~TRecordStoreThread();

    TRecordStoreThread(const TRecordStoreThread&) = delete;
    TRecordStoreThread& operator=(const TRecordStoreThread&) = delete;

    // Hands the job in and returns at once.
    TTicket Start(std::function<void()> job);
    // Runs job on this thread and returns when it is done; an exception the job lets out is
    // thrown again here.
    void Run(std::function<void()> job) { Start(std::move(job)).Wait(); }

private:
    struct TJob
    {
        explicit TJob(std::function<void()> work) : Work(std::move(work)) {}
        const std::function<void()> Work;
        std::mutex Mutex;
        std::condition_variable Finished;
        bool Done = false;        // guarded by Mutex
        std::exception_ptr Error; // guarded by Mutex
    };

    void Loop();

    std::mutex m_mutex;
    std::condition_variable m_jobAdded;
    std::deque<std::shared_ptr<TJob>> m_queue; // guarded by m_mutex
    bool m_stopping = false;                   // guarded by m_mutex
    std::thread m_thread;                      // last: starts once the fields above exist
};
