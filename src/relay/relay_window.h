#pragma once

#include <string>

/// What the relay needs from the main window. The dialog implements it; tests fake it.
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
};

/// Where the tick takes the page from.
class PageSource
{
public:
    virtual ~PageSource() = default;

    /// Returns the page body, "" or an error text. Messages go to `window`. May throw
    /// (FetchSessionError) when no session can be created.
    virtual std::string FetchPage(const std::string& url, RelayWindow& window) = 0;
};
