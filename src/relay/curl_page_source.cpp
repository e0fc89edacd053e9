#include "relay/curl_page_source.h"

std::string CurlPageSource::FetchPage(const std::string& url, RelayWindow& window)
{
    return ::FetchPage(
        url, [&window](const std::string& text) { window.ShowMessage(text); }, m_limits);
}
