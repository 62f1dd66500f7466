#include "RecordStoreThreadUnit.h"

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

void TRecordStoreThread::Run(const std::function<void()>& job)
{
    TJob entry{&job, false, nullptr};
    std::unique_lock lock(m_mutex);
    m_queue.push_back(&entry);
    m_jobAdded.notify_one();
    m_jobDone.wait(lock, [&] { return entry.Done; });
    if (entry.Error)
        std::rethrow_exception(entry.Error);
}

void TRecordStoreThread::Loop()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_jobAdded.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
        if (m_queue.empty())
            return; // stopping, and nothing left to do
        TJob* job = m_queue.front();
        m_queue.pop_front();

        lock.unlock();
        std::exception_ptr error;
        try {
            (*job->Work)();
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();

        job->Error = error;
        job->Done = true;
        m_jobDone.notify_all();
    }
}
