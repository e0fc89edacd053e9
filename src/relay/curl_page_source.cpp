#include "relay/curl_page_source.h"

#include <exception>
#include <utility>

CurlPageSource::CurlPageSource(FetchLimits limits)
    : m_limits(limits)
{
}

CurlPageSource::~CurlPageSource()
{
    Cancel();
    Join();
}

void CurlPageSource::Start(const std::string& url, Done done)
{
    // One fetch at a time: one still running has been cancelled and ends within a poll interval.
    Cancel();
    Join();
    m_cancel = false;
    m_done = std::move(done);
    m_worker = std::thread([this, url, limits = m_limits, generation = ++m_generation] {
        PageResult result;
        try {
            result.fetch = FetchPage(url, limits, &m_cancel);
        } catch (const std::exception& error) {
            result.sessionError = error.what();
        }
        // Back on the source's own thread. Were the source destroyed first, the queued call
        // would go with it: the destructor joins this thread before the object goes.
        QMetaObject::invokeMethod(
            this,
            [this, generation, result = std::move(result)]() mutable {
                if (generation == m_generation && m_done) {
                    std::exchange(m_done, {})(std::move(result));
                }
            },
            Qt::QueuedConnection);
    });
}

void CurlPageSource::Cancel()
{
    m_cancel = true;
    ++m_generation;
    m_done = {};
}

void CurlPageSource::Join()
{
    if (m_worker.joinable()) {
        m_worker.join();
    }
}
