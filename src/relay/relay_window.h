#pragma once

#include "net/fetch_page.h"

#include <functional>
#include <optional>
#include <string>

/// What the relay needs from its front end: the main window, or the console of the headless
/// mode. The window implements it; tests fake it.
class RelayWindow
{
public:
    virtual ~RelayWindow() = default;

    /// Replaces the whole text of the log control (1001), selects [selStart, selEnd) and scrolls
    /// the selection into view so the newest entry shows.
    virtual void ShowLog(const std::string& text, int selStart, int selEnd) = 0;
    /// Sets the caption of the Run/Stop button (control 3).
    virtual void SetRunCaption(const std::string& caption) = 0;
    /// Modal box owned by the main window: application name as caption, OK, no icon.
    virtual void ShowMessage(const std::string& text) = 0;
    /// The error box of an error that escaped a handler: same box with the stop icon.
    virtual void ShowError(const std::string& text) = 0;
    /// Arms timer 1 with a 1000 ms period. False when it cannot be armed.
    virtual bool SetTimer() = 0;
    /// Kills timer 1.
    virtual void KillTimer() = 0;
    /// The serial link to `port` was lost (its device went away) or is back; no box, the user
    /// sees it without having to answer anything.
    virtual void ShowLinkState(const std::string& port, bool lost) = 0;
    /// A line for the console, never a box: what the cluster node's clients do.
    virtual void LogNotice(const std::string& text) = 0;
};

/// The warning a front end shows at start-up when the country file cannot be read: the two lines
/// it has always had, then the folder where it was looked for.
[[nodiscard]] std::string CountryFileWarning();

/// `text` as one line for a console or a journal: a UTC time stamp, then the text with its line
/// breaks turned into blanks.
[[nodiscard]] std::string ConsoleLine(const std::string& text);

/// A fetch as the tick sees it: what the fetch brought, or the error that kept it from starting.
struct PageResult
{
    FetchResult fetch;
    std::optional<std::string> sessionError; ///< no HTTP session could be created: its text
};

/// Where the tick takes the page from. The fetch runs away from the caller's thread, so nothing
/// the network does can hold the event loop; its result comes back on the caller's thread.
class PageSource
{
public:
    using Done = std::function<void(PageResult)>;

    virtual ~PageSource() = default;

    /// Starts fetching `url`; `done` is called later, on this thread, unless Cancel comes first.
    virtual void Start(const std::string& url, Done done) = 0;
    /// Abandons the fetch in flight, if any: its `done` is never called.
    virtual void Cancel() = 0;
};
