// Spot pages from the outside, processed by the real relay core writing to a real serial line
// (a pty) and a recording window. After every page: the log holds at most 99 entries, the log
// text is the history oldest first, no entry is logged twice while it is remembered, and what
// arrives on the serial side is exactly cluster lines of this page's new entries, in order, each
// followed by "\r\n" (all of them when the continent filter holds nothing back).
//
// Input layout: byte 0 = DxccFilter, then pages separated by form feeds (0x0C).

#include "country/country.h"
#include "fuzz_common.h"
#include "relay/spot_relay.h"
#include "support/fake_window.h"
#include "support/pty_pair.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <poll.h>
#include <string>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kPortNumber = 42;
constexpr int kHistoryLimit = 99;
constexpr std::size_t kMaxPagesPerInput = 16;
constexpr char kPageSeparator = '\f';
const std::string kInvalidPage = "Received unvalid page\r\n";

// Spotters of several continents and one override, so the filter both passes and holds back.
constexpr std::string_view kCountryFile
    = "Northland:                  14:  27:  EU:   52.00:   -10.00:    -1.0:   XA:\n"
      "    XA,XA5,XA7{AS},XA9(15)[31],\n"
      "    XA8<12/34>{OC};\n"
      "Southland:                  13:  12:  SA:  -20.00:    45.00:     3.0:   XB:\n"
      "    XB,XB0,XB1TEST;\n"
      "Fed. Rep. of Germany:       14:  28:  EU:   51.00:   -10.00:    -1.0:   DL:\n"
      "    DA,DB,DC,DD,DF,DG,DH,DJ,DK,DL,DM,DN,DO,DP,DQ,DR;\n"
      "United States:              05:  08:  NA:   37.53:    91.67:     5.0:    K:\n"
      "    AA,K,N,W,=N1CALL;\n"
      "Japan:                      25:  45:  AS:   36.40:  -138.38:    -9.0:   JA:\n"
      "    JA,JE,JF,JG,JH,JI,JJ,JK,JL,JM,JN,JO,JP,JQ,JR,JS,7J;\n";

// The window records every entry that the relay adds: ShowLog runs once per insertion.
class RecordingWindow : public testing_support::FakeWindow
{
public:
    void ShowLog(const std::string& text, int start, int end) override
    {
        FakeWindow::ShowLog(text, start, end);
        const int count = relay->HistoryCount();
        FUZZ_CHECK(count >= 1 && count <= kHistoryLimit, "count " + std::to_string(count));
        FUZZ_CHECK(text == relay->LogText(), "the window shows another text than the log text");
        const auto length = static_cast<int>(text.size());
        FUZZ_CHECK(start == length - 2 && end == length - 1,
                   "selection " + std::to_string(start) + ".." + std::to_string(end) + " of a text of "
                       + std::to_string(length));
        const std::string newest = relay->HistoryAt(0);
        if (newest != kInvalidPage) {
            for (int i = 1; i < count; ++i) {
                FUZZ_CHECK(relay->HistoryAt(i) != newest,
                           "logged twice while remembered: '" + fuzzing::Escaped(newest) + "'");
            }
        }
        added.push_back(newest);
    }

    SpotRelay* relay = nullptr;
    std::vector<std::string> added;
};

// Drains the master side all the time, so a page with many new spots never fills the pty.
class SerialReader
{
public:
    explicit SerialReader(int master)
        : m_master(master)
    {
        std::thread([this] { Run(); }).detach();
    }

