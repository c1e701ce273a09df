// Interleaved packets of a described AVS + MPEG audio stream through
// OnRtpPacket. The input is a run of [channel:2 bits + length:14 bits, bytes...]:
// odd channels carry RTCP (sender reports, BYE), even ones RTP.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "rtspstream/rtsp_client_session.h"

namespace {

const char kSdp[] =
    "v=0\r\na=control:*\r\na=range:npt=0-60\r\n"
    "m=video 0 RTP/AVP 96\r\na=rtpmap:96 AVS1-P2/90000\r\na=fmtp:96 sprop-parameter-sets=sAAB\r\n"
    "m=audio 0 RTP/AVP 14\r\na=rtpmap:14 MPA/90000\r\n"
    "m=video 0 RTP/AVP 97\r\na=rtpmap:97 H264/90000\r\n"
    "m=audio 0 RTP/AVP 98\r\n";

int Consume(const rtspstream::FrameDescriptor& f) {
    // Touch every byte the frame claims, so a bad length shows.
    uint32_t sum = 0;
    for (uint32_t i = 0; i < f.length; ++i) sum += f.data[i];
    return static_cast<int>(sum & 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    rtspstream::RtspClientSession session;
    if (!session.LoadDescription(kSdp, "rtsp://h/")) return 0;
    static int receiver;
    session.SetDeliver(&Consume, &receiver);
    size_t at = 0;
    while (size - at >= 2) {
        const auto channel = static_cast<uint8_t>(data[at] >> 6);
        size_t length = (size_t(data[at] & 0x3F) << 8) | data[at + 1];
        at += 2;
        if (length > size - at) length = size - at;
        // A copy of exactly the packet's size, so reads past it are caught.
        std::vector<uint8_t> packet(data + at, data + at + length);
        rtspstream::RtspClientSession::OnRtpPacket(&session, channel, packet.data(), packet.size());
        at += length;
    }
    return 0;
}
