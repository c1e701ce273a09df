#include "tools/lindqvale/lindqvale.h"

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "files/files.h"
#include "tools/lindqvale/avs_sample_source.h"
#include "tools/lindqvale/container_video_source.h"
#include "tools/lindqvale/container_writer.h"
#include "tools/lindqvale/mp3_sample_source.h"

namespace lindqvale {

namespace {

const char* k_usage =
    "usage: Lindqvale IN.avs OUT.asm -f   create OUT.asm with the AVS video track\n"
    "       Lindqvale IN.mp3 OUT.asm      add the MP3 audio track to OUT.asm\n";

void PrintTrack(std::FILE* out, const char* what, const WrittenTrack& t) {
    std::fprintf(out, "%s: %llu samples, %.3f s\n", what,
                 static_cast<unsigned long long>(t.samples), double(t.duration) / t.timescale);
}

}  // namespace

int Run(int argc, char** argv, std::FILE* out, std::FILE* err) {
    std::vector<std::string> paths;
    bool create = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            std::fputs(k_usage, out);
            return 0;
        }
        if (std::strcmp(argv[i], "-f") == 0)
            create = true;
        else
            paths.push_back(argv[i]);
    }
    if (paths.size() != 2) {
        std::fputs(k_usage, err);
        return 2;
    }
    const std::string& input = paths[0];
    const std::string& output = paths[1];
    namespace fs = std::filesystem;
    std::error_code ec;
    // By identity, so a link or another spelling of the input is caught too: the container
    // would replace the input it is made from.
    if (fs::equivalent(avs::files::Utf8Path(input), avs::files::Utf8Path(output), ec) && !ec) {
        std::fprintf(err, "Lindqvale: output %s is the input itself\n", output.c_str());
        return 1;
    }
    // The audio step reads the container back from the output, which a FIFO or a device
    // cannot give.
    const fs::file_status target = fs::status(avs::files::Utf8Path(output), ec);
    if (!create && fs::exists(target) && !fs::is_regular_file(target)) {
        std::fprintf(
            err,
            "Lindqvale: %s is not a regular file; the audio step reads the container from it\n",
            output.c_str());
        return 1;
    }
    try {
        if (create) {
            AvsSampleSource video(input);
            auto written = WriteContainer(output, {&video});
            PrintTrack(out, "video", written[0]);
        } else {
            // Everything is read from the old container before it is replaced.
            auto video = std::make_unique<ContainerVideoSource>(output);
            Mp3SampleSource audio(input);
            auto written = WriteContainer(output, {video.get(), &audio});
            PrintTrack(out, "video", written[0]);
            PrintTrack(out, "audio", written[1]);
        }
    } catch (const std::exception& e) {
        std::fprintf(err, "Lindqvale: %s\n", e.what());
        return 1;
    }
    return 0;
}

}  // namespace lindqvale
