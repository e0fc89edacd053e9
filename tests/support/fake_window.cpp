#include "fake_window.h"

#include "net/fetch_page.h"

#include <algorithm>

namespace testing_support {

void FakeWindow::ShowLog(const std::string& text, int start, int end)
{
    logText = text;
    selStart = start;
    selEnd = end;
    ++showLogCalls;
}

void FakeWindow::OpenBox(std::vector<std::string>& boxes, const std::string& text)
{
    boxes.push_back(text);
    if (whileBoxOpen) {
        whileBoxOpen();
    }
}

std::string FakePageSource::FetchPage(const std::string& url, RelayWindow& /*window*/)
{
    urls.push_back(url);
    if (sessionError) {
        throw FetchSessionError(*sessionError);
    }
    if (bodies.empty()) {
        return {};
    }
    const std::string& body = bodies[std::min(nextBody, bodies.size() - 1)];
    nextBody = std::min(nextBody + 1, bodies.size());
    return body;
}

} // namespace testing_support
