#pragma once

#include <cstdint>
#include <string>

/// The address of the spot page used when none is stored and by the "&Default" button.
inline constexpr const char* kDefaultSpotUrl = "http://www.dxsummit.fi/dxs/dx25.html?";

/// The settings of the relay. A default-constructed record holds the values used when nothing
/// is stored.
struct RelaySettings
{
    std::string URL = kDefaultSpotUrl;
    std::string Port = "None";
    std::int32_t Speed = 3; ///< index into 1200, 2400, 4800, 9600, 19200
    std::int32_t Bits = 1; ///< 0 means 7 data bits, anything else 8
    std::int32_t Parity = 1; ///< 0 none, 1 odd, 2 even
    std::int32_t DxccFilter = 0;
    std::int32_t ClusterPort = 7300; ///< TCP port of the cluster node; 0 turns it off
    std::string ClusterAddress = "127.0.0.1"; ///< where the node listens: nothing exposed by default
    std::string Call {}; ///< the station's call sign, for sources that ask who is there
    std::int32_t Bands = 0; ///< bands let through, a bit each (160 m 1 ... other 4096); 0: all
    std::int32_t Modes = 0; ///< modes let through: CW 1, phone 2, digital 4; 0: all
    std::string WatchList {}; ///< DX call patterns ("VP8* 3Y0J"); only matching spots pass; "": all
    std::int32_t SkimmerRepeat = 0; ///< minutes a skimmer's repeat of a DX call is held back; 0: never

    bool operator==(const RelaySettings&) const = default;
};
