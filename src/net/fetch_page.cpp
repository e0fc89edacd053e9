#include "net/fetch_page.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string_view>

#include <curl/curl.h>

namespace {

using EasyHandle = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using MultiHandle = std::unique_ptr<CURLM, decltype(&curl_multi_cleanup)>;
using UrlHandle = std::unique_ptr<CURLU, decltype(&curl_url_cleanup)>;
using HeaderList = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;
using CurlText = std::unique_ptr<char, decltype(&curl_free)>;
using Clock = std::chrono::steady_clock;

constexpr char kNoPageMessage[] = "Unable to locate url";

/// The host and the path (with its query and fragment) each fit 2058 characters, the buffers the
/// address is split into.
constexpr std::size_t kMaxUrlPart = 2058;
/// The longest wait a Retry-After can impose; a larger one is taken as this.
constexpr std::chrono::seconds kMaxRetryAfter {3600};

/// The piece buffer; a piece holds at most one character less than its size.
constexpr std::size_t kPieceBufferSize = 1023;
constexpr std::size_t kMaxPieceLength = kPieceBufferSize - 1;

/// The handles of this thread's fetches, made once and reset for every fetch: making them anew
/// at every tick cost more than the transfer. Connections are still never reused.
struct ThreadHandles
{
    EasyHandle easy {nullptr, &curl_easy_cleanup};
    MultiHandle multi {nullptr, &curl_multi_cleanup};
};

ThreadHandles& Handles()
{
    thread_local ThreadHandles handles;
    if (!handles.easy) {
        handles.easy.reset(curl_easy_init());
    }
    if (!handles.multi) {
        handles.multi.reset(curl_multi_init());
    }
    return handles;
}

/// The address of one fetch, split as the request needs it.
struct ParsedUrl
{
    std::string scheme;
    std::string host;
    long port = 0;
    std::string object; ///< path, query and fragment, as sent in the request line
};

bool IsC0OrSpace(unsigned char c)
{
    return c <= 0x20;
}

/// Cleans a typed address the way a browser's address bar does before parsing it: surrounding
/// blanks and controls go, tabs and line breaks inside are dropped, and spaces and the remaining
/// control bytes are percent-encoded instead of being refused.
std::string BrowserCleanUrl(const std::string& url)
{
    std::size_t begin = 0;
    std::size_t end = url.size();
    while (begin < end && IsC0OrSpace(static_cast<unsigned char>(url[begin]))) {
        ++begin;
    }
    while (end > begin && IsC0OrSpace(static_cast<unsigned char>(url[end - 1]))) {
        --end;
    }

    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string clean;
    clean.reserve(end - begin);
    for (std::size_t i = begin; i < end; ++i) {
        const auto c = static_cast<unsigned char>(url[i]);
        if (c == '\t' || c == '\n' || c == '\r') {
            continue;
        }
        if (c <= 0x20 || c == 0x7f) {
            clean += '%';
            clean += kHex[c >> 4];
            clean += kHex[c & 0x0f];
        } else {
            clean += static_cast<char>(c);
        }
    }
    return clean;
}

std::optional<std::string> GetPart(CURLU* url, CURLUPart part, unsigned int flags = 0)
{
    char* text = nullptr;
    if (curl_url_get(url, part, &text, flags) != CURLUE_OK || text == nullptr) {
        return std::nullopt;
    }
    const CurlText owner(text, &curl_free);
    return std::string(text);
}

/// Puts the URL into canonical form and splits it into scheme, host, port and object.
std::optional<ParsedUrl> ParseUrl(const std::string& url)
{
    const UrlHandle handle(curl_url(), &curl_url_cleanup);
    if (!handle) {
        return std::nullopt;
    }
    const std::string clean = BrowserCleanUrl(url);
    // No scheme guessing: a text without one is not an address. Schemes libcurl does not know
    // still parse, since any scheme is fetched as HTTP.
    if (curl_url_set(handle.get(), CURLUPART_URL, clean.c_str(), CURLU_URLENCODE | CURLU_NON_SUPPORT_SCHEME)
        != CURLUE_OK) {
        return std::nullopt;
    }

    ParsedUrl parsed;
    auto scheme = GetPart(handle.get(), CURLUPART_SCHEME);
    auto host = GetPart(handle.get(), CURLUPART_HOST);
    auto path = GetPart(handle.get(), CURLUPART_PATH);
    if (!scheme || !host || host->empty() || !path) {
        return std::nullopt;
    }
    parsed.scheme = *scheme;
    parsed.host = *host;

    // A scheme without a known default port and no port given: the HTTP service's own port, as
    // a connection with "no port" gets.
    parsed.port = 80;
    if (auto port = GetPart(handle.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT)) {
        parsed.port = std::stol(*port);
    }

    // The query goes out as typed; a trailing "?" with nothing after it stays. The fragment is part
    // of the path the address is split into, so it goes out too.
    parsed.object = path->empty() ? "/" : *path;
    if (auto query = GetPart(handle.get(), CURLUPART_QUERY)) {
        parsed.object += '?';
        parsed.object += *query;
    }
    if (auto fragment = GetPart(handle.get(), CURLUPART_FRAGMENT)) {
        parsed.object += '#';
        parsed.object += *fragment;
    }
    if (parsed.host.size() > kMaxUrlPart || parsed.object.size() > kMaxUrlPart) {
        return std::nullopt;
    }
    return parsed;
}

/// Appends the body to the result the way it is read piece by piece: every CR and every NUL is
/// taken but not stored; a piece ends after a line feed or after 1022 bytes taken.
class PieceReader
{
public:
    explicit PieceReader(std::string& result)
        : m_result(result)
    {
    }

