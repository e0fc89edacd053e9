// A spot page server on 127.0.0.1 for trying Quarnel without the internet: it serves either a
// fixed file or a page of made-up but realistic DX spots that grows while it runs.
//
//   spot_server [--port N] (--page FILE | --demo [--interval S] [--initial N]) [--lifetime S]
//
// The demo page starts with --initial spots (default 5) and gains one every --interval seconds
// (default 3).
//
// The first line on stdout is "port N", the port actually bound (useful with --port 0).
// The server ends by itself after --lifetime seconds, and at once on SIGINT or SIGTERM.

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>

#include <httplib.h>

namespace {

constexpr const char* kUsage
    = "usage: spot_server [--port N] (--page FILE | --demo [--interval S] [--initial N]) "
      "[--lifetime S]\n";
constexpr std::size_t kMaxSpots = 25;

struct Options
{
    int port = 0;
    std::string page;
    bool demo = false;
    long interval = 3;
    long initial = 5;
    long lifetime = 3600;
};

std::optional<long> parseNumber(std::string_view text, long low, long high)
{
    long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

std::optional<Options> parseOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--demo") {
            options.demo = true;
            continue;
        }
        if (i + 1 >= argc) {
            return std::nullopt;
        }
        const std::string_view value = argv[++i];
        std::optional<long> number;
        if (arg == "--page") {
            options.page = value;
            continue;
        } else if (arg == "--port") {
            number = parseNumber(value, 0, 65535);
            options.port = static_cast<int>(number.value_or(0));
        } else if (arg == "--interval") {
            number = parseNumber(value, 1, 86400);
            options.interval = number.value_or(0);
        } else if (arg == "--initial") {
            number = parseNumber(value, 0, 1000);
            options.initial = number.value_or(0);
        } else if (arg == "--lifetime") {
            number = parseNumber(value, 1, 7 * 86400);
            options.lifetime = number.value_or(0);
        }
        if (!number) {
            return std::nullopt;
        }
    }
    if (options.demo == !options.page.empty()) {
        return std::nullopt;
    }
    return options;
}

// Only a regular file: a directory makes the stream throw, and a FIFO or a device such as
// /dev/zero would block or never end.
std::optional<std::string> readFile(const std::string& path)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        return std::nullopt;
    }
    try {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            return std::nullopt;
        }
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (in.bad()) {
            return std::nullopt;
        }
        return bytes;
    } catch (const std::ios_base::failure&) {
        return std::nullopt;
    }
}

// Made-up spots: common prefixes of every continent with invented suffixes, frequencies in the
// CW and phone parts of the HF bands, and the short comments real spotters write.
class SpotMaker
{
public:
    SpotMaker()
        : m_random(std::random_device {}())
    {
    }

    // One line in the columns of a spot page: spotter from 0, frequency right-aligned in 8-17,
    // DX call from 19, comment in 30-59, time HHMM in 60-63 followed by "Z".
    std::string line(std::time_t when)
    {
        std::tm utc {};
        gmtime_r(&when, &utc);
        char time[8];
        std::snprintf(time, sizeof time, "%02d%02d", utc.tm_hour % 24, utc.tm_min % 60);
        char line[80];
        std::snprintf(line, sizeof line, "%-8.8s%10.10s %-11.11s%-30.30s%.4sZ", call().c_str(),
                      frequency().c_str(), call().c_str(), pick(kComments), time);
        return line;
    }

private:
    struct Band
    {
        int lowKhz;
        int highKhz;
    };

    static constexpr std::array<const char*, 40> kPrefixes = {
        "DL", "G",   "F",  "I",   "EA", "OH",  "SP",  "OK",  "PA", "ON", "HA", "S5", "9A",  "LY",
        "K",  "W",   "N",  "VE",  "XE", "KP4", "PY",  "LU",  "CE", "HK", "OA", "ZS", "EA8", "CN8",
        "SU", "5Z4", "JA", "UA9", "BV", "HL",  "VU2", "9M2", "4X", "VK", "ZL", "YB",
    };
    static constexpr std::array<Band, 9> kBands = {{
        {1810, 1850},
        {3500, 3800},
        {7000, 7200},
        {10100, 10150},
        {14000, 14350},
        {18068, 18168},
        {21000, 21450},
        {24890, 24990},
        {28000, 29000},
    }};
    static constexpr std::array<const char*, 14> kComments = {
        "CQ",         "599 TNX",   "UP 2",      "CQ UP 2",        "5NN TU",       "TNX QSO",    "QSX 5-10 UP",
        "CQ CONTEST", "CW 25 WPM", "FT8 -12dB", "SSB 59 TNX QSO", "RTTY 599 TNX", "LOUD IN EU", "QRZ?",
    };

    template <typename List> const char* pick(const List& list)
    {
        return list[std::uniform_int_distribution<std::size_t>(0, list.size() - 1)(m_random)];
    }

