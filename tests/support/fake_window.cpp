#include "fake_window.h"

#include "net/fetch_page.h"

namespace testing_support {

void FakeWindow::ShowLog(const std::string& text, int start, int end)
{
    logText = text;
    selStart = start;
    selEnd = end;
    ++showLogCalls;
}

void FakeWindow::SetRunCaption(const std::string& caption)
{
    runCaption = caption;
}

void FakeWindow::ShowMessage(const std::string& text)
{
    messages.push_back(text);
    // A real box runs its own message loop until the user answers it.
    if (whileBoxOpen) {
        whileBoxOpen();
    }
}

void FakeWindow::ShowError(const std::string& text)
{
    errors.push_back(text);
    if (whileBoxOpen) {
        whileBoxOpen();
    }
}

bool FakeWindow::SetTimer()
{
    ++setTimerCalls;
    if (failSetTimer) {
        return false;
    }
    timerArmed = true;
    return true;
}

void FakeWindow::KillTimer()
{
    ++killTimerCalls;
    timerArmed = false;
}

std::string FakePageSource::FetchPage(const std::string& url, RelayWindow& window)
{
    urls.push_back(url);
    if (duringFetch) {
        duringFetch(window);
    }
    if (throwSessionError) {
        throw FetchSessionError(sessionErrorText);
    }
    if (bodies.empty()) {
        return {};
    }
    const std::size_t index = nextBody < bodies.size() ? nextBody : bodies.size() - 1;
    if (nextBody < bodies.size()) {
        ++nextBody;
    }
    return bodies[index];
}

} // namespace testing_support
