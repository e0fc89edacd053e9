#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>

/// Raised by FetchPage when no HTTP session can be created; the caller's tick shows it.
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

/// Shows one of the fetch's own messages ("Bad URL : please configure", "Unable to locate url").
using MessageFunction = std::function<void(const std::string&)>;

/// Fetches `url` with one blocking HTTP/1.0 GET. Returns the body of a status-200 answer with every
/// CR and NUL removed, "" after a message, or the client's error text. Throws FetchSessionError when
/// the client session cannot be created.
[[nodiscard]] std::string FetchPage(const std::string& url, const MessageFunction& showMessage,
                                    const FetchLimits& limits = {});
