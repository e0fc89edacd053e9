#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <stdexcept>
#include <string>

/// Raised by FetchPage when no HTTP session can be created; the caller shows it.
class FetchSessionError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

/// Bounds of one fetch. Tests shorten them; the program keeps the defaults.
struct FetchLimits
{
    /// Resolving and connecting (TLS included); zero leaves libcurl's own limit.
    std::chrono::milliseconds connectTimeout {60000};
    /// Once connected, the transfer is abandoned when no byte arrives for this long; zero: never.
    std::chrono::milliseconds stallTimeout {30000};
    /// The largest body read; a longer one is abandoned with an error text.
    std::size_t maxBodyBytes = 16u * 1024u * 1024u;
};

/// What one fetch brought back.
struct FetchResult
{
    /// The body of a status-200 answer with every CR and NUL removed, "" after a message, or the
    /// client's error text.
    std::string text;
    /// The fetch's own message for the user: "Bad URL : please configure", "Unable to locate url".
    std::string message;
    /// A status-200 body was read to its end.
    bool complete = false;
    /// How long a 429 or 503 answer asked the client to wait (Retry-After); zero when it did not.
    std::chrono::seconds retryAfter {0};
};

/// Fetches `url` with one HTTP/1.0 GET, blocking the calling thread. Throws FetchSessionError when
/// the client session cannot be created. Setting `*cancel` from another thread abandons the
/// transfer within about 50 ms; the result is then an error text.
[[nodiscard]] FetchResult FetchPage(const std::string& url, const FetchLimits& limits = {},
                                    const std::atomic<bool>* cancel = nullptr);