    void take(const char* data, std::size_t length)
    {
        for (std::size_t i = 0; i < length; ++i) {
            const char c = data[i];
            ++m_taken;
            if (c != '\r' && c != '\0') {
                m_piece[m_stored++] = c;
            }
            if (c == '\n' || m_taken == kMaxPieceLength) {
                endPiece();
            }
        }
    }

    /// The end of the body: the last piece, if it holds anything.
    void finish() { endPiece(); }

private:
    void endPiece()
    {
        m_result.append(m_piece.data(), m_stored);
        m_stored = 0;
        m_taken = 0;
    }

    std::string& m_result;
    // m_stored <= m_taken <= kMaxPieceLength < kPieceBufferSize, so a store cannot overflow.
    std::array<char, kPieceBufferSize> m_piece {};
    std::size_t m_taken = 0;
    std::size_t m_stored = 0;
};

/// The state of one transfer, shared with libcurl's callbacks.
struct Transfer
{
    explicit Transfer(const FetchLimits& fetchLimits)
        : limits(fetchLimits)
    {
    }

    CURL* curl = nullptr;
    const FetchLimits& limits;
    std::string body;
    PieceReader reader {body};
    std::size_t bodyBytes = 0;
    bool statusNot200 = false;
    std::chrono::seconds retryAfter {0};
    /// Why we ended the transfer ourselves; takes the place of libcurl's text.
    std::string abortReason;
    bool requestStarted = false;
    const Clock::time_point started = Clock::now();
    Clock::time_point lastByte = started;
};

std::string BodyLimitText(const FetchLimits& limits)
{
    return "Maximum file size exceeded: the body is larger than " + std::to_string(limits.maxBodyBytes)
        + " bytes";
}

/// The wait a Retry-After value asks for: delay-seconds or an HTTP date; zero when unreadable.
std::chrono::seconds RetryAfterOf(std::string value)
{
    const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    value.erase(value.begin(), std::find_if_not(value.begin(), value.end(), blank));
    value.erase(std::find_if_not(value.rbegin(), value.rend(), blank).base(), value.end());
    long long seconds = 0;
    if (!value.empty()
        && std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        seconds = value.size() > 6 ? kMaxRetryAfter.count() : std::stoll(value);
    } else if (const std::time_t when = curl_getdate(value.c_str(), nullptr); when > 0) {
        seconds = static_cast<long long>(when) - static_cast<long long>(std::time(nullptr));
    }
    return std::chrono::seconds(std::clamp<long long>(seconds, 0, kMaxRetryAfter.count()));
}

size_t OnHeader(char* data, size_t size, size_t count, void* user)
{
    auto& transfer = *static_cast<Transfer*>(user);
    const size_t length = size * count;
    transfer.lastByte = Clock::now();

    const bool endOfHeaders
        = (length == 2 && data[0] == '\r' && data[1] == '\n') || (length == 1 && data[0] == '\n');
    if (!endOfHeaders) {
        static constexpr std::string_view kRetryAfter = "retry-after:";
        const std::string_view line(data, length);
        if (line.size() > kRetryAfter.size()
            && std::equal(kRetryAfter.begin(), kRetryAfter.end(), line.begin(),
                          [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); })) {
            transfer.retryAfter = RetryAfterOf(std::string(line.substr(kRetryAfter.size())));
        }
        return length;
    }
    long status = 0;
    curl_easy_getinfo(transfer.curl, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 100 && status < 200) {
        return length; // an interim answer: the real status follows
    }
    // The status is known now: anything but 200 is not read at all.
    if (status != 200) {
        transfer.statusNot200 = true;
        return 0;
    }
    curl_off_t announced = -1;
    curl_easy_getinfo(transfer.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    if (announced > 0 && static_cast<std::uint64_t>(announced) > transfer.limits.maxBodyBytes) {
        transfer.abortReason = BodyLimitText(transfer.limits);
        return 0;
    }
    return length;
}

size_t OnBody(char* data, size_t size, size_t count, void* user)
{
    auto& transfer = *static_cast<Transfer*>(user);
    const size_t length = size * count;
    transfer.lastByte = Clock::now();
    if (length > transfer.limits.maxBodyBytes - transfer.bodyBytes) {
        transfer.abortReason = BodyLimitText(transfer.limits);
        return CURL_WRITEFUNC_ERROR;
    }
    transfer.bodyBytes += length;
    transfer.reader.take(data, length);
    return length;
}

int OnRequestReady(void* user, char*, char*, int, int)
{
    // Connected (TLS included): the connect time-out is over, the stall clock starts.
    auto& transfer = *static_cast<Transfer*>(user);
    transfer.requestStarted = true;
    transfer.lastByte = Clock::now();
    return CURL_PREREQFUNC_OK;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto& transfer = *static_cast<Transfer*>(user);
    const auto now = Clock::now();
    // A server that sends a byte now and then would otherwise hold the fetch, and the relay, for good.
    if (const auto total = transfer.limits.totalTimeout;
        total.count() > 0 && now - transfer.started >= total) {
        transfer.abortReason = "Operation timed out: no whole answer within " + std::to_string(total.count())
            + " milliseconds";
        return 1;
    }
    const auto stall = transfer.limits.stallTimeout;
    if (!transfer.requestStarted || stall.count() <= 0) {
        return 0;
    }
    if (now - transfer.lastByte >= stall) {
        transfer.abortReason
            = "Operation timed out: no data received for " + std::to_string(stall.count()) + " milliseconds";
        return 1;
    }
    return 0;
}

/// The first of the environment variables `names` that is set and not empty.
std::string Environment(std::initializer_list<const char*> names)
{
    for (const char* name : names) {
        if (const char* value = std::getenv(name); value != nullptr && value[0] != '\0') {
            return value;
        }
    }
    return {};
}

/// Whether no_proxy exempts `host`: "*", the host itself, or a domain it belongs to.
bool ExemptFromProxy(std::string host)
{
    std::transform(host.begin(), host.end(), host.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    std::string list = Environment({"no_proxy", "NO_PROXY"});
    std::replace(list.begin(), list.end(), ',', ' ');
    std::istringstream entries(list);
    for (std::string entry; entries >> entry;) {
        std::transform(entry.begin(), entry.end(), entry.begin(),
                       [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
        if (entry == "*") {
            return true;
        }
        if (entry.front() == '.') {
            entry.erase(0, 1);
        }
        if (host == entry || (host.size() > entry.size() && host.ends_with("." + entry))) {
            return true;
        }
    }
    return false;
}

/// The proxy libcurl would take from the environment for `scheme` and `host`, "" for none. The
/// upper-case HTTP_PROXY is not read, as libcurl does not: a web server can set it for its CGI
/// programs from a request header.
std::string ProxyFor(const std::string& scheme, const std::string& host)
{
    std::string proxy
        = scheme == "https" ? Environment({"https_proxy", "HTTPS_PROXY"}) : Environment({"http_proxy"});
    if (proxy.empty()) {
        proxy = Environment({"all_proxy", "ALL_PROXY"});
    }
    return proxy.empty() || ExemptFromProxy(host) ? std::string() : proxy;
}

/// Answers that carry no readable status line.
bool IsUnreadableStatus(CURLcode code)
{
    return code == CURLE_WEIRD_SERVER_REPLY || code == CURLE_UNSUPPORTED_PROTOCOL;
}

/// The client's error as the fetch returns it: our own reason, else libcurl's error buffer, else
/// libcurl's text for the code; cut to what the 1023-character buffer holds.
std::string ErrorText(CURLcode code, const char* errorBuffer, const std::string& abortReason)
{
    std::string text = !abortReason.empty() ? abortReason
        : errorBuffer[0] != '\0'            ? std::string(errorBuffer)
                                            : std::string(curl_easy_strerror(code));
    if (text.size() > kMaxPieceLength) {
        text.resize(kMaxPieceLength);
    }
    return text;
}

FetchResult ErrorResult(CURLcode code, const char* errorBuffer, const std::string& abortReason)
{
    return {.error = ErrorText(code, errorBuffer, abortReason)};
}

/// Runs the transfer on a multi handle, so that a cancel from another thread is seen between two
/// short waits instead of after whatever the network holds the transfer for.
CURLcode Perform(CURL* easy, CURLM* multi, const std::atomic<bool>* cancel, std::string& abortReason)
{
    if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
        return CURLE_OUT_OF_MEMORY;
    }
    int running = 1;
    CURLMcode state = CURLM_OK;
    while (running != 0 && state == CURLM_OK) {
        if (cancel != nullptr && cancel->load()) {
            abortReason = "Operation cancelled";
            curl_multi_remove_handle(multi, easy);
            return CURLE_ABORTED_BY_CALLBACK;
        }
        state = curl_multi_perform(multi, &running);
        if (running != 0 && state == CURLM_OK) {
            state = curl_multi_poll(multi, nullptr, 0, 50, nullptr);
        }
    }
    CURLcode code = state == CURLM_OK ? CURLE_OK : CURLE_RECV_ERROR;
    int left = 0;
    while (const CURLMsg* message = curl_multi_info_read(multi, &left)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
            code = message->data.result;
        }
    }
    curl_multi_remove_handle(multi, easy);
    return code;
}

} // namespace

NetworkRuntime::NetworkRuntime()
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    std::signal(SIGPIPE, SIG_IGN);
}

