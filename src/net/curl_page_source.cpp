#include "net/curl_page_source.h"

#include <utility>

CurlPageSource::CurlPageSource(FetchLimits limits)
    : m_limits(limits)
{
}

CurlPageSource::~CurlPageSource()
{
    Cancel();
    {
        const std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_one();
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

void CurlPageSource::Start(const std::string& url, Done done)
{
    // One fetch at a time: one still running is cancelled and ends within a poll interval, then
    // the worker takes this one.
    Cancel();
    m_done = std::move(done);
    Job job {url, ++m_generation, std::make_shared<std::atomic<bool>>(false)};
    m_cancelCurrent = job.cancel;
    {
        const std::lock_guard lock(m_mutex);
        m_next = std::move(job);
    }
    m_wake.notify_one();
    if (!m_worker.joinable()) {
        m_worker = std::thread([this] { Work(); });
    }
}

void CurlPageSource::Cancel()
{
    if (m_cancelCurrent) {
        *m_cancelCurrent = true;
    }
    ++m_generation;
    m_done = {};
}

void CurlPageSource::Work()
{
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_quit || m_next; });
            if (m_quit) {
                return;
            }
            job = std::move(*std::exchange(m_next, std::nullopt));
        }
        FetchResult result = FetchPage(job.url, m_limits, job.cancel.get());
        // Back on the source's own thread. Were the source destroyed first, the queued call
        // would go with it: the destructor joins this thread before the object goes.
        QMetaObject::invokeMethod(
            this,
            [this, generation = job.generation, result = std::move(result)]() mutable {
                if (generation == m_generation && m_done) {
                    std::exchange(m_done, {})(std::move(result));
                }
            },
            Qt::QueuedConnection);
    }
}
