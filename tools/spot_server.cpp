// A spot page server on 127.0.0.1 for trying Quarnel without the internet: it serves either a
// fixed file or made-up but realistic DX spots, a list that grows while it runs.
//
//   spot_server [--port N] (--page FILE | --demo [--format pre|json|csv|telnet] [--interval S]
//               [--initial N]) [--lifetime S]
//
// The demo starts with --initial spots (default 5) and gains one every --interval seconds
// (default 3), newest first, at most 25. --format chooses how they are served: a "<PRE>" spot
// page (pre, the default), a JSON array in the shape of DX Summit's spot API (json) or
// caret-separated lines in the shape of HamQTH's CSV spots (csv). Only the shapes are imitated:
// the spots are made up and the services' other fields are left out or empty. With telnet it is
// a DX-cluster node instead of a web server: each connection gets "login: ", and after a call the
// greeting, a WWV line and every spot as a "DX de" line, the new ones as they come.
//
// The first line on stdout is "port N", the port actually bound (useful with --port 0).
// The server ends by itself after --lifetime seconds, and at once on SIGINT or SIGTERM.

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <atomic>
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
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <httplib.h>

namespace {

constexpr const char* kUsage
    = "usage: spot_server [--port N] (--page FILE | --demo [--format pre|json|csv|telnet]\n"
      "                   [--interval S] [--initial N]) [--lifetime S]\n"
      "  --format  how the made-up spots are served: pre, a <PRE> spot page (default); json, the\n"
      "            shape of DX Summit's JSON spots; csv, the shape of HamQTH's caret-separated\n"
      "            spots; telnet, a DX-cluster node's DX de lines. The shapes are imitated; the\n"
      "            spots are not real.\n";
constexpr std::size_t kMaxSpots = 25;

enum class Format
{
    Pre,
    Json,
    Csv,
    Telnet,
};

struct Options
{
    int port = 0;
    std::string page;
    bool demo = false;
    std::optional<Format> format;
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
        } else if (arg == "--format") {
            if (value == "pre") {
                options.format = Format::Pre;
            } else if (value == "json") {
                options.format = Format::Json;
            } else if (value == "csv") {
                options.format = Format::Csv;
            } else if (value == "telnet") {
                options.format = Format::Telnet;
            } else {
                return std::nullopt;
            }
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
    // A format is the demo's: a page file is served as it is.
    if (options.demo == !options.page.empty() || (options.format && !options.demo)) {
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

struct DemoSpot
{
    std::string spotter;
    std::string frequency; ///< kHz with one decimal, "14025.3"
    std::string band; ///< "20M"
    std::string dxCall;
    std::string comment;
    std::time_t when;
    long id;
};

std::string timeText(std::time_t when, const char* format)
{
    std::tm utc {};
    gmtime_r(&when, &utc);
    char text[32];
    if (std::strftime(text, sizeof text, format, &utc) == 0) {
        return {};
    }
    return text;
}

// One line in the columns of a spot page: spotter from 0, frequency right-aligned in 8-17,
// DX call from 19, comment in 30-59, time HHMM in 60-63 followed by "Z".
std::string preLine(const DemoSpot& spot)
{
    char line[80];
    std::snprintf(line, sizeof line, "%-8.8s%10.10s %-11.11s%-30.30s%.4sZ", spot.spotter.c_str(),
                  spot.frequency.c_str(), spot.dxCall.c_str(), spot.comment.c_str(),
                  timeText(spot.when, "%H%M").c_str());
    return line;
}

// DX Summit's shape: the frequency in kHz, the time in UTC without a zone. Calls and comments
// are made of letters, digits, blanks and "-.?" only, so nothing needs escaping.
std::string jsonRecord(const DemoSpot& spot)
{
    return "{\"de_call\":\"" + spot.spotter + "\",\"dx_call\":\"" + spot.dxCall
        + "\",\"frequency\":" + spot.frequency + ",\"info\":\"" + spot.comment + "\",\"time\":\""
        + timeText(spot.when, "%Y-%m-%dT%H:%M:%S") + "\",\"id\":" + std::to_string(spot.id) + "}";
}

// HamQTH's shape: Spotter^Freq(kHz)^DXCall^Comment^HHMM YYYY-MM-DD^LoTW^eQSL^Continent^Band^
// Country^DXCC, what the demo does not know left empty.
std::string caretLine(const DemoSpot& spot)
{
    return spot.spotter + "^" + spot.frequency + "^" + spot.dxCall + "^" + spot.comment + "^"
        + timeText(spot.when, "%H%M %Y-%m-%d") + "^^^^" + spot.band + "^^";
}

// A cluster node's announcement: the frequency ending at column 23, the DX call from 26, the
// comment from 39, the time at 70.
std::string dxLine(const DemoSpot& spot)
{
    char line[96];
    std::snprintf(line, sizeof line, "DX de %-8s%10s  %-12s %-30.30s %sZ\r\n", (spot.spotter + ":").c_str(),
                  spot.frequency.c_str(), spot.dxCall.c_str(), spot.comment.c_str(),
                  timeText(spot.when, "%H%M").c_str());
    return line;
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

    DemoSpot spot(std::time_t when, long id)
    {
        const Band& band = kBands[static_cast<std::size_t>(number(0, kBands.size() - 1))];
        char frequency[16];
        std::snprintf(frequency, sizeof frequency, "%d.%d", number(band.lowKhz, band.highKhz - 1),
                      number(0, 9));
        // A braced list is evaluated in order: the spotter's call is made before the DX call.
        return {call(), frequency, band.name, call(), pick(kComments), when, id};
    }

private:
    struct Band
    {
        int lowKhz;
        int highKhz;
        const char* name;
    };

    static constexpr std::array<const char*, 40> kPrefixes = {
        "DL", "G",   "F",  "I",   "EA", "OH",  "SP",  "OK",  "PA", "ON", "HA", "S5", "9A",  "LY",
        "K",  "W",   "N",  "VE",  "XE", "KP4", "PY",  "LU",  "CE", "HK", "OA", "ZS", "EA8", "CN8",
        "SU", "5Z4", "JA", "UA9", "BV", "HL",  "VU2", "9M2", "4X", "VK", "ZL", "YB",
    };
    static constexpr std::array<Band, 9> kBands = {{
        {1810, 1850, "160M"},
        {3500, 3800, "80M"},
        {7000, 7200, "40M"},
        {10100, 10150, "30M"},
        {14000, 14350, "20M"},
        {18068, 18168, "17M"},
        {21000, 21450, "15M"},
        {24890, 24990, "12M"},
        {28000, 29000, "10M"},
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

    std::mt19937 m_random;
};

// The demo's spots: they appear one per interval, newest first, at most kMaxSpots. They are made
// when a request comes in, for every interval that has passed since the last one, so no thread
// of its own is needed.
class DemoPage
{
public:
    DemoPage(Format format, long interval, long initial)
        : m_format(format)
        , m_interval(interval)
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
        catchUp();
        std::ostringstream page;
        if (m_format == Format::Json) {
            page << '[';
            for (const auto& spot : m_spots) {
                page << (&spot == &m_spots.front() ? "" : ",") << jsonRecord(spot);
            }
            page << "]\n";
        } else if (m_format == Format::Csv) {
            for (const auto& spot : m_spots) {
                page << caretLine(spot) << '\n';
            }
        } else {
            page << "<HTML><HEAD><TITLE>DX spots</TITLE></HEAD><BODY>\n"
                 << "<H1>Latest DX spots</H1>\n<PRE>\n";
            for (const auto& spot : m_spots) {
                page << preLine(spot) << '\n';
            }
            page << "</PRE>\n</BODY></HTML>\n";
        }
        return page.str();
    }

    /// The spots newer than `id`, oldest first, as a node announces them; `id` becomes the newest.
    std::string linesAfter(long& id)
    {
        const std::lock_guard lock(m_mutex);
        catchUp();
        std::string lines;
        for (auto spot = m_spots.rbegin(); spot != m_spots.rend(); ++spot) {
            if (spot->id > id) {
                lines += dxLine(*spot);
                id = spot->id;
            }
        }
        return lines;
    }

    const char* contentType() const
    {
        return m_format == Format::Json ? "application/json"
            : m_format == Format::Csv   ? "text/plain"
                                        : "text/html";
    }

private:
    // Spots are made when asked for, for every interval that has passed: no thread of their own.
    void catchUp()
    {
        const auto elapsed = std::chrono::steady_clock::now() - m_start;
        const long due = static_cast<long>(elapsed / std::chrono::seconds(m_interval));
        // Spots older than the page can hold need not be made at all.
        m_made = std::max(m_made, due - static_cast<long>(kMaxSpots));
        while (m_made < due) {
            ++m_made;
            add(m_startWall + m_made * m_interval);
        }
    }

    void add(std::time_t when)
    {
        m_spots.push_front(m_maker.spot(when, ++m_lastId));
        if (m_spots.size() > kMaxSpots) {
            m_spots.pop_back();
        }
    }

    std::mutex m_mutex;
    SpotMaker m_maker;
    std::deque<DemoSpot> m_spots;
    Format m_format;
    long m_interval;
    std::time_t m_startWall;
    std::chrono::steady_clock::time_point m_start;
    long m_made = 0; ///< spots made since the start, the initial ones not counted
    long m_lastId = 0; ///< increases with every spot, as the services' ids do
};

// The demo as a DX-cluster node: a thread per connection, which ends with the connection or when
// `stop` is set. The call is asked for with the usual prompt; the spots follow as they come.
void serveNode(int client, DemoPage& demo, const std::atomic<bool>& stop)
{
    const auto send = [client](const std::string& text) {
        return ::send(client, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
    };
    std::string call;
    char byte = 0;
    pollfd wait {client, POLLIN, 0};
    bool open = send("Welcome to the Quarnel demo node\r\nlogin: ");
    while (open && !stop && call.find('\n') == std::string::npos) {
        open = poll(&wait, 1, 200) >= 0 && ((wait.revents & POLLIN) == 0 || recv(client, &byte, 1, 0) == 1);
        call += (wait.revents & POLLIN) != 0 ? std::string(1, byte) : std::string();
    }
    call = call.substr(0, call.find_first_of("\r\n"));
    open = open
        && send("Hello " + call + ", this is DEMO-1\r\n" + call + " de DEMO-1 "
                + timeText(std::time(nullptr), "%d-%b-%Y %H%MZ")
                + " dxspider >\r\nWWV de W0MU <18>:   SFI=150, A=5, K=1, No Storms -> No Storms\r\n");
    for (long last = 0; open && !stop; std::this_thread::sleep_for(std::chrono::milliseconds(200))) {
        const std::string lines = demo.linesAfter(last);
        open = lines.empty() || send(lines);
    }
    close(client);
}

// Accepts connections on `listener` until `stop` is set; each is served by serveNode.
void acceptNodeClients(int listener, DemoPage& demo, const std::atomic<bool>& stop)
{
    std::vector<std::thread> clients;
    pollfd wait {listener, POLLIN, 0};
    while (!stop) {
        if (poll(&wait, 1, 200) > 0 && (wait.revents & POLLIN) != 0) {
            if (const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC); client >= 0) {
                clients.emplace_back(serveNode, client, std::ref(demo), std::cref(stop));
            }
        }
    }
    for (std::thread& client : clients) {
        client.join();
    }
}

// A listening socket on 127.0.0.1:`port` (0: any free one); -1 when it cannot be made.
int listenOn(int& port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 8) != 0
        || getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

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
        demo.emplace(options->format.value_or(Format::Pre), options->interval, options->initial);
    }

    if (demo && options->format == Format::Telnet) {
        int port = options->port;
        const int listener = listenOn(port);
        if (listener < 0) {
            std::cerr << "spot_server: cannot listen on 127.0.0.1:" << options->port << '\n';
            return 1;
        }
        std::cout << "port " << port << std::endl;
        std::atomic<bool> stop {false};
        std::thread node([&] { acceptNodeClients(listener, *demo, stop); });
        waitForEnd(signals, options->lifetime);
        stop = true;
        node.join();
        close(listener);
        return 0;
    }

    httplib::Server server;
    // httplib would also set SO_REUSEPORT, which lets a second server share a port in use.
    server.set_socket_options([](socket_t sock) {
        const int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server.Get(".*", [&](const httplib::Request&, httplib::Response& response) {
        if (demo) {
            response.set_content(demo->body(), demo->contentType());
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