    // Everything the program wrote before this call. A marker written to the slave after the
    // program's bytes arrives after them; the program's own line feeds always follow a CR.
    std::string TakeUntilSynced(int slave)
    {
        const char marker[] = "#\n";
        // libFuzzer's watchdog alarm may interrupt the write while the pty is full.
        for (std::size_t done = 0; done < 2;) {
            const ssize_t written = write(slave, marker + done, 2 - done);
            if (written > 0) {
                done += static_cast<std::size_t>(written);
            } else if (written < 0 && errno != EINTR) {
                fuzzing::Fail(std::string("cannot write the sync marker: ") + std::strerror(errno));
            }
        }
        std::unique_lock lock(m_mutex);
        std::size_t at = std::string::npos;
        const bool arrived = m_changed.wait_for(lock, std::chrono::seconds(20), [&] {
            at = m_buffer.find(marker);
            return at != std::string::npos || m_buffer.find("#\r\n") != std::string::npos;
        });
        if (at == std::string::npos && arrived) {
            fuzzing::Fail("the serial line turns LF into CR LF: output post-processing is still on");
        }
        if (!arrived) {
            fuzzing::Fail("the serial side went quiet; received so far: '" + fuzzing::Escaped(m_buffer)
                          + "'");
        }
        std::string before = m_buffer.substr(0, at);
        m_buffer.erase(0, at + 2);
        return before;
    }

private:
    void Run()
    {
        for (;;) {
            pollfd pfd {m_master, POLLIN, 0};
            if (poll(&pfd, 1, 1000) <= 0) {
                continue;
            }
            char chunk[8192];
            const ssize_t n = read(m_master, chunk, sizeof chunk);
            if (n > 0) {
                std::lock_guard lock(m_mutex);
                m_buffer.append(chunk, static_cast<std::size_t>(n));
                m_changed.notify_all();
            }
        }
    }

    int m_master;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_buffer;
};

struct Rig
{
    testing_support::PtyPair pty;
    RelaySettings settings;
    RecordingWindow window;
    testing_support::FakePageSource source;
    SpotRelay relay {window, source, settings};
    SerialReader reader {pty.master()};
};

Rig* g_rig = nullptr;

std::string Lines(const std::vector<std::string>& lines)
{
    std::string out;
    for (const auto& line : lines) {
        out += "  '" + fuzzing::Escaped(line) + "'\n";
    }
    return out;
}

std::vector<std::string> History(const SpotRelay& relay)
{
    std::vector<std::string> entries;
    for (int i = 0; i < relay.HistoryCount(); ++i) {
        entries.push_back(relay.HistoryAt(i));
    }
    return entries;
}

