#include "lame_stream.h"

#include <algorithm>
#include <cmath>

#include "config_mapping.h"

namespace lame_enc {

BE_ERR LameStream::Open(const BE_CONFIG& config, std::unique_ptr<LameStream>& stream) {
    lame_global_flags* gfp = lame_init();
    if (gfp == nullptr) return BE_ERR_NO_MORE_HANDLES;
    std::unique_ptr<LameStream> s(new LameStream(gfp));
    // libmp3lame reports through stderr by default; this module speaks only through results.
    lame_set_errorf(gfp, [](const char*, va_list) {});
    lame_set_debugf(gfp, [](const char*, va_list) {});
    lame_set_msgf(gfp, [](const char*, va_list) {});

    if (BE_ERR err = ApplyConfig(config, gfp); err != BE_ERR_SUCCESSFUL) return err;
    if (lame_init_params(gfp) < 0) return BE_ERR_INVALID_FORMAT_PARAMETERS;

    s->channels_ = lame_get_num_channels(gfp);
    s->writes_tag_ = lame_get_bWriteVbrTag(gfp) != 0;
    s->samples_per_chunk_ = static_cast<std::uint32_t>(lame_get_framesize(gfp)) *
                            static_cast<std::uint32_t>(s->channels_);
    // libmp3lame's worst case for one call is 1.25 x samples per channel + 7200 bytes, counted
    // at the output rate; upsampling makes more output samples than went in.
    const double in_rate = lame_get_in_samplerate(gfp);
    const double out_rate = lame_get_out_samplerate(gfp);
    const double per_channel = lame_get_framesize(gfp) * std::max(1.0, out_rate / in_rate);
    s->buffer_size_ = static_cast<std::uint32_t>(std::ceil(1.25 * per_channel)) + 7200;
    stream = std::move(s);
    return BE_ERR_SUCCESSFUL;
}

LameStream::~LameStream() {
    lame_close(gfp_);
}

BE_ERR LameStream::Encode(std::uint32_t count, const short* samples, unsigned char* out,
                          std::uint32_t* written) {
    if (written == nullptr || out == nullptr) return BE_ERR_INVALID_FORMAT_PARAMETERS;
    *written = 0;
    if (flushed_) return BE_ERR_INVALID_HANDLE;
    // The caller's buffer was sized for at most one chunk; more could overrun it.
    if (count > samples_per_chunk_) return BE_ERR_BUFFER_TOO_SMALL;
    if (count == 0) return BE_ERR_SUCCESSFUL;
    if (samples == nullptr) return BE_ERR_INVALID_FORMAT_PARAMETERS;
    const int per_channel = static_cast<int>(count) / channels_;
    // libmp3lame does not write through its input pointers despite their type.
    short* pcm = const_cast<short*>(samples);
    const int n = channels_ == 1 ? lame_encode_buffer(gfp_, pcm, pcm, per_channel, out,
                                                      static_cast<int>(buffer_size_))
                                 : lame_encode_buffer_interleaved(gfp_, pcm, per_channel, out,
                                                                  static_cast<int>(buffer_size_));
    if (n < 0) return n == -1 ? BE_ERR_BUFFER_TOO_SMALL : BE_ERR_INVALID_FORMAT_PARAMETERS;
    *written = static_cast<std::uint32_t>(n);
    return BE_ERR_SUCCESSFUL;
}

BE_ERR LameStream::Flush(unsigned char* out, std::uint32_t* written) {
    if (written == nullptr || out == nullptr) return BE_ERR_INVALID_FORMAT_PARAMETERS;
    *written = 0;
    if (flushed_) return BE_ERR_SUCCESSFUL;
    const int n = lame_encode_flush(gfp_, out, static_cast<int>(buffer_size_));
    if (n < 0) return BE_ERR_BUFFER_TOO_SMALL;
    *written = static_cast<std::uint32_t>(n);
    flushed_ = true;
    if (writes_tag_) {
        unsigned char frame[2880];  // the largest layer III frame
        const size_t size = lame_get_lametag_frame(gfp_, frame, sizeof frame);
        if (size > 0 && size <= sizeof frame) tag_frame_.assign(frame, frame + size);
    }
    return BE_ERR_SUCCESSFUL;
}

}  // namespace lame_enc
