// The bytes as they come off an RTSP connection: messages and interleaved
// packets, parsed the way the client's receive thread does.
#include <cstddef>
#include <cstdint>

#include "rtsp/message_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t at = 0;
    while (at < size) {
        rtsp::ParseResult r = rtsp::ParseNext(data + at, size - at);
        if (r.kind == rtsp::ParseKind::kError) break;
        if (r.kind == rtsp::ParseKind::kInterleaved) {
            if (r.packet_length > 0) {
                volatile uint8_t last = r.packet[r.packet_length - 1];
                (void)last;
            }
        } else if (r.kind == rtsp::ParseKind::kMessage) {
            (void)r.message.CSeq();
            (void)r.message.Header("Session");
            (void)r.message.Header("Content-Base");
        }
        if (r.consumed == 0) break;
        at += r.consumed;
    }
    return 0;
}