// What arrived on the serial side, cut into lines at "\r\n"; nothing may be left over.
std::vector<std::string> SentLines(const std::string& received)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < received.size()) {
        const std::size_t end = received.find("\r\n", start);
        FUZZ_CHECK(end != std::string::npos,
                   "serial bytes without a line end: '" + fuzzing::Escaped(received) + "'");
        lines.push_back(received.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

bool IsClusterLine(const std::string& line)
{
    return line.size() >= 19 && line.compare(0, 6, "DX de ") == 0 && line.back() == 'Z'
        && line.find('\n') == std::string::npos;
}

// The spotter field ("%s:") that a cluster line was built from, read back from its first word:
// a spotter of 9 or more characters also shows its characters from position 8 on in the
// frequency, so the word is the field followed by those. Empty when that reading is ambiguous.
std::optional<std::string> SpotterField(const std::string& cluster)
{
    constexpr std::size_t kPrefix = 6; // "DX de "
    const std::size_t space = cluster.find(' ', kPrefix);
    const std::string word
        = cluster.substr(kPrefix, space == std::string::npos ? std::string::npos : space - kPrefix);
    if (word.size() > 64) {
        return std::nullopt;
    }
    std::optional<std::string> found;
    for (std::size_t length = 0; length < word.size(); ++length) {
        const std::string spotter = word.substr(0, length);
        const std::string field = spotter + ":";
        const std::string shown
            = length <= 8 ? field : field + spotter.substr(8, std::min<std::size_t>(length, 18) - 8);
        if (shown == word) {
            if (found) {
                return std::nullopt;
            }
            found = field;
        }
    }
    return found;
}

// The new spots that the filter lets through, when every spotter can be read back.
std::optional<std::vector<std::string>> ExpectedSent(const std::vector<std::string>& spots, int filter)
{
    std::vector<std::string> expected;
    for (const auto& spot : spots) {
        const std::optional<std::string> field = SpotterField(spot);
        if (!field) {
            return std::nullopt;
        }
        if ((ContinentOfCall(field->c_str()) & filter) == 0) {
            expected.push_back(spot);
        }
    }
    return expected;
}

// What one input's pages should put on the serial line, gathered page by page and compared once
// at the end: one round trip through the pty per input instead of one per page.
struct SerialExpectation
{
    std::vector<std::string> spots; ///< every new spot of the input, in order
    std::optional<std::vector<std::string>> allowed; ///< the spots the filter lets through, when known
    std::string context;
};

void CheckPage(const std::string& page, SerialExpectation& serial)
{
    SpotRelay& relay = g_rig->relay;
    const std::vector<std::string>& added = g_rig->window.added;
    const std::string context = "page '" + fuzzing::Escaped(page) + "'\nadded:\n" + Lines(added);
    serial.context += context;

    FUZZ_CHECK(relay.HistoryCount() <= kHistoryLimit, context);
    const std::vector<std::string> history = History(relay);
    std::string expectedLog;
    for (auto it = history.rbegin(); it != history.rend(); ++it) {
        expectedLog += *it + "\r\n";
    }
    FUZZ_CHECK(relay.LogText() == expectedLog, "log text is not the history oldest first; " + context);

    const std::size_t open = page.find("<PRE>");
    const std::size_t close = page.find("</PRE>");
    if (open == std::string::npos || close == std::string::npos) {
        FUZZ_CHECK(added.size() == 1 && added[0] == kInvalidPage, "a page without its block; " + context);
    } else if (close <= open + 5 || page.substr(open + 5, close - open - 5).find('\n') == std::string::npos) {
        FUZZ_CHECK(added.empty(), "a block without a whole line logged something; " + context);
    }

    std::vector<std::string> spots;
    for (const auto& entry : added) {
        if (entry != kInvalidPage) {
            FUZZ_CHECK(IsClusterLine(entry),
                       "not a cluster line: '" + fuzzing::Escaped(entry) + "'; " + context);
            spots.push_back(entry);
        }
    }
    serial.spots.insert(serial.spots.end(), spots.begin(), spots.end());
    if (serial.allowed) {
        const std::optional<std::vector<std::string>> allowed
            = ExpectedSent(spots, g_rig->settings.DxccFilter);
        if (allowed) {
            serial.allowed->insert(serial.allowed->end(), allowed->begin(), allowed->end());
        } else {
            serial.allowed.reset();
        }
    }
}

void CheckSerial(const SerialExpectation& serial, const std::string& received)
{
    const std::vector<std::string> sent = SentLines(received);
    const std::string context = serial.context + "sent:\n" + Lines(sent);
    if (serial.allowed) {
        FUZZ_CHECK(sent == *serial.allowed,
                   "the serial line got other lines than the new spots let through; " + context);
        return;
    }
    // Held-back spots are logged but not sent: what goes out is the new spots, in order, minus some.
    std::size_t next = 0;
    for (const auto& line : sent) {
        while (next < serial.spots.size() && serial.spots[next] != line) {
            ++next;
        }
        FUZZ_CHECK(next < serial.spots.size(), "sent a line that is not a new spot; " + context);
        ++next;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const std::string& dir = fuzzing::ProcessTempDir();
    fuzzing::WriteFileHere("cty.dat", kCountryFile);
    setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);

    g_rig = new Rig;
    g_rig->window.relay = &g_rig->relay;
    g_rig->pty.linkAsComPort(kPortNumber);
    g_rig->settings.Port = "COM" + std::to_string(kPortNumber);
    g_rig->relay.ToggleRun();
    if (!g_rig->relay.IsRunning() || !g_rig->relay.SerialPort().IsOpen()) {
        std::string messages;
        for (const auto& m : g_rig->window.messages) {
            messages += m + "; ";
        }
        fuzzing::Fail("the relay did not start on the pty: " + messages);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    Rig& rig = *g_rig;
    rig.settings.DxccFilter = data[0];

    // Every input starts from the same memory: 99 invalid-page notes equal no cluster line, and
    // none of them goes to the serial line.
    for (int i = 0; i < kHistoryLimit; ++i) {
        rig.relay.ProcessSpotPage("");
    }
    FUZZ_CHECK(rig.relay.HistoryCount() == kHistoryLimit, "99 failed pages must fill the log");

    SerialExpectation serial;
    serial.allowed.emplace();
    const std::string_view pages(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::size_t start = 0;
    for (std::size_t n = 0; n < kMaxPagesPerInput && start <= pages.size(); ++n) {
        std::size_t end = pages.find(kPageSeparator, start);
        if (end == std::string_view::npos) {
            end = pages.size();
        }
        const std::string page(pages.substr(start, end - start));
        rig.window.added.clear();
        rig.relay.ProcessSpotPage(page);
        CheckPage(page, serial);
        start = end + 1;
    }
    CheckSerial(serial, rig.reader.TakeUntilSynced(rig.pty.slave()));
    return 0;
}
