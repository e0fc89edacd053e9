#pragma once

#include <string>

/// What the relay and the parts around it show to the user: a window, or the console of the
/// headless mode. The main window and the console implement it; tests fake it.
class RelayFrontEnd
{
public:
    virtual ~RelayFrontEnd() = default;

    /// Replaces the whole text of the log control (1001), selects [selStart, selEnd) and scrolls
    /// the selection into view so the newest entry shows.
    virtual void ShowLog(const std::string& text, int selStart, int selEnd) = 0;
    /// Sets the caption of the Run/Stop button (control 3).
    virtual void SetRunCaption(const std::string& caption) = 0;
    /// A box owned by the main window: application name as caption, OK, no icon. It never holds
    /// the caller: the relay goes on while it waits for OK.
    virtual void ShowMessage(const std::string& text) = 0;
    /// The error box of an error that escaped a handler: the same box with the stop icon.
    virtual void ShowError(const std::string& text) = 0;
    /// The state of a link the relay depends on ("COM5" and "lost", "stalled"; "" when it works
    /// again): no box, the user sees it without having to answer anything.
    virtual void ShowLinkState(const std::string& link, const std::string& state) = 0;
    /// A line for the console, never a box.
    virtual void LogNotice(const std::string& text) = 0;
};

/// The warning a front end shows at start-up when the country file cannot be read: the two lines
/// users know, then the folder where it was looked for.
[[nodiscard]] std::string CountryFileWarning();

/// `text` as one line for a console or a journal: a UTC time stamp, then the text with its line
/// breaks turned into blanks.
[[nodiscard]] std::string ConsoleLine(const std::string& text);
