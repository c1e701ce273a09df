// The rtpavsdepay element's depacketizer over arbitrary packet runs, and the
// avscontainerparse element's sample unpacking over the same bytes taken as
// one stored sample. Packets are runs of [flags, length high, length low,
// payload...]; flags bit 0 is the marker, bit 1 a transport discontinuity,
// bit 2 a loss report and bit 3 a flush before the packet, bits 4-7 the step
// to this packet's sequence number (0: the same one again).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "gst/container_picture_parser.h"
#include "gst/rtp_avs_depacketizer.h"

namespace {

const std::vector<uint8_t> kHeader = {0, 0, 1, 0xB0, 0x20, 0x00, 0x0B, 0x04, 0x12, 0x10};

void Check(const avsgst::DepacketizedPicture& picture, size_t header_room) {
    // Every picture is whole units behind prefixes, no larger than the cap.
    if (picture.bytes.size() < 3 || picture.bytes[0] != 0 || picture.bytes[1] != 0 ||
        picture.bytes[2] != 1)
        std::abort();
    if (picture.bytes.size() > avsgst::RtpAvsDepacketizer::kMaxPictureBytes + header_room)
        std::abort();
    volatile uint8_t sum = 0;
    for (uint8_t b : picture.bytes) sum = sum + b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    avsgst::RtpAvsDepacketizer depacketizer;
    if (size > 0 && (data[0] & 1)) depacketizer.SetSequenceHeader(kHeader);
    uint16_t sequence = 1000;
    size_t at = size > 0 ? 1 : 0;
    while (size - at >= 3) {
        const uint8_t flags = data[at];
        size_t length = size_t{data[at + 1]} << 8 | data[at + 2];
        at += 3;
        if (length > size - at) length = size - at;
        // A copy of exactly the payload's size, so reads past it are caught.
        std::vector<uint8_t> payload(data + at, data + at + length);
        at += length;
        if (flags & 4) depacketizer.MarkLost();
        if (flags & 8) depacketizer.Reset();
        sequence = static_cast<uint16_t>(sequence + (flags >> 4));
        avsgst::RtpPacketView packet;
        packet.sequence = sequence;
        packet.timestamp = sequence * 3600u;
        packet.marker = flags & 1;
        packet.discontinuity = flags & 2;
        packet.payload = payload;
        avsgst::DepacketizedPicture picture;
        if (depacketizer.Push(packet, picture))
            Check(picture, depacketizer.sequence_header().size() + kHeader.size() + 64 * 1024);
    }

    std::vector<uint8_t> sample(data, data + size);
    avsgst::ContainerPictureParser parser;
    avsgst::ContainerPicture picture;
    if (parser.Push(sample, false, picture) && picture.size > sample.size()) std::abort();
    return 0;
}
