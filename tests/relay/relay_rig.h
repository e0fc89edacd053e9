#pragma once

#include "app/relay_settings.h"
#include "country/country.h"
#include "relay/spot_relay.h"
#include "serial/com_ports.h"
#include "support/fake_window.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace relay_test {

// Two invented countries: XA on Europe, XB on South America. N0CALL is in neither.
inline const std::string kCountryFile
    = "Northland:                  14:  27:  EU:   52.00:   -10.00:    -1.0:   XA:\n"
      "    XA,XA5;\n"
      "Southland:                  13:  12:  SA:  -20.00:    45.00:     3.0:   XB:\n"
      "    XB,XB0;\n";

// Page lines in the page's fixed columns and the cluster lines they turn into.
inline const std::string kLineN0 = "N0CALL     14025.0 N1CALL     CQ UP 2                       1234Z";
inline const std::string kClusterN0
    = "DX de N0CALL:     14025.0  N1CALL      CQ UP 2                        1234Z";
inline const std::string kLineXA = "XA1AA       7012.5 N2ABC      TEST                          0915Z";
inline const std::string kClusterXA
    = "DX de XA1AA:       7012.5  N2ABC       TEST                           0915Z";
inline const std::string kLineXB = "XB1BB      21074.0 JA1XYZ     FT8 -12dB                     1002Z";
inline const std::string kClusterXB
    = "DX de XB1BB:      21074.0  JA1XYZ      FT8 -12dB                      1002Z";
inline const std::string kInvalidPage = "Received unvalid page\r\n";

/// A page with one "<PRE>" block holding `lines`, each ended by a line feed.
inline std::string Page(const std::vector<std::string>& lines)
{
    std::string body = "<HTML><BODY>\n<PRE>\n";
    for (const std::string& line : lines) {
        body += line + "\n";
    }
    return body + "</PRE>\n</BODY></HTML>\n";
}

/// The relay core with everything real that can run: a temporary config folder, an invented
/// cty.dat in the current directory, a pty linked as COM7. The window and the page source are fakes.
class RelayRig
{
public:
    static constexpr int kPort = 7;

    RelayRig()
    {
        m_dir.write("cty.dat", kCountryFile);
        settings.Port = "COM7";
        pty = std::make_unique<testing_support::PtyPair>();
        pty->linkAsComPort(kPort);
    }

    /// Starts the cycle; the link must open.
    void Start()
    {
        relay.ToggleRun();
        ASSERT_TRUE(relay.IsRunning()) << (window.messages.empty() ? "" : window.messages.back());
    }

    /// Everything the relay has written to the line so far.
    std::string Sent() { return pty->readAll(std::chrono::milliseconds(100)); }

    /// The spot log, oldest entry first, as the window shows it.
    std::vector<std::string> Log() const
    {
        std::vector<std::string> entries;
        for (int i = relay.HistoryCount() - 1; i >= 0; --i) {
            entries.push_back(relay.HistoryAt(i));
        }
        return entries;
    }

    const std::filesystem::path& Dir() const { return m_dir.path(); }

private:
    testing_support::TempDir m_dir;
    testing_support::ScopedEnv m_xdg {"XDG_CONFIG_HOME", (m_dir.path() / "config").string()};
    testing_support::ScopedCurrentDir m_cwd {m_dir.path()};

public:
    std::unique_ptr<testing_support::PtyPair> pty;
    testing_support::FakeWindow window;
    testing_support::FakePageSource source;
    RelaySettings settings;
    SpotRelay relay {window, source, settings};
};

} // namespace relay_test
