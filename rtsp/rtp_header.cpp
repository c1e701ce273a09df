#include "rtsp/rtp_header.h"

namespace rtsp {

bool ParseRtpHeader(const uint8_t* packet, size_t length, RtpHeader& out) {
    constexpr size_t kFixed = 12;
    if (!packet || length == 0 || length < kFixed) return false;
    size_t offset = kFixed + 4u * (packet[0] & 0x0F);
    if (offset > length) return false;
    if (packet[0] & 0x10) {
        if (length - offset < 4) return false;
        size_t words = (size_t(packet[offset + 2]) << 8) | packet[offset + 3];
        if ((length - offset - 4) / 4 < words) return false;
        offset += 4 + 4 * words;
    }
    out.marker = (packet[1] & 0x80) != 0;
    out.payload_type = packet[1] & 0x7F;
    out.sequence = static_cast<uint16_t>((packet[2] << 8) | packet[3]);
    out.timestamp = (uint32_t(packet[4]) << 24) | (uint32_t(packet[5]) << 16) |
                    (uint32_t(packet[6]) << 8) | packet[7];
    out.ssrc = (uint32_t(packet[8]) << 24) | (uint32_t(packet[9]) << 16) |
               (uint32_t(packet[10]) << 8) | packet[11];
    out.payload = packet + offset;
    out.payload_length = length - offset;
    return true;
}

}  // namespace rtsp
