#pragma once

#include "net/fetch_page.h"
#include "relay/relay_window.h"

/// The real page source: FetchPage over libcurl, its messages shown by the window.
class CurlPageSource : public PageSource
{
public:
    explicit CurlPageSource(FetchLimits limits = {}) : m_limits(limits) {}

    std::string FetchPage(const std::string& url, RelayWindow& window) override;

private:
    FetchLimits m_limits;
};
