#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace rtsp {

// Limits on what one message may take; anything larger is a broken peer.
inline constexpr size_t kMaxHeaderBytes = 64 * 1024;
inline constexpr size_t kMaxBodyBytes = 1024 * 1024;

// One RTSP message as read from a connection: a reply, or a request (a server
// may send requests to its client too).
struct Message {
    bool is_reply = true;
    int status_code = 0;  // replies: the three status digits as a number
    std::string reason;   // replies: the reason phrase
    std::string method;   // requests: the method
    std::string uri;      // requests: the address
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    // First header of that name, compared without regard to case.
    const std::string* Header(std::string_view name) const;
    // CSeq as a number, when present and numeric.
    std::optional<uint32_t> CSeq() const;
};

// What the front of the receive buffer holds.
enum class ParseKind {
    kNeedMore,     // not a whole message yet
    kInterleaved,  // '$' channel length data
    kMessage,      // an RTSP reply or server request
    kError,        // the bytes cannot be an RTSP message or exceed the limits
};

struct ParseResult {
    ParseKind kind = ParseKind::kNeedMore;
    size_t consumed = 0;  // bytes to drop from the front of the buffer
    uint8_t channel = 0;  // Interleaved
    const uint8_t* packet = nullptr;
    size_t packet_length = 0;
    Message message;  // Message
};

// Parses the message or interleaved packet at the start of data. Stray CR and
// LF bytes between messages are consumed as part of the next one. Never reads
// outside [data, data + length).
ParseResult ParseNext(const uint8_t* data, size_t length);

}  // namespace rtsp
