#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace rtsp {

// a=rtpmap:<format> <encoding name>/<clock rate>[/<parameters>]
struct SdpRtpMap {
    std::string encoding_name;
    uint32_t clock_rate = 0;
    std::string parameters;
};

// One format of an m= line, with the attributes that name it.
struct SdpFormat {
    std::string text;  // as written on the m= line, e.g. "96"
    std::optional<SdpRtpMap> rtpmap;
    std::optional<std::string> fmtp;  // the parameter text after "a=fmtp:<format> "
};

struct SdpMedia {
    std::string name;  // "video", "audio", ...
    uint32_t port = 0;
    std::string protocol;
    std::vector<SdpFormat> formats;  // in m= line order
    std::optional<std::string> control;
    std::optional<double> range_end;  // a=range:npt=start-end, seconds
    // Every a= line of the media as name and value (value empty for flags).
    std::vector<std::pair<std::string, std::string>> attributes;
};

struct SessionDescription {
    std::string session_name;
    std::optional<std::string> control;
    std::optional<double> range_end;  // seconds; absent for an open range
    std::vector<SdpMedia> media;
    std::vector<std::pair<std::string, std::string>> attributes;
};

// The decoder is lenient: lines it does not know are kept or skipped, and a
// line it cannot read sets error but does not stop the decoding.
struct SdpDecodeResult {
    bool error = false;
    std::string error_text;                        // the first problem met
    std::vector<SessionDescription> descriptions;  // one per v= line
};

SdpDecodeResult DecodeSdp(std::string_view text);

// Reads "npt=<start>-<end>" and returns end in seconds; nothing for an open or
// unreadable range, or one that is negative, not finite or above a billion seconds.
std::optional<double> ParseNptRangeEnd(std::string_view value);

}  // namespace rtsp
