#include "rtsp/message_parser.h"

#include <charconv>
#include <cstring>

namespace rtsp {

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// End of the header block: the index just past the blank line, or 0 when the
// block is not complete. Accepts bare LF line ends too.
size_t FindHeaderEnd(const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (text[i] != '\n') continue;
        if (i + 1 < length && text[i + 1] == '\n') return i + 2;
        if (i + 2 < length && text[i + 1] == '\r' && text[i + 2] == '\n') return i + 3;
    }
    return 0;
}

bool ParseUnsigned(std::string_view text, uint64_t& value) {
    text = Trim(text);
    if (text.empty()) return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

bool ParseStartLine(std::string_view line, Message& m) {
    if (line.size() >= 5 && line.substr(0, 5) == "RTSP/") {
        // RTSP/1.0 200 OK
        size_t sp = line.find(' ');
        if (sp == std::string_view::npos) return false;
        std::string_view rest = line.substr(sp + 1);
        while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
        if (rest.size() < 3) return false;
        int code = 0;
        for (int i = 0; i < 3; ++i) {
            if (rest[i] < '0' || rest[i] > '9') return false;
            code = code * 10 + (rest[i] - '0');
        }
        if (rest.size() > 3 && rest[3] != ' ') return false;
        m.is_reply = true;
        m.status_code = code;
        m.reason = std::string(Trim(rest.substr(3)));
        return true;
    }
    // A request from the server: METHOD uri RTSP/1.0
    size_t sp = line.find(' ');
    if (sp == 0 || sp == std::string_view::npos) return false;
    if (line.find("RTSP/", sp) == std::string_view::npos) return false;
    for (size_t i = 0; i < sp; ++i) {
        char c = line[i];
        if (!((c >= 'A' && c <= 'Z') || c == '_' || c == '-')) return false;
    }
    m.is_reply = false;
    m.method = std::string(line.substr(0, sp));
    std::string_view rest = line.substr(sp + 1);
    m.uri = std::string(rest.substr(0, rest.find(' ')));
    return true;
}

}  // namespace

const std::string* Message::Header(std::string_view name) const {
    for (const auto& [key, value] : headers)
        if (EqualsNoCase(key, name)) return &value;
    return nullptr;
}

std::optional<uint32_t> Message::CSeq() const {
    const std::string* text = Header("CSeq");
    uint64_t value = 0;
    if (!text || !ParseUnsigned(*text, value) || value > UINT32_MAX) return std::nullopt;
    return static_cast<uint32_t>(value);
}

ParseResult ParseNext(const uint8_t* data, size_t length) {
    ParseResult r;
    size_t skip = 0;
    while (skip < length && (data[skip] == '\r' || data[skip] == '\n')) ++skip;
    if (skip == length) {
        r.consumed = skip;  // nothing but line ends: drop them
        return r;
    }
    const uint8_t* p = data + skip;
    size_t n = length - skip;

    if (p[0] == '$') {
        if (n < 4) return r;
        size_t size = (size_t(p[2]) << 8) | p[3];
        if (n < 4 + size) return r;
        r.kind = ParseKind::kInterleaved;
        r.channel = p[1];
        r.packet = p + 4;
        r.packet_length = size;
        r.consumed = skip + 4 + size;
        return r;
    }

    const char* text = reinterpret_cast<const char*>(p);
    size_t scan = n < kMaxHeaderBytes ? n : kMaxHeaderBytes;
    size_t header_end = FindHeaderEnd(text, scan);
    if (header_end == 0) {
        // Fail early on a first line that cannot start a message, so garbage
        // does not sit in the buffer until the size limit.
        const void* nl = std::memchr(text, '\n', scan);
        if (nl) {
            Message probe;
            std::string_view line(text, static_cast<const char*>(nl) - text);
            if (!ParseStartLine(Trim(line), probe)) r.kind = ParseKind::kError;
        } else if (n >= 5 && std::memcmp(text, "RTSP/", 5) != 0 &&
                   !(text[0] >= 'A' && text[0] <= 'Z')) {
            r.kind = ParseKind::kError;
        }
        if (n >= kMaxHeaderBytes) r.kind = ParseKind::kError;
        return r;
    }

    Message m;
    std::string_view block(text, header_end);
    size_t line_start = 0;
    bool first = true;
    while (line_start < block.size()) {
        size_t nl = block.find('\n', line_start);
        if (nl == std::string_view::npos) nl = block.size();
        std::string_view line = block.substr(line_start, nl - line_start);
        line_start = nl + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) break;
        if (first) {
            if (!ParseStartLine(line, m)) {
                r.kind = ParseKind::kError;
                return r;
            }
            first = false;
            continue;
        }
        if ((line.front() == ' ' || line.front() == '\t') && !m.headers.empty()) {
            m.headers.back().second += ' ';
            m.headers.back().second += Trim(line);
            continue;
        }
        size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) continue;  // tolerate junk lines
        m.headers.emplace_back(std::string(Trim(line.substr(0, colon))),
                               std::string(Trim(line.substr(colon + 1))));
    }

    uint64_t body_length = 0;
    if (const std::string* cl = m.Header("Content-Length")) {
        if (!ParseUnsigned(*cl, body_length) || body_length > kMaxBodyBytes) {
            r.kind = ParseKind::kError;
            return r;
        }
    }
    if (n - header_end < body_length) return r;
    m.body.assign(text + header_end, static_cast<size_t>(body_length));
    r.kind = ParseKind::kMessage;
    r.consumed = skip + header_end + static_cast<size_t>(body_length);
    r.message = std::move(m);
    return r;
}

}  // namespace rtsp
