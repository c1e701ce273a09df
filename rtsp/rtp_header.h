#pragma once

#include <cstddef>
#include <cstdint>

namespace rtsp {

// The fields of an RTP fixed header that a receiver without an RTP session
// needs. No version or sequence check is made; the fill bytes of a packet
// with the P bit set stay in the payload.
struct RtpHeader {
    bool marker = false;
    uint8_t payload_type = 0;  // 7 bits
    uint16_t sequence = 0;
    uint32_t timestamp = 0;  // host order
    uint32_t ssrc = 0;
    const uint8_t* payload = nullptr;  // after the CSRC list and the extension
    size_t payload_length = 0;
};

// False when the packet is empty or too short for the header, CSRC list and
// extension it announces.
bool ParseRtpHeader(const uint8_t* packet, size_t length, RtpHeader& out);

}  // namespace rtsp
