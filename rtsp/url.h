#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace rtsp {

inline constexpr uint16_t kDefaultPort = 554;

// The parts of an rtsp:// address needed to open the connection. The address
// itself is sent unchanged in request lines, so nothing here limits its length.
struct RtspUrl {
    std::string host;  // without the brackets of an IPv6 literal
    uint16_t port = kDefaultPort;
};

// Accepts rtsp://[user[:password]@]host[:port][/path...]; the scheme is
// matched without regard to case. Returns nothing for anything else.
std::optional<RtspUrl> ParseRtspUrl(std::string_view url);

}  // namespace rtsp
