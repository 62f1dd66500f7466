#include "WorkerPoolUnit.h"

TWorkerPool::TWorkerPool(int threadCount)
{
    m_threads.reserve(threadCount);
    for (int i = 0; i < threadCount; ++i)
        m_threads.emplace_back([this] { Run(); });
}

TWorkerPool::~TWorkerPool()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_jobs.clear();
    }
    m_wake.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
}

void TWorkerPool::Post(std::function<void()> job)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping)
            return;
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void TWorkerPool::Run()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_stopping)
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        job();
    }
}
