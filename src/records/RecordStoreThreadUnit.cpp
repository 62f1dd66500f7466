#include "RecordStoreThreadUnit.h"

void TRecordStoreThread::TTicket::Wait() const
{
    if (!m_job)
        return;
    std::unique_lock lock(m_job->Mutex);
    m_job->Finished.wait(lock, [this] { return m_job->Done; });
    if (m_job->Error)
        std::rethrow_exception(m_job->Error);
}

TRecordStoreThread::TRecordStoreThread() : m_thread([this] { Loop(); }) {}

TRecordStoreThread::~TRecordStoreThread()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_jobAdded.notify_one();
    m_thread.join();
}

TRecordStoreThread::TTicket TRecordStoreThread::Start(std::function<void()> job)
{
    auto entry = std::make_shared<TJob>(std::move(job));
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(entry);
    }
    m_jobAdded.notify_one();
    return TTicket(std::move(entry));
}

void TRecordStoreThread::Loop()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_jobAdded.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
        if (m_queue.empty())
            return; // stopping, and nothing left to do
        const std::shared_ptr<TJob> job = std::move(m_queue.front());
        m_queue.pop_front();

        lock.unlock();
        std::exception_ptr error;
        try {
            job->Work();
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard done(job->Mutex);
            job->Error = error;
            job->Done = true;
            job->Finished.notify_all();
        }
        lock.lock();
    }
}