NetworkRuntime::~NetworkRuntime()
{
    curl_global_cleanup();
}

FetchResult FetchPage(const std::string& url, const FetchLimits& limits, const std::atomic<bool>* cancel)
{
    // What libcurl is handed must outlive its use by the handle (reset on return), so it comes first.
    std::array<char, CURL_ERROR_SIZE> errorBuffer {};
    HeaderList headers(nullptr, &curl_slist_free_all);
    Transfer transfer(limits);

    // The session: without one there is no fetch at all, which the caller shows as an error.
    ThreadHandles& handles = Handles();
    if (!handles.easy || !handles.multi) {
        return {.error = curl_easy_strerror(CURLE_FAILED_INIT), .sessionFailed = true};
    }
    // Everything handed to the handle lives in this call: the options go again when it returns.
    curl_easy_reset(handles.easy.get());
    const std::unique_ptr<CURL, decltype(&curl_easy_reset)> resetOnReturn(handles.easy.get(),
                                                                          &curl_easy_reset);

    const std::optional<ParsedUrl> parsed = ParseUrl(url);
    if (!parsed) {
        return {.message = kBadUrlMessage};
    }

    // Whatever the scheme, the page comes over HTTP from the host and port found; only https
    // keeps its TLS, since plain HTTP to a TLS port cannot work.
    const std::string scheme = parsed->scheme == "https" ? "https" : "http";
    const std::string server = scheme + "://" + parsed->host + ":" + std::to_string(parsed->port);
    // Decided here, not left to libcurl, because it changes the request target: a proxy for plain
    // HTTP is asked for the whole address; through a tunnel (https) the server gets the path.
    const std::string proxy = ProxyFor(scheme, parsed->host);
    const std::string target = scheme == "http" && !proxy.empty() ? server + parsed->object : parsed->object;

    // "test/*" is the media range spot servers expect from this client: it stays as it is.
    for (const char* line : {"Accept: test/*", "User-Agent: Quarnel"}) {
        curl_slist* appended = curl_slist_append(headers.get(), line);
        if (appended == nullptr) {
            return ErrorResult(CURLE_OUT_OF_MEMORY, errorBuffer.data(), {});
        }
        static_cast<void>(headers.release());
        headers.reset(appended);
    }

    CURLcode code = CURLE_OK;
    const auto set = [&code](CURLcode result) {
        if (code == CURLE_OK) {
            code = result;
        }
    };
    CURL* h = handles.easy.get();
    transfer.curl = h;
    set(curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer.data()));
    set(curl_easy_setopt(h, CURLOPT_URL, server.c_str()));
    set(curl_easy_setopt(h, CURLOPT_REQUEST_TARGET, target.c_str()));
    set(curl_easy_setopt(h, CURLOPT_PROXY, proxy.c_str()));
    set(curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https"));
    set(curl_easy_setopt(h, CURLOPT_HTTPGET, 1L));
    set(curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0)));
    set(curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get()));
    set(curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L));
    // A connection of its own for every fetch, as a fresh session had; no signals from libcurl.
    set(curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, 1L));
    set(curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L));
    set(curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L));
    set(curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L));
    set(curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L));
    set(curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connectTimeout.count())));
    set(curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &OnHeader));
    set(curl_easy_setopt(h, CURLOPT_HEADERDATA, &transfer));
    set(curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnBody));
    set(curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer));
    set(curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, &OnRequestReady));
    set(curl_easy_setopt(h, CURLOPT_PREREQDATA, &transfer));
    // A progress callback rather than LOW_SPEED_LIMIT/TIME: that pair measures an average rate in
    // whole seconds, while "no byte for this long" needs the time of the last byte.
    set(curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &OnProgress));
    set(curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer));
    set(curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L));
    if (code != CURLE_OK) {
        return ErrorResult(code, errorBuffer.data(), {});
    }

    code = Perform(h, handles.multi.get(), cancel, transfer.abortReason);

    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (transfer.statusNot200 || (status == 0 && IsUnreadableStatus(code))
        || (code == CURLE_OK && status != 200)) {
        const bool asksToWait = status == 429 || status == 503;
        return {.message = kNoPageMessage,
                .retryAfter = asksToWait ? transfer.retryAfter : std::chrono::seconds(0)};
    }
    if (code != CURLE_OK) {
        // Whatever was read of the body is dropped.
        return ErrorResult(code, errorBuffer.data(), transfer.abortReason);
    }
    transfer.reader.finish();
    return {.body = std::move(transfer.body)};
}
