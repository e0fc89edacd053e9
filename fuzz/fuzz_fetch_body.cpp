// HTTP bodies from the outside: a loopback server answers with status 200 and the fuzzed body,
// sent in fuzzed pieces, then closes. FetchPage must return exactly the body with every CR and NUL
// removed, read whole, show no message, and never crash or hang.
//
// Input: pieces, each a length byte followed by up to that many body bytes.

#include "fuzz_common.h"
#include "net/fetch_page.h"
#include "support/loopback_server.h"

#include <algorithm>
#include <chrono>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static const NetworkRuntime network;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> pieces {"HTTP/1.0 200 OK\r\n\r\n"};
    std::string body;
    for (std::size_t at = 0; at < size; at += pieces.back().size() + 1) {
        pieces.emplace_back(data + at + 1, data + at + 1 + std::min<std::size_t>(data[at], size - at - 1));
        body += pieces.back();
    }
    testing_support::LoopbackServer server({{pieces}});
    const FetchResult result
        = FetchPage(server.url("/dxs/dx25.html?"), {.stallTimeout = std::chrono::seconds(5)});
    std::string expected = body;
    std::erase(expected, '\r');
    std::erase(expected, '\0');
    FUZZ_CHECK(result.body == expected && result.message.empty() && server.requests().size() == 1,
               "body '" + fuzzing::Escaped(body) + "'\nshown '" + result.message + "'\nreturned '"
                   + fuzzing::Escaped(result.body.value_or(result.error)) + "'");
    return 0;
}
