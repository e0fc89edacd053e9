#include "fake_window.h"

#include "net/fetch_page.h"

#include <algorithm>

namespace testing_support {

std::string FakePageSource::FetchPage(const std::string& url, RelayWindow& /*window*/)
{
    urls.push_back(url);
    if (sessionError) {
        throw FetchSessionError(*sessionError);
    }
    if (bodies.empty()) {
        return {};
    }
    const std::string& body = bodies[std::min(m_nextBody, bodies.size() - 1)];
    m_nextBody = std::min(m_nextBody + 1, bodies.size());
    return body;
}

} // namespace testing_support
