// Counts what the end-to-end checks compare between stages: the pictures of an AVS1-P2
// elementary stream (by picture header, so nothing depends on a decoder) and every frame
// of an MPEG audio stream, including an Info/Xing header frame, which FFmpeg's MP3
// demuxer hides but a transport stream or container carries like any other frame.
//
//   media_count avs FILE   ->  pictures=N i=N p=N b=N width=W height=H
//   media_count mp3 FILE   ->  frames=N samples=N sample_rate=R
#include <cstdio>
#include <cstring>
#include <vector>

#include "avs/byte_source.h"
#include "avs/picture_splitter.h"
#include "avs/sequence_header.h"
#include "avs/unit_reader.h"
#include "mux/mpeg_audio_reader.h"

namespace {

int CountAvs(std::FILE* in) {
    avs::FileByteSource source(in);
    avs::AvsUnitReader reader(source);
    avs::AvsPictureSplitter pictures(reader);
    std::vector<uint8_t> picture;
    long total = 0, intra = 0, predicted = 0, bidir = 0;
    avs::AvsSequenceHeader header{};
    bool have_header = false;
    avs::AvsUnitType type{};
    while (pictures.Next(picture, &type)) {
        if (type == avs::AvsUnitType::kNone) break;
        ++total;
        // Pictures are whole units: an I header is 00 00 01 B3, P and B share B6 and
        // differ in the picture_coding_type bits after the 16-bit bbv_delay.
        if (!have_header && picture.size() > 4 && picture[3] == 0xB0)
            have_header = avs::decode_sequence_header(picture.data(), picture.size(), header) ==
                          avs::DecodeResult::kOk;
        for (size_t i = 0; i + 6 < picture.size(); ++i) {
            if (picture[i] != 0 || picture[i + 1] != 0 || picture[i + 2] != 1) continue;
            if (picture[i + 3] == 0xB3) {
                ++intra;
                break;
            }
            if (picture[i + 3] == 0xB6) {
                int coding_type = picture[i + 6] >> 6;
                (coding_type == 2 ? bidir : predicted)++;
                break;
            }
        }
    }
    std::printf("pictures=%ld i=%ld p=%ld b=%ld width=%d height=%d\n", total, intra, predicted,
                bidir, have_header ? static_cast<int>(header.horizontal_size) : 0,
                have_header ? static_cast<int>(header.vertical_size) : 0);
    return total > 0 ? 0 : 1;
}

int CountMp3(std::FILE* in) {
    mux::MpegAudioReader reader(in, stderr);
    mux::MpegAudioProbe probe;
    if (!reader.probe_header(probe)) {
        std::printf("frames=0 samples=0 sample_rate=0\n");
        return 1;
    }
    std::vector<uint8_t> frame(8192);
    long frames = 0;
    for (;;) {
        uint32_t length = static_cast<uint32_t>(frame.size());
        if (!reader.read_frame(frame.data(), length)) break;
        ++frames;
    }
    std::printf("frames=%ld samples=%ld sample_rate=%d\n", frames,
                frames * static_cast<long>(probe.samples_per_frame),
                static_cast<int>(probe.sample_rate));
    return frames > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[1], "avs") != 0 && std::strcmp(argv[1], "mp3") != 0)) {
        std::fprintf(stderr, "usage: media_count avs|mp3 FILE\n");
        return 2;
    }
    std::FILE* in = std::fopen(argv[2], "rb");
    if (!in) {
        std::fprintf(stderr, "media_count: cannot open %s\n", argv[2]);
        return 1;
    }
    static char buffer[1 << 20];
    std::setvbuf(in, buffer, _IOFBF, sizeof buffer);
    int rc = std::strcmp(argv[1], "avs") == 0 ? CountAvs(in) : CountMp3(in);
    std::fclose(in);
    return rc;
}