    int number(int low, int high) { return std::uniform_int_distribution<int>(low, high)(m_random); }

    std::string call()
    {
        std::string text = pick(kPrefixes);
        const char last = text.back();
        if (last < '0' || last > '9') {
            text += static_cast<char>('0' + number(0, 9));
        }
        const int letters = number(1, 3);
        for (int i = 0; i < letters; ++i) {
            text += static_cast<char>('A' + number(0, 25));
        }
        return text;
    }

    std::string frequency()
    {
        const Band& band = kBands[static_cast<std::size_t>(number(0, kBands.size() - 1))];
        char text[16];
        std::snprintf(text, sizeof text, "%d.%d", number(band.lowKhz, band.highKhz - 1), number(0, 9));
        return text;
    }

    std::mt19937 m_random;
};

// The demo page: spots appear one per interval, newest first, at most kMaxSpots. They are made
// when a request comes in, for every interval that has passed since the last one, so no thread
// of its own is needed.
class DemoPage
{
public:
    DemoPage(long interval, long initial)
        : m_interval(interval)
        , m_startWall(std::time(nullptr))
        , m_start(std::chrono::steady_clock::now())
    {
        for (long i = 0; i < initial; ++i) {
            add(m_startWall);
        }
    }

    std::string body()
    {
        const std::lock_guard lock(m_mutex);
        const auto elapsed = std::chrono::steady_clock::now() - m_start;
        const long due = static_cast<long>(elapsed / std::chrono::seconds(m_interval));
        // Spots older than the page can hold need not be made at all.
        m_made = std::max(m_made, due - static_cast<long>(kMaxSpots));
        while (m_made < due) {
            ++m_made;
            add(m_startWall + m_made * m_interval);
        }
        std::ostringstream page;
        page << "<HTML><HEAD><TITLE>DX spots</TITLE></HEAD><BODY>\n"
             << "<H1>Latest DX spots</H1>\n<PRE>\n";
        for (const auto& spot : m_spots) {
            page << spot << '\n';
        }
        page << "</PRE>\n</BODY></HTML>\n";
        return page.str();
    }

private:
    void add(std::time_t when)
    {
        m_spots.push_front(m_maker.line(when));
        if (m_spots.size() > kMaxSpots) {
            m_spots.pop_back();
        }
    }

    std::mutex m_mutex;
    SpotMaker m_maker;
    std::deque<std::string> m_spots;
    long m_interval;
    std::time_t m_startWall;
    std::chrono::steady_clock::time_point m_start;
    long m_made = 0; ///< spots made since the start, the initial ones not counted
};

// Waits until SIGINT or SIGTERM arrives or `seconds` have passed. The signals are blocked in
// every thread (the mask is set before any thread starts), so only this wait receives them.
void waitForEnd(const sigset_t& signals, long seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) {
            return;
        }
        const auto secs = std::chrono::duration_cast<std::chrono::seconds>(left);
        const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(left - secs);
        const timespec timeout {static_cast<std::time_t>(secs.count()), static_cast<long>(nanos.count())};
        if (sigtimedwait(&signals, nullptr, &timeout) >= 0) {
            return;
        }
        // EAGAIN is the timeout and EINTR another signal: the loop checks the deadline again.
        if (errno != EAGAIN && errno != EINTR) {
            return;
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    const std::optional<Options> options = parseOptions(argc, argv);
    if (!options) {
        std::cerr << kUsage;
        return 2;
    }
    if (!options->demo && !readFile(options->page)) {
        std::cerr << "spot_server: cannot read " << options->page << '\n';
        return 1;
    }

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::optional<DemoPage> demo;
    if (options->demo) {
        demo.emplace(options->interval, options->initial);
    }

    httplib::Server server;
    // httplib would also set SO_REUSEPORT, which lets a second server share a port in use.
    server.set_socket_options([](socket_t sock) {
        const int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server.Get(".*", [&](const httplib::Request&, httplib::Response& response) {
        if (demo) {
            response.set_content(demo->body(), "text/html");
        } else if (auto bytes = readFile(options->page)) {
            response.set_content(std::move(*bytes), "text/html");
        } else {
            response.status = 404;
            response.set_content("cannot read the page file\n", "text/plain");
        }
    });

    int port = options->port;
    if (port == 0) {
        port = server.bind_to_any_port("127.0.0.1");
    } else if (!server.bind_to_port("127.0.0.1", port)) {
        port = -1;
    }
    if (port < 0) {
        std::cerr << "spot_server: cannot listen on 127.0.0.1:" << options->port << '\n';
        return 1;
    }
    std::cout << "port " << port << std::endl;

    std::thread listener([&server] { server.listen_after_bind(); });
    waitForEnd(signals, options->lifetime);
    server.stop();
    listener.join();
    return 0;
}
