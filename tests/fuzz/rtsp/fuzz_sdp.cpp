// A DESCRIBE body through the decoder and everything the session takes from it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "rtspstream/control_urls.h"
#include "rtspstream/media_table.h"
#include "rtspstream/rtsp_client_session.h"
#include "rtspstream/stream_formats.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    rtsp::SdpDecodeResult r = rtsp::DecodeSdp(text);
    for (rtsp::SessionDescription& d : r.descriptions) {
        rtspstream::ResolveControlUrls(d, "rtsp://127.0.0.1/x");
        rtspstream::MediaTable table;
        if (!rtspstream::ClassifyMedia(d.media, table)) continue;
        for (size_t i = 0; i <= table.Video().size(); ++i) {
            avs::AvsSequenceHeader header;
            rtspstream::GetVideoHeader(table, i, header);
            (void)table.VideoClockRate(i);
        }
        for (size_t i = 0; i <= table.Audio().size(); ++i) {
            (void)rtspstream::GetAudioFormat(table, i);
            (void)table.AudioClockRate(i);
        }
        for (int pt = 0; pt < 128; pt += 7) (void)table.FindByPayloadType(pt);
    }
    rtspstream::RtspClientSession session;
    if (session.LoadDescription(text, "rtsp://h/")) (void)session.Duration();
    return 0;
}
