#include "rtsp/url.h"

#include <charconv>

namespace rtsp {

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char a = text[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (a != prefix[i]) return false;
    }
    return true;
}

}  // namespace

std::optional<RtspUrl> ParseRtspUrl(std::string_view url) {
    constexpr std::string_view kScheme = "rtsp://";
    if (!StartsWithNoCase(url, kScheme)) return std::nullopt;
    std::string_view rest = url.substr(kScheme.size());
    std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    if (size_t at = authority.rfind('@'); at != std::string_view::npos)
        authority = authority.substr(at + 1);

    RtspUrl out;
    std::string_view port_text;
    if (!authority.empty() && authority.front() == '[') {
        size_t close = authority.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        out.host = std::string(authority.substr(1, close - 1));
        std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') return std::nullopt;
            port_text = after.substr(1);
        }
    } else {
        size_t colon = authority.find(':');
        out.host = std::string(authority.substr(0, colon));
        if (colon != std::string_view::npos) port_text = authority.substr(colon + 1);
    }
    if (out.host.empty()) return std::nullopt;
    if (!port_text.empty()) {
        unsigned value = 0;
        auto [end, ec] =
            std::from_chars(port_text.data(), port_text.data() + port_text.size(), value);
        if (ec != std::errc() || end != port_text.data() + port_text.size() || value == 0 ||
            value > 65535)
            return std::nullopt;
        out.port = static_cast<uint16_t>(value);
    }
    return out;
}

}  // namespace rtsp
