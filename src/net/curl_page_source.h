#pragma once

#include "net/fetch_page.h"
#include "spot/spot_source.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include <QObject>

/// The real page source: FetchPage over libcurl on a worker thread of its own, one fetch at a
/// time, the result handed back through the event loop of the thread that made the source.
class CurlPageSource : public QObject, public PageSource
{
public:
    explicit CurlPageSource(FetchLimits limits = {});
    /// Abandons a fetch in flight and waits for the worker, which ends within about 50 ms.
    ~CurlPageSource() override;
    CurlPageSource(const CurlPageSource&) = delete;
    CurlPageSource& operator=(const CurlPageSource&) = delete;

    void Start(const std::string& url, Done done) override;
    void Cancel() override;

private:
    struct Job
    {
        std::string url;
        std::uint64_t generation = 0;
        std::shared_ptr<std::atomic<bool>> cancel; ///< set by Cancel, seen by the transfer
    };

    /// The worker: one thread for the source's life, so a tick costs no thread of its own.
    void Work();

    FetchLimits m_limits;
    /// Counts Start and Cancel calls, so that a result that arrives late is known as stale.
    std::uint64_t m_generation = 0;
    Done m_done;
    std::shared_ptr<std::atomic<bool>> m_cancelCurrent;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<Job> m_next; ///< waits for the worker, guarded by m_mutex
    bool m_quit = false; ///< guarded by m_mutex
    std::thread m_worker;
};
