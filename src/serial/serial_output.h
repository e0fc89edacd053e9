#pragma once

#include "serial/serial_port.h"
#include "settings/relay_settings.h"
#include "spot/spot_output.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;

/// The serial settings a start derives from the stored ones.
struct LinkParameters
{
    int port = 0; ///< 0: run without a link
    bool speedKnown = false; ///< Speed is an index of the rate table
    std::uint32_t baud = 0;
    std::uint8_t byteSize = 8;
    std::uint8_t parity = 0; ///< the low byte of Parity, passed on unchanged
};

[[nodiscard]] LinkParameters DeriveLinkParameters(const RelaySettings& settings);

/// How the serial output judges its device. Tests shorten the times.
struct SerialTiming
{
    /// A device that takes no byte for this long while lines wait is stalled.
    std::chrono::milliseconds stallAfter {5000};
    /// How often a lost device is looked for again under its COM name.
    std::chrono::milliseconds reopenEvery {1000};
};

/// The serial line as an output of the relay: each spot's cluster line and "\r\n", written from a
/// queue as the device takes bytes, so that a device that stops reading holds nothing but its
/// own lines. A line goes out whole or not at all. At most the newest 99 lines that have not
/// started wait; older ones are dropped and counted once on the console. A device that takes
/// nothing for a while is "stalled"; one that is gone (unplugged, hung up) is "lost", and is
/// opened again under the same COM name with the same settings until it is back, when the
/// waiting lines go out in order.
class SerialOutput : public QObject, public SpotOutput
{
    Q_OBJECT

public:
    /// The lines that wait for the device, the newest kept.
    static constexpr std::size_t kWaitingLimit = 99;

    explicit SerialOutput(const RelaySettings& settings, SerialTiming timing = {});
    ~SerialOutput() override;
    SerialOutput(const SerialOutput&) = delete;
    SerialOutput& operator=(const SerialOutput&) = delete;

    /// Opens the Port of the settings ("" without a port): "" or "Error opening serial
    /// communication" and why. An open link keeps its first settings.
    [[nodiscard]] std::string Open() override;
    void Close(bool keepWaiting) override;
    void Send(const Spot& spot) override;

    [[nodiscard]] bool IsOpen() const { return m_port.IsOpen(); }
    /// Lines handed over and not yet wholly written.
    [[nodiscard]] std::size_t Waiting() const { return m_queue.size(); }

signals:
    /// The state of the link: `state` is "lost", "stalled", or "" when it works again.
    void StateChanged(const QString& port, const QString& state);
    /// A line for the console: lines dropped.
    void Notice(const QString& text);

private:
    enum class State
    {
        Working,
        Stalled,
        Lost
    };

    /// Writes what the device takes now, line after line.
    void Drain();
    /// Watches the opened link for room, and writes what waits.
    void Attach();
    /// While lost: the same COM name with the same settings again.
    void Reopen();
    void SetState(State state);
    /// Tells the console how many lines were dropped since it last did.
    void ReportDropped();
    void WatchForRoom(bool on);

    const RelaySettings& m_settings;
    SerialTiming m_timing;
    CSerialPort m_port;
    LinkParameters m_link; ///< as the last start opened the link; port 0 when there is none
    std::string m_name; ///< "COM<n>" of m_link
    std::deque<std::string> m_queue;
    std::size_t m_sentOfFront = 0; ///< bytes of the first line the device took already
    std::unique_ptr<QSocketNotifier> m_room;
    QTimer m_stallTimer;
    QTimer m_reopenTimer;
    State m_state = State::Working;
    std::size_t m_dropped = 0;
};
