#pragma once

#include "net/fetch_page.h"
#include "relay/relay_window.h"

#include <atomic>
#include <cstdint>
#include <thread>

#include <QObject>

/// The real page source: FetchPage over libcurl on a worker thread of its own, one fetch at a
/// time, the result handed back through the event loop of the thread that made the source.
class CurlPageSource : public QObject, public PageSource
{
public:
    explicit CurlPageSource(FetchLimits limits = {});
    /// Abandons a fetch in flight and waits for its thread, which ends within about 50 ms.
    ~CurlPageSource() override;
    CurlPageSource(const CurlPageSource&) = delete;
    CurlPageSource& operator=(const CurlPageSource&) = delete;

    void Start(const std::string& url, Done done) override;
    void Cancel() override;

private:
    void Join();

    FetchLimits m_limits;
    std::thread m_worker;
    std::atomic<bool> m_cancel {false};
    /// Counts Start and Cancel calls, so that a result that arrives late is known as stale.
    std::uint64_t m_generation = 0;
    Done m_done;
};
