#pragma once

#include "spot/spot.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>

/// The message of a source whose address cannot be used.
inline constexpr const char* kBadUrlMessage = "Bad URL : please configure";

/// What one fetch of the page brought.
struct FetchResult
{
    /// The body of a status-200 answer read to its end, every CR and NUL removed.
    std::optional<std::string> body {};
    /// Why there is no body: the client's text, or "" when `message` says it all.
    std::string error {};
    /// No HTTP session could be created: `error` goes to the error box and nothing is logged.
    bool sessionFailed = false;
    /// The fetch's own message for the user: "Bad URL : please configure", "Unable to locate url".
    std::string message {};
    /// How long a 429 or 503 answer asked the client to wait (Retry-After); zero when it did not.
    std::chrono::seconds retryAfter {0};
};

/// Where the tick takes the page from. The fetch runs away from the caller's thread, so nothing
/// the network does can hold the event loop; its result comes back on the caller's thread.
class PageSource
{
public:
    using Done = std::function<void(FetchResult)>;

    virtual ~PageSource() = default;

    /// Starts fetching `url`; `done` is called later, on this thread, unless Cancel comes first.
    virtual void Start(const std::string& url, Done done) = 0;
    /// Abandons the fetch in flight, if any: its `done` is never called.
    virtual void Cancel() = 0;
};

/// A source that sends spots as they come (a cluster node over telnet): the relay starts it in
/// place of polling a page.
class PushSource
{
public:
    using SpotHandler = std::function<void(const Spot&)>;

    virtual ~PushSource() = default;

    /// Whether `url` names a source of this kind.
    [[nodiscard]] virtual bool Serves(const std::string& url) const = 0;
    /// Connects to `url`, logs in as `call` and hands every spot to `handler`, on this thread,
    /// until Stop. "" or the message that keeps it from starting.
    [[nodiscard]] virtual std::string Start(const std::string& url, const std::string& call,
                                            SpotHandler handler)
        = 0;
    virtual void Stop() = 0;
    /// Whether it runs for `url` and `call` now: a restart with the same would only reconnect.
    [[nodiscard]] virtual bool RunsFor(const std::string& url, const std::string& call) const = 0;
};
