// Spot pages and feeds from the outside, through the real relay core to an output that records
// what it is handed. After every page the relay must agree with a plain model of the page
// processing: a spot log of 99 entries at most in which no entry stands twice while remembered,
// the log text shown (oldest first, "\r\n" after each entry) and, at the output, exactly the
// page's new cluster lines that the continent filter lets through, in order.
//
// Input: byte 0 = DxccFilter, then pages separated by form feeds. Only the first 3000 bytes count.

#include "country/country.h"
#include "fuzz_common.h"
#include "relay/spot_feeds.h"
#include "relay/spot_relay.h"
#include "spot/text.h"
#include "support/fake_front_end.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <set>
#include <sstream>

namespace {

using namespace testing_support;
const std::string kInvalidPage = "Received unvalid page\r\n";

FakeFrontEnd g_window;
FakePageSource g_source;
RecordingOutput g_output;
RelaySettings g_settings;
SpotRelay g_relay {g_window, g_settings, g_source, {&g_output}};

// The lines of the last page or feed, which count as seen as the log's entries do.
std::set<std::string> g_lastPage;

// The model: appends the page's entries to `log` (oldest first; the last 99 are remembered) and
// returns what the page puts on the serial line.
std::string Expected(const std::string& page, std::vector<std::string>& log)
{
    std::string sent;
    std::set<std::string> thisPage;
    const auto relay = [&](const std::string& field, const std::string& frequency, const std::string& dxCall,
                           const std::string& comment, const std::string& time) {
        const std::string cluster = "DX de " + field
            + std::string(9 - std::min<std::size_t>(field.size(), 9), ' ') + frequency + " " + dxCall + " "
            + comment + " " + time + "Z";
        if (std::find(log.end() - 99, log.end(), cluster) == log.end() && !g_lastPage.contains(cluster)
            && thisPage.insert(cluster).second) {
            log.push_back(cluster);
            sent += (ContinentOfCall(field.c_str()) & g_settings.DxccFilter) == 0 ? cluster + "\n" : "";
        }
    };
    const std::size_t open = page.find("<PRE>"), close = page.find("</PRE>");
    if (open == std::string::npos || close == std::string::npos) {
        if (const auto feed = ParseSpotFeed(page)) {
            for (const Spot& spot : *feed) {
                relay(spot.spotter + ":", spot.frequency, spot.dxCall, spot.comment, spot.time);
            }
            g_lastPage = std::move(thisPage);
        } else if (log.back() != kInvalidPage) { // one entry for a run of invalid pages
            log.push_back(kInvalidPage);
        }
        return sent;
    }
    for (std::size_t at = open + 5, lf; at <= close && (lf = page.find('\n', at)) < close; at = lf + 1) {
        const std::string line = page.substr(at, lf - at);
        const auto cut = [&](std::size_t i, int n) { return line.substr(std::min(i, line.size()), n); };
        if (line.find(' ') != std::string::npos) {
            // The spotter is cut to 20 characters; a character is a well-formed UTF-8 sequence or a byte.
            const std::string spotter(FirstCharacters(line.substr(0, line.find(' ')), 20));
            relay(spotter + ":", cut(8, 10), cut(18, 12), cut(30, 30), cut(60, 4));
        }
    }
    g_lastPage = std::move(thisPage);
    return sent;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static_cast<void>(fuzzing::ProcessTempDir());
    std::filesystem::copy_file(testDataPath("country/example_cty.dat"), "cty.dat");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Every input starts from the same log of 99 entries that equal no cluster line and no note.
    std::vector<std::string> log;
    for (int i = 0; i < 99; ++i) {
        log.push_back("#" + std::to_string(i));
        g_relay.AddLogLine(log.back());
    }
    g_settings.DxccFilter = size > 0 ? data[0] : 0;
    // An empty page: the previous input's last page counts no more.
    g_relay.ProcessSpotPage("<PRE></PRE>");
    g_lastPage.clear();
    const auto show
        = [](std::string n, const std::string& b) { return "\n" + n + " '" + fuzzing::Escaped(b) + "'"; };
    std::istringstream pages(std::string(data + (size > 0), data + std::min<std::size_t>(size, 3000)));
    for (std::string page; std::getline(pages, page, '\f');) {
        const std::string sent = Expected(page, log);
        g_output.lines.clear();
        g_relay.ProcessSpotPage(page);
        const std::string text = std::accumulate(log.end() - 99, log.end(), std::string(),
                                                 [](auto t, auto& e) { return t + e + "\r\n"; });
        const std::string line = std::accumulate(g_output.lines.begin(), g_output.lines.end(), std::string(),
                                                 [](auto t, auto& e) { return t + e + "\n"; });
        FUZZ_CHECK(g_relay.HistoryCount() == 99 && g_relay.LogText() == text && line == sent,
                   show("page", page) + show("log", g_relay.LogText()) + show("expected", text)
                       + show("output", line) + show("expected", sent));
    }
    return 0;
}
