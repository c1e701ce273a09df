// blade_encode MODULE PCM_FILE MP3_FILE RATE CHANNELS BITRATE [VBR_MAX [RESAMPLE]]
// Encodes raw 16-bit little-endian PCM through the BladeEnc-style exports of MODULE, with the
// encoder record Quenby fills for the same settings, chunk by chunk as Quenby hands them
// over; then writes the VBR/Info header. The same source builds on Linux and for Windows, so
// the two builds of the lame_enc module can be compared on the same input.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "files/files.h"
#include "mp3encoder/encoder_config.h"
#include "mp3encoder/lame_library.h"

int main(int argc, char** argv) {
    if (argc < 7) {
        std::fprintf(stderr,
                     "usage: blade_encode MODULE PCM MP3 RATE CHANNELS BITRATE [VBR_MAX "
                     "[RESAMPLE]]\n");
        return 2;
    }
    quenby::RunSettings settings;
    const auto rate = static_cast<unsigned>(std::atoi(argv[4]));
    const auto channels = static_cast<unsigned>(std::atoi(argv[5]));
    settings.bitrate = static_cast<unsigned>(std::atoi(argv[6]));
    if (argc > 7) settings.vbr_bitrate = static_cast<unsigned>(std::atoi(argv[7]));
    if (argc > 8) settings.sample_rate = static_cast<unsigned>(std::atoi(argv[8]));

    quenby::LameLibrary lame;
    if (lame.Load({argv[1]}) != quenby::LameLibrary::LoadResult::kOk) {
        std::fprintf(stderr, "blade_encode: cannot load %s\n", argv[1]);
        return 1;
    }
    quenby::EncoderSetup setup = quenby::MakeEncoderSetup(settings, channels, rate);
    blade::BE_DWORD samples = 0, buffer_size = 0;
    HBE_STREAM stream = 0;
    if (BE_ERR err = lame.init_stream(&setup.config, &samples, &buffer_size, &stream)) {
        std::fprintf(stderr, "blade_encode: beInitStream: %lu\n", err);
        return 1;
    }
    std::FILE* in = avs::files::OpenStream(argv[2], "rb");
    std::FILE* out = avs::files::OpenStream(argv[3], "wb");
    if (in == nullptr || out == nullptr) {
        std::fprintf(stderr, "blade_encode: cannot open the files\n");
        return 1;
    }
    std::vector<short> pcm(samples);
    std::vector<unsigned char> mp3(buffer_size);
    for (;;) {
        const size_t got = std::fread(pcm.data(), sizeof(short), pcm.size(), in);
        if (got == 0) break;
        blade::BE_DWORD written = 0;
        if (BE_ERR err = lame.encode_chunk(stream, static_cast<blade::BE_DWORD>(got), pcm.data(),
                                           mp3.data(), &written)) {
            std::fprintf(stderr, "blade_encode: beEncodeChunk: %lu\n", err);
            return 1;
        }
        std::fwrite(mp3.data(), 1, written, out);
    }
    blade::BE_DWORD written = 0;
    if (BE_ERR err = lame.deinit_stream(stream, mp3.data(), &written)) {
        std::fprintf(stderr, "blade_encode: beDeinitStream: %lu\n", err);
        return 1;
    }
    std::fwrite(mp3.data(), 1, written, out);
    lame.close_stream(stream);
    std::fclose(in);
    if (std::fclose(out) != 0) return 1;
    if (BE_ERR err = lame.write_vbr_header(argv[3])) {
        std::fprintf(stderr, "blade_encode: beWriteVBRHeader: %lu\n", err);
        return 1;
    }
    return 0;
}
