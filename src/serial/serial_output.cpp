#include "serial/serial_output.h"

#include "serial/com_ports.h"

#include <climits>

#include <QSocketNotifier>

LinkParameters DeriveLinkParameters(const RelaySettings& settings)
{
    LinkParameters link;
    link.port = PortNumberOf(settings.Port);
    link.speedKnown = settings.Speed >= 0 && settings.Speed < static_cast<std::int32_t>(kBaudRates.size());
    if (link.speedKnown) {
        link.baud = kBaudRates[static_cast<std::size_t>(settings.Speed)];
    }
    link.byteSize = settings.Bits == 0 ? 7 : 8;
    link.parity = static_cast<std::uint8_t>(settings.Parity & 0xFF);
    return link;
}

SerialOutput::SerialOutput(const RelaySettings& settings, SerialTiming timing)
    : m_settings(settings)
    , m_timing(timing)
{
    m_stallTimer.setSingleShot(true);
    m_stallTimer.setInterval(m_timing.stallAfter);
    connect(&m_stallTimer, &QTimer::timeout, this, [this] {
        if (!m_queue.empty() && m_state == State::Working) {
            SetState(State::Stalled);
        }
    });
    m_reopenTimer.setInterval(m_timing.reopenEvery);
    connect(&m_reopenTimer, &QTimer::timeout, this, &SerialOutput::Reopen);
}

SerialOutput::~SerialOutput()
{
    Close(false);
}

std::string SerialOutput::Open()
{
    // An open link keeps its first settings.
    if (m_port.IsOpen()) {
        return {};
    }
    const LinkParameters link = DeriveLinkParameters(m_settings);
    // Without a port no speed is used; a Speed without a rate fails like an open that failed.
    if (link.port != 0 && !link.speedKnown) {
        return "Error opening serial communication\n" + m_settings.Port + ": Speed "
            + std::to_string(m_settings.Speed) + " is none of 0 to " + std::to_string(kBaudRates.size() - 1);
    }
    if (link.port != 0 && !m_port.Open(link.port, link.baud, link.byteSize, link.parity)) {
        // The first line is the one users know; the second says which port, which device, why.
        return "Error opening serial communication\n" + m_port.OpenFailure();
    }
    m_link = link;
    m_name = ComPortName(link.port);
    if (link.port != 0) {
        // Lines kept while the configuration was open go first.
        Attach();
    }
    return {};
}

void SerialOutput::Close(bool keepWaiting)
{
    m_reopenTimer.stop();
    m_stallTimer.stop();
    m_room.reset();
    // A device that takes nothing would hold the close while the driver waits for its queue.
    if (m_state != State::Working) {
        m_port.DiscardQueued();
    }
    m_port.Close();
    // The line in progress starts again whole on the next open.
    m_sentOfFront = 0;
    if (!keepWaiting) {
        ReportDropped();
        m_queue.clear();
        m_link = {};
    }
    SetState(State::Working);
}

void SerialOutput::Send(const Spot& spot)
{
    if (m_link.port == 0) {
        return;
    }
    m_queue.push_back(ClusterLine(spot) + "\r\n");
    // A line the device has begun must end; of the others, the newest wait.
    const std::size_t begun = m_sentOfFront > 0 ? 1 : 0;
    if (m_queue.size() - begun > kWaitingLimit) {
        m_queue.erase(m_queue.begin() + static_cast<std::ptrdiff_t>(begun));
        ++m_dropped;
    }
    if (m_port.IsOpen() && m_state != State::Lost) {
        Drain();
    }
}

void SerialOutput::Drain()
{
    while (!m_queue.empty()) {
        const std::string& line = m_queue.front();
        const int taken = m_port.WriteBytes(
            line.data() + m_sentOfFront,
            static_cast<int>(std::min<std::size_t>(line.size() - m_sentOfFront, INT_MAX)));
        if (m_port.IsLost()) {
            m_sentOfFront = 0;
            WatchForRoom(false);
            m_stallTimer.stop();
            SetState(State::Lost);
            m_reopenTimer.start();
            return;
        }
        if (taken == 0) {
            WatchForRoom(true);
            if (!m_stallTimer.isActive()) {
                m_stallTimer.start();
            }
            return;
        }
        // It takes bytes: the stall clock starts again.
        m_stallTimer.start();
        SetState(State::Working);
        m_sentOfFront += static_cast<std::size_t>(taken);
        if (m_sentOfFront == line.size()) {
            m_queue.pop_front();
            m_sentOfFront = 0;
        }
    }
    WatchForRoom(false);
    m_stallTimer.stop();
    ReportDropped();
}

void SerialOutput::Reopen()
{
    m_room.reset();
    m_port.Close();
    if (!m_port.Open(m_link.port, m_link.baud, m_link.byteSize, m_link.parity)) {
        return;
    }
    m_reopenTimer.stop();
    SetState(State::Working);
    Attach();
}

void SerialOutput::Attach()
{
    m_room = std::make_unique<QSocketNotifier>(m_port.Handle(), QSocketNotifier::Write);
    m_room->setEnabled(false);
    connect(m_room.get(), &QSocketNotifier::activated, this, &SerialOutput::Drain);
    Drain();
}

void SerialOutput::SetState(State state)
{
    if (state == m_state) {
        return;
    }
    m_state = state;
    emit StateChanged(QString::fromStdString(m_name),
                      state == State::Lost          ? QStringLiteral("lost")
                          : state == State::Stalled ? QStringLiteral("stalled")
                                                    : QString());
}

void SerialOutput::ReportDropped()
{
    if (m_dropped == 0) {
        return;
    }
    emit Notice(QStringLiteral("%1: %2 waiting line(s) dropped, the newest %3 were kept")
                    .arg(QString::fromStdString(m_name))
                    .arg(m_dropped)
                    .arg(kWaitingLimit));
    m_dropped = 0;
}

void SerialOutput::WatchForRoom(bool on)
{
    if (m_room) {
        m_room->setEnabled(on);
    }
}
