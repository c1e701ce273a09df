#include "mp3encoder/encoding_run.h"

#include <string>

#include "files/files.h"
#include "mp3encoder/chunk_encoder.h"
#include "mp3encoder/encoder_config.h"
#include "mp3encoder/encoding_engine.h"
#include "mp3encoder/error_log.h"
#include "mp3encoder/lame_library.h"
#include "mp3encoder/progress_line.h"

namespace quenby {
namespace {

bool SameFile(const std::string& a, const std::string& b) {
    avs::files::FileIdentity ia, ib;
    return avs::files::IdentifyPath(a, true, ia) && avs::files::IdentifyPath(b, true, ib) &&
           avs::files::SameIdentity(ia, ib);
}

// The MP3 file while the run writes it. A run that fails removes it again, so that no empty
// or partial MP3 is left for the next stage to take as finished; only a regular file this run
// created or truncated goes, never a device or pipe named as the output.
class OutputFile {
  public:
    explicit OutputFile(const std::string& path) : path_(path) {}
    ~OutputFile() {
        if (file_ != nullptr) std::fclose(file_);
        avs::files::FileIdentity now;
        if (!kept_ && removable_ && avs::files::IdentifyPath(path_, false, now) &&
            avs::files::SameIdentity(now, opened_))
            avs::files::RemoveFile(path_);
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool Open() {
        file_ = avs::files::OpenStream(path_, "wb");
        if (file_ == nullptr) return false;
        removable_ = avs::files::IdentifyStream(file_, opened_) && opened_.regular;
        return true;
    }
    FILE* Get() const { return file_; }
    bool Close() {
        const bool ok = std::fclose(file_) == 0;
        file_ = nullptr;
        return ok;
    }
    void Keep() { kept_ = true; }

  private:
    std::string path_;
    FILE* file_ = nullptr;
    avs::files::FileIdentity opened_;
    bool removable_ = false;
    bool kept_ = false;
};

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
        lame.init_stream(&setup.config, &samples_per_chunk, &mp3_buffer_size, &stream);
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
    OutputFile mp3(settings.output_path);
    if (!mp3.Open()) {
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
    EncodingEngine engine(params, encoder, mp3.Get(), out);

    if (!env.graph.RunToCompletion(engine)) return Fail(out, "Could not run the filter graph\r\n");
    // An MP3 of no frames is not a file players or the multiplexer can open.
    if (engine.SourceFrames() == 0 && !engine.Failed())
        return Fail(out, "The input file holds no audio samples\r\n");
    const bool finished = engine.Finish();
    encoder.Close();
    const bool closed = mp3.Close();
    if (engine.WriteFailed() || !closed) return Fail(out, "Could not write the output file\r\n");
    // An encoder failure has been reported where it happened; the file is incomplete.
    if (!finished) return -1;

    // The encoder left a placeholder frame at the start of the file; now that every frame is
    // known it becomes the VBR/Info header that gives players the exact length.
    lame.write_vbr_header(settings.output_path.c_str());
    mp3.Keep();

    WriteFinalProgress(out);
    std::fputs("\nMission completed!\r\n", out);
    std::fflush(out);
    return 0;
}

}  // namespace quenby
