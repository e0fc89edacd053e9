#pragma once

#include "country/country.h"
#include "relay/spot_relay.h"
#include "support/fake_window.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace relay_test {

using Lines = std::vector<std::string>;

// Two invented countries: XA in Europe, XB in South America. N0CALL is in neither.
const std::string kCountryFile
    = "Northland:                  14:  27:  EU:   52.00:   -10.00:    -1.0:   XA:\n    XA,XA5;\n"
      "Southland:                  13:  12:  SA:  -20.00:    45.00:     3.0:   XB:\n    XB,XB0;\n";
// Page lines in the page's fixed columns and the cluster lines (kDx...) they turn into.
const std::string kN0 = "N0CALL     14025.0 N1CALL     CQ UP 2                       1234Z";
const std::string kDxN0 = "DX de N0CALL:     14025.0  N1CALL      CQ UP 2                        1234Z";
const std::string kXA = "XA1AA       7012.5 N2ABC      TEST                          0915Z";
const std::string kDxXA = "DX de XA1AA:       7012.5  N2ABC       TEST                           0915Z";
const std::string kXB = "XB1BB      21074.0 JA1XYZ     FT8 -12dB                     1002Z";
const std::string kDxXB = "DX de XB1BB:      21074.0  JA1XYZ      FT8 -12dB                      1002Z";
const std::string kInvalidPage = "Received unvalid page\r\n";

/// Names a table row after its `name` field.
inline const auto kRowName = [](const auto& row) { return std::string(row.param.name); };

/// The lines, each followed by `end`.
inline std::string Join(const Lines& lines, const std::string& end)
{
    std::string text;
    for (const std::string& line : lines) {
        text += line + end;
    }
    return text;
}

/// A page with one "<PRE>" block holding `lines`.
inline std::string Page(const Lines& lines)
{
    return "<HTML><BODY>\n<PRE>\n" + Join(lines, "\n") + "</PRE>\n</BODY></HTML>\n";
}

/// The bytes the relay writes for `lines`.
inline std::string Wire(const Lines& lines)
{
    return Join(lines, "\r\n");
}

/// The relay core with a temporary config folder, an invented cty.dat in the current directory and
/// a pty linked as COM7; only the window and the page source are fakes.
struct RelayRig
{
    RelayRig()
    {
        dir.write("cty.dat", kCountryFile);
        pty->linkAsComPort(7);
        settings.Port = "COM7";
    }

    void Start()
    {
        relay.ToggleRun();
        ASSERT_TRUE(relay.IsRunning()) << Join(window.messages, " ");
    }

    void Ticks(int count)
    {
        while (count-- > 0) {
            relay.OnTimer();
        }
    }

    std::string Sent() const { return pty->readAll(std::chrono::milliseconds(100)); }

    /// The spot log, oldest entry first.
    Lines Log() const
    {
        Lines entries;
        for (int i = relay.HistoryCount() - 1; i >= 0; --i) {
            entries.push_back(relay.HistoryAt(i));
        }
        return entries;
    }

    testing_support::TempDir dir;
    testing_support::ScopedEnv xdg {"XDG_CONFIG_HOME", (dir.path() / "config").string()};
    testing_support::ScopedCurrentDir cwd {dir.path()};
    std::unique_ptr<testing_support::PtyPair> pty = std::make_unique<testing_support::PtyPair>();
    testing_support::FakeWindow window;
    testing_support::FakePageSource source;
    RelaySettings settings;
    SpotRelay relay {window, source, settings};
};

} // namespace relay_test
