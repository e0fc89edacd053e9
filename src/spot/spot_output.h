#pragma once

#include "spot/spot.h"

#include <string>

/// Where the spots go that the relay lets through: the serial line, the cluster node. An output
/// may queue; it never waits, so no device or client can hold the relay.
class SpotOutput
{
public:
    virtual ~SpotOutput() = default;

    /// The relay starts: the output opens what it writes to, as the settings now stand. "" or the
    /// message that keeps the relay from starting.
    [[nodiscard]] virtual std::string Open() { return {}; }
    /// The relay stops. With `keepWaiting` it starts again soon (the configuration is open), so
    /// what still waits for the device is kept for it.
    virtual void Close(bool keepWaiting) { static_cast<void>(keepWaiting); }
    /// The settings were loaded or changed: "" or one message for the user.
    [[nodiscard]] virtual std::string Apply() { return {}; }
    /// A spot every filter let through.
    virtual void Send(const Spot& spot) = 0;
};
