#pragma once

#include "spot/spot_source.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>

/// What the fetches need once per program, made before the first and kept past the last: libcurl's
/// global state, and SIGPIPE ignored. The transfers run without libcurl's signal handling (it
/// costs a dozen system calls per fetch), so a peer that goes away mid-write must be an error, not
/// the end of the program.
class NetworkRuntime
{
public:
    NetworkRuntime();
    ~NetworkRuntime();
    NetworkRuntime(const NetworkRuntime&) = delete;
    NetworkRuntime& operator=(const NetworkRuntime&) = delete;
};

/// Bounds of one fetch. Tests shorten them; the program keeps the defaults.
struct FetchLimits
{
    /// Resolving and connecting (TLS included); zero leaves libcurl's own limit.
    std::chrono::milliseconds connectTimeout {60000};
    /// Once connected, the transfer is abandoned when no byte arrives for this long; zero: never.
    std::chrono::milliseconds stallTimeout {30000};
    /// The whole fetch is abandoned after this long, however its bytes trickle in; zero: never.
    std::chrono::milliseconds totalTimeout {60000};
    /// The largest body read; a longer one is abandoned with an error text.
    std::size_t maxBodyBytes = 16u * 1024u * 1024u;
};

/// Fetches `url` with one HTTP/1.0 GET, blocking the calling thread. A proxy named by the
/// environment (http_proxy, https_proxy, all_proxy, no_proxy, as libcurl reads them) is asked in
/// the form a proxy expects; the request target stays as typed. Setting `*cancel` from another
/// thread abandons the transfer within about 50 ms; the result is then an error.
[[nodiscard]] FetchResult FetchPage(const std::string& url, const FetchLimits& limits = {},
                                    const std::atomic<bool>* cancel = nullptr);
