#include "encoding_run.h"

#include <sys/stat.h>

#include <memory>

#include "chunk_encoder.h"
#include "encoder_config.h"
#include "encoding_engine.h"
#include "error_log.h"
#include "lame_library.h"
#include "progress_line.h"

namespace quenby {
namespace {

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

int Fail(FILE* console, const char* message) {
    std::fputs(message, console);
    std::fflush(console);
    return -1;
}

}  // namespace

int RunEncoding(const RunSettings& settings, RunEnvironment& env) {
    FILE* out = env.console;
    const SourceInspection inspection = env.inspector.Inspect(settings.input_path, out);
    // Without a video stream the progress follows the source's own length.
    const double progress_length = inspection.has_video && inspection.video_length > 0
                                       ? inspection.video_length
                                       : inspection.media_length;

    switch (env.graph.Build(settings.input_path)) {
        case GraphBuildResult::kOk:
            break;
        case GraphBuildResult::kSourceNotFound:
            return Fail(out, "Could not find the input file\r\n");
        case GraphBuildResult::kPinsNotEnumerable:
            return Fail(out, "Could not Enumerate Pins of Source filter\r\n");
        case GraphBuildResult::kNotConnected:
            Fail(out, "Could not connect source filter to grabber\r\n");
            AppendErrorLog(settings.input_path);
            return -1;
    }
    const PcmFormat pcm = env.graph.ConnectedFormat();

    LameLibrary lame;
    switch (lame.Load(env.lame_modules)) {
        case LameLibrary::LoadResult::kOk:
            break;
        case LameLibrary::LoadResult::kNotLoaded:
            return Fail(out, "Error loading lame_enc.DLL\r\n");
        case LameLibrary::LoadResult::kMissingExports:
            return Fail(out, "Unable to get LAME interfaces\r\n");
    }

    EncoderSetup setup = MakeEncoderSetup(settings, pcm.channels, pcm.sample_rate);
    blade::BE_DWORD samples_per_chunk = 0, mp3_buffer_size = 0;
    HBE_STREAM stream = 0;
    const BE_ERR init =
        lame.InitStream(&setup.config, &samples_per_chunk, &mp3_buffer_size, &stream);
    if (init != BE_ERR_SUCCESSFUL) {
        std::fprintf(out, "Error opening encoding stream (%lu)\r\n", init);
        std::fflush(out);
        return -1;
    }
    BladeChunkEncoder encoder(lame, stream);

    // Truncating the source while it is being read would destroy it.
    if (SameFile(settings.input_path, settings.output_path)) {
        std::fprintf(out, "The output file %s is the input file\r\n", settings.output_path.c_str());
        std::fflush(out);
        return -1;
    }
    std::unique_ptr<FILE, int (*)(FILE*)> mp3(std::fopen(settings.output_path.c_str(), "wb"),
                                              &std::fclose);
    if (!mp3) {
        std::fprintf(out, "Could not create the output file %s\r\n", settings.output_path.c_str());
        std::fflush(out);
        return -1;
    }
    std::fprintf(out, "InputFile: %s\r\n", settings.input_path.c_str());
    std::fprintf(out, "OutputFile: %s\r\n", settings.output_path.c_str());
    std::fprintf(out, "BitRate: %d\r\n", static_cast<int>(settings.bitrate));
    std::fprintf(out, "Encoding, please wait...\r\n");
    std::fflush(out);

    if (!env.graph.RemoveClock()) return Fail(out, "Could not SetSyncSource pMediaFilter\r\n");

    EngineParams params;
    params.source_channels = pcm.channels;
    params.source_rate = pcm.sample_rate;
    params.encoder_channels = setup.encoder_channels;
    params.samples_per_chunk = samples_per_chunk;
    params.mp3_buffer_size = mp3_buffer_size;
    params.gain = setup.gain;
    params.progress_length = progress_length;
    EncodingEngine engine(params, encoder, mp3.get(), out);

    if (!env.graph.RunToCompletion(engine)) return Fail(out, "Could not run the filter graph\r\n");
    const bool finished = engine.Finish();
    encoder.Close();
    const bool closed = std::fclose(mp3.release()) == 0;
    if (engine.write_failed() || !closed) return Fail(out, "Could not write the output file\r\n");
    // An encoder failure has been reported where it happened; the file is incomplete.
    if (!finished) return -1;

    // The encoder left a placeholder frame at the start of the file; now that every frame is
    // known it becomes the VBR/Info header that gives players the exact length.
    lame.WriteVBRHeader(settings.output_path.c_str());

    WriteFinalProgress(out);
    std::fputs("\nMission completed!\r\n", out);
    std::fflush(out);
    return 0;
}

}  // namespace quenby
