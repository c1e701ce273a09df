#include "rtsp/sdp.h"

#include <charconv>
#include <cmath>

namespace rtsp {

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> SplitSpaces(std::string_view s) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && s[i] == ' ') ++i;
        size_t j = i;
        while (j < s.size() && s[j] != ' ') ++j;
        if (j > i) out.push_back(s.substr(i, j - i));
        i = j;
    }
    return out;
}

void Fail(SdpDecodeResult& r, std::string text) {
    if (!r.error) r.error_text = std::move(text);
    r.error = true;
}

SdpFormat* FindFormat(SdpMedia& media, std::string_view text) {
    for (auto& f : media.formats)
        if (f.text == text) return &f;
    return nullptr;
}

bool ParseMediaLine(std::string_view value, SdpMedia& media) {
    // m=<media> <port>[/<count>] <proto> <fmt> ...
    std::vector<std::string_view> parts = SplitSpaces(value);
    if (parts.empty()) return false;
    media.name = std::string(parts[0]);
    if (parts.size() < 3) return false;
    std::string_view port = parts[1].substr(0, parts[1].find('/'));
    uint32_t p = 0;
    auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), p);
    if (ec != std::errc() || end != port.data() + port.size() || p > 65535) return false;
    media.port = p;
    media.protocol = std::string(parts[2]);
    for (size_t i = 3; i < parts.size(); ++i)
        media.formats.push_back({std::string(parts[i]), {}, {}});
    return true;
}

bool ParseRtpMap(std::string_view value, SdpMedia& media) {
    // <format> <name>/<clock>[/<parameters>]
    size_t sp = value.find(' ');
    if (sp == std::string_view::npos) return false;
    SdpFormat* format = FindFormat(media, value.substr(0, sp));
    std::string_view rest = Trim(value.substr(sp + 1));
    size_t slash = rest.find('/');
    if (slash == std::string_view::npos || slash == 0) return false;
    SdpRtpMap map;
    map.encoding_name = std::string(rest.substr(0, slash));
    std::string_view clock = rest.substr(slash + 1);
    size_t slash2 = clock.find('/');
    if (slash2 != std::string_view::npos) {
        map.parameters = std::string(clock.substr(slash2 + 1));
        clock = clock.substr(0, slash2);
    }
    auto [end, ec] = std::from_chars(clock.data(), clock.data() + clock.size(), map.clock_rate);
    if (ec != std::errc() || end != clock.data() + clock.size()) return false;
    if (format) format->rtpmap = std::move(map);  // a map for a format not listed is ignored
    return true;
}

bool ParseFmtp(std::string_view value, SdpMedia& media) {
    size_t sp = value.find(' ');
    std::string_view name = value.substr(0, sp);
    if (name.empty()) return false;
    SdpFormat* format = FindFormat(media, name);
    if (format)
        format->fmtp =
            sp == std::string_view::npos ? std::string() : std::string(Trim(value.substr(sp + 1)));
    return true;
}

}  // namespace

std::optional<double> ParseNptRangeEnd(std::string_view value) {
    value = Trim(value);
    if (value.substr(0, 4) != "npt=") return std::nullopt;
    std::string_view range = value.substr(4);
    size_t dash = range.find('-');
    if (dash == std::string_view::npos) return std::nullopt;
    std::string_view end = Trim(range.substr(dash + 1));
    if (end.empty()) return std::nullopt;
    double seconds = 0;
    auto [stop, ec] = std::from_chars(end.data(), end.data() + end.size(), seconds);
    if (ec != std::errc() || stop != end.data() + end.size()) return std::nullopt;
    if (!std::isfinite(seconds) || seconds < 0 || seconds > 1e9) return std::nullopt;
    return seconds;
}

SdpDecodeResult DecodeSdp(std::string_view text) {
    SdpDecodeResult r;
    SessionDescription* session = nullptr;
    SdpMedia* media = nullptr;
    size_t pos = 0;
    size_t line_number = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos) nl = text.size();
        std::string_view line = Trim(text.substr(pos, nl - pos));
        pos = nl + 1;
        ++line_number;
        if (line.empty()) continue;
        if (line.size() < 2 || line[1] != '=' || !(line[0] >= 'a' && line[0] <= 'z')) {
            Fail(r, "line " + std::to_string(line_number) + " is not <type>=<value>");
            continue;
        }
        char type = line[0];
        std::string_view value = line.substr(2);
        if (type == 'v') {
            session = &r.descriptions.emplace_back();
            media = nullptr;
            if (value != "0") Fail(r, "unknown SDP version");
            continue;
        }
        if (!session) {
            Fail(r, "description does not start with v=");
            continue;
        }
        switch (type) {
            case 's':
                session->session_name = std::string(value);
                break;
            case 'm':
                media = &session->media.emplace_back();
                if (!ParseMediaLine(value, *media))
                    Fail(r, "line " + std::to_string(line_number) + ": malformed m= line");
                break;
            case 'a': {
                size_t colon = value.find(':');
                std::string_view name = value.substr(0, colon);
                std::string_view attr =
                    colon == std::string_view::npos ? std::string_view() : value.substr(colon + 1);
                bool ok = true;
                if (media) {
                    if (name == "rtpmap")
                        ok = ParseRtpMap(attr, *media);
                    else if (name == "fmtp")
                        ok = ParseFmtp(attr, *media);
                    else if (name == "control")
                        media->control = std::string(Trim(attr));
                    else if (name == "range")
                        media->range_end = ParseNptRangeEnd(attr);
                    media->attributes.emplace_back(std::string(name), std::string(attr));
                } else {
                    if (name == "control")
                        session->control = std::string(Trim(attr));
                    else if (name == "range")
                        session->range_end = ParseNptRangeEnd(attr);
                    session->attributes.emplace_back(std::string(name), std::string(attr));
                }
                if (!ok)
                    Fail(r, "line " + std::to_string(line_number) +
                                ": malformed a=" + std::string(name));
                break;
            }
            default:
                break;  // o=, c=, t=, b=, i= and the rest are not needed here
        }
    }
    if (r.descriptions.empty()) Fail(r, "no session description");
    return r;
}

}  // namespace rtsp
