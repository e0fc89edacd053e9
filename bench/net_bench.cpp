#include "net/fetch_page.h"
#include "support/loopback_server.h"

#include <string>

#include <benchmark/benchmark.h>
#include <curl/curl.h>

namespace {

// A spot page of about 100 KB: CRLF lines as the real page sends them.
std::string SpotPage(std::size_t size)
{
    std::string page = "<HTML><BODY><PRE>\r\n";
    const std::string line = "DL1ABC      14025.0  JA1XYZ       CQ CQ up 2                     1234Z\r\n";
    while (page.size() + line.size() < size) {
        page += line;
    }
    return page + "</PRE></BODY></HTML>\r\n";
}

void BM_FetchPage100KB(benchmark::State& state)
{
    const NetworkRuntime network;
    using testing_support::LoopbackServer;
    const LoopbackServer server({LoopbackServer::Http(200, SpotPage(100 * 1024))});
    const std::string url = server.url("/dxs/dx25.html?");

    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string body = FetchPage(url).body.value_or("");
        if (body.empty()) {
            state.SkipWithError("fetch returned nothing");
            break;
        }
        bytes += body.size();
        benchmark::DoNotOptimize(body.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_FetchPage100KB)->Unit(benchmark::kMicrosecond)->Repetitions(10)->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv)
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    curl_global_cleanup();
    return 0;
}
