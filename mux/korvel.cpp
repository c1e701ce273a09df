#include "mux/korvel.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "avs/avs.h"
#include "files/files.h"
#include "mux/mpeg_audio_reader.h"
#include "mux/ts_writer.h"

namespace mux {

namespace {

constexpr const char* kUsage =
    "Usage: Korvel.exe VideoFile.avs AudioFile.mp3 TimeStamp.dat TSFile.ts\n";
constexpr uint32_t kAudioBufferSize = 8192;
// Few system calls: the audio is read through a large stream buffer; the video reader
// reads 256 KB pieces and the TS writer writes 1 MB pieces, which bypass the small
// stream buffers of those two files.
constexpr size_t kAudioStreamBuffer = 1 << 20;
constexpr size_t kSmallStreamBuffer = 1 << 16;
constexpr size_t kTsWriteSize = 1 << 20;
constexpr const char* kPsiWriteFailed = "can't write PAT/PMT\n";
// Memory stays bounded whatever the input: units are read in pieces of at most this size,
// and an access unit that grows beyond it is written out as it is read.
constexpr uint32_t kUnitPiece = 2 << 20;
constexpr size_t kAccessUnitHeld = 2 << 20;

// A C stream with a buffer of our own size (glibc ignores the size when it allocates the
// buffer itself), closed before the buffer is freed.
class File {
  public:
    File(const char* path, const char* mode, size_t buffer_size)
        : f_(avs::files::OpenStream(path, mode)) {
        if (f_) {
            buffer_ = std::make_unique<char[]>(buffer_size);
            std::setvbuf(f_, buffer_.get(), _IOFBF, buffer_size);
        }
    }
    ~File() {
        if (f_) std::fclose(f_);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    explicit operator bool() const { return f_ != nullptr; }
    std::FILE* Get() const { return f_; }

  private:
    std::FILE* f_;
    std::unique_ptr<char[]> buffer_;
};

// The four open files and what the run has learnt so far.
class Multiplexer {
  public:
    Multiplexer(std::FILE* video, std::FILE* audio, std::FILE* stamps, std::FILE* ts,
                std::FILE* err)
        : video_file_(video),
          stamps_(stamps),
          ts_file_(ts),
          err_(err),
          video_source_(video),
          reader_(video_source_, kUnitPiece),
          audio_(audio, err),
          ts_(ts, kTsWriteSize) {}

    // Finds and decodes the first sequence header; false ends the run (exit code 0).
    bool FindSequenceHeader();
    // Checks the audio input; false ends the run (exit code 0).
    bool ValidateAudio();
    // Writes PAT and PMT, interleaves both inputs to the end and flushes; returns the exit
    // code.
    int Run();

  private:
    // False when a write failed (and was reported).
    bool Interleave();
    bool WriteAccessUnit(avs::AvsUnitType last_collected);
    // Writes the bytes collected so far as the start or the next part of the access unit's
    // PES packet; `type` is that of the last unit collected.
    bool WriteAccessUnitPart(avs::AvsUnitType type);
    int64_t ReadTimeStampOr(int64_t current);

    std::FILE* video_file_;
    std::FILE* stamps_;
    std::FILE* ts_file_;
    std::FILE* err_;
    avs::FileByteSource video_source_;
    avs::AvsUnitReader reader_;
    MpegAudioReader audio_;
    TsWriter ts_;
    avs::AvsSequenceHeader header_;
    MpegAudioProbe probe_;
    int32_t audio_frame_duration_ = 0;

    // The access unit being collected stays in the reader's buffer (retained there) rather
    // than being copied out; this counts its bytes.
    size_t access_unit_length_ = 0;
    // The access unit's PES packet is under way (its first parts written), with this PTS.
    bool pes_open_ = false;
    bool stamp_taken_ = false;
    int64_t open_pts_ = 0;
    int64_t video_pts_ = 0;
    uint32_t video_frame_number_ = 1;
    // For a failure found only when the last buffered bytes reach the file.
    const char* last_kind_ = nullptr;
    uint32_t last_frame_number_ = 0;
};

bool Multiplexer::FindSequenceHeader() {
    for (;;) {
        if (!avs::read_next_unit(reader_)) {
            std::fputs("Could not find avs parameter header\n", err_);
            return false;
        }
        if (!reader_.ContinuesUnit() && avs::classify_unit(reader_.Data(), reader_.UnitLength()) ==
                                            avs::AvsUnitType::kSequenceHeader)
            break;
    }
    avs::DecodeResult r =
        avs::decode_sequence_header(reader_.Data(), reader_.UnitLength(), header_);
    if (r == avs::DecodeResult::kBadFrameRate) return false;  // ends silently
    if (r != avs::DecodeResult::kOk) {
        std::fputs("Could not decode avs Sequence header\n", err_);
        return false;
    }
    std::rewind(video_file_);
    reader_.Reset();
    return true;
}

bool Multiplexer::ValidateAudio() {
    int layer = 0;
    if (!audio_.probe_layer(layer)) {
        std::fputs("data in file doesn't appear to be MPEG audio\n", err_);
        return false;
    }
    if (layer == 0) {
        std::fputs("data in file appears to be AAC audio, use .aac extension\n", err_);
        return false;
    }
    if (!audio_.probe_header(probe_) || audio_object_type(probe_.version) == 0 ||
        probe_.sample_rate == 0) {
        std::fputs("data in file doesn't appear to be valid audio\n", err_);
        return false;
    }
    audio_frame_duration_ = AudioFrameDurationFor(probe_.samples_per_frame, probe_.sample_rate);
    ts_.SetPsiPeriod(PsiPeriodFor(header_.bit_rate, probe_.bit_rate_kbps));
    return true;
}

int64_t Multiplexer::ReadTimeStampOr(int64_t current) {
    uint8_t b[4];
    if (std::fread(b, 1, 4, stamps_) != 4) return current;  // a short file keeps the last
    int32_t ms = static_cast<int32_t>(static_cast<uint32_t>(b[0]) | (uint32_t{b[1]} << 8) |
                                      (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24));
    return int64_t{ms} * 90;  // 64 bits: no overflow after 6.6 hours
}

bool Multiplexer::WriteAccessUnitPart(avs::AvsUnitType type) {
    if (!pes_open_) {
        // A unit that is a picture header or a slice ends, with any slices after it, as a
        // picture, so its time stamp is due now. Any other unit keeps the last PTS (a
        // slice that joins it later still takes its time stamp, for the pictures after).
        stamp_taken_ = avs::IsPictureOrSlice(type);
        open_pts_ = stamp_taken_ ? ReadTimeStampOr(video_pts_) : video_pts_;
        ts_.BeginPes(StreamKind::kVideo, open_pts_);
        pes_open_ = true;
    }
    size_t length = std::min(access_unit_length_, reader_.RetainedLength());
    if (!ts_.AddPesPayload(reader_.Retained(), length)) {
        std::fprintf(err_, "can't write video frame %u\n", video_frame_number_);
        return false;
    }
    access_unit_length_ = 0;
    reader_.Release();
    return true;
}

bool Multiplexer::WriteAccessUnit(avs::AvsUnitType last_collected) {
    if (pes_open_) {
        // The PTS went out with the first part; audio waits for video_pts_, set only now.
        if (!WriteAccessUnitPart(last_collected)) return false;
        if (!ts_.EndPes()) {
            std::fprintf(err_, "can't write video frame %u\n", video_frame_number_);
            return false;
        }
        pes_open_ = false;
        video_pts_ = open_pts_;
        if (!stamp_taken_ && avs::IsPictureOrSlice(last_collected))
            video_pts_ = ReadTimeStampOr(video_pts_);
        last_kind_ = "video";
        last_frame_number_ = video_frame_number_;
        ++video_frame_number_;
        return true;
    }
    if (avs::IsPictureOrSlice(last_collected)) video_pts_ = ReadTimeStampOr(video_pts_);
    // Units follow each other in the stream, so the retained bytes are the units collected.
    size_t length = std::min(access_unit_length_, reader_.RetainedLength());
    if (!ts_.write_pes(reader_.Retained(), length, StreamKind::kVideo, video_pts_)) {
        std::fprintf(err_, "can't write video frame %u\n", video_frame_number_);
        return false;
    }
    last_kind_ = "video";
    last_frame_number_ = video_frame_number_;
    ++video_frame_number_;
    access_unit_length_ = 0;
    reader_.Release();
    return true;
}

int Multiplexer::Run() {
    if (!ts_.write_pat() || !ts_.write_pmt()) {
        std::fputs(kPsiWriteFailed, err_);
        return 1;
    }
    if (!Interleave()) return 0;

    // Buffered packets reach the file only now; a failure here lost the last frame, or the
    // tables when no frame was written.
    bool written = ts_.Flush();
    if (std::fflush(ts_file_) == 0 && written) return 0;
    if (last_kind_ == nullptr) {
        std::fputs(kPsiWriteFailed, err_);
        return 1;
    }
    std::fprintf(err_, "can't write %s frame %u\n", last_kind_, last_frame_number_);
    return 0;
}

bool Multiplexer::Interleave() {
    avs::AvsPictureState state;
    bool first_unit = true;
    int64_t next_audio_pts = 0;
    uint32_t audio_frame_number = 1;
    uint8_t audio_frame[kAudioBufferSize];
    uint32_t audio_length = kAudioBufferSize;

    bool have_video = avs::read_next_unit(reader_);
    bool have_audio = audio_.read_frame(audio_frame, audio_length);
    while (have_video || have_audio) {
        if (have_audio && (!have_video || next_audio_pts <= video_pts_)) {
            if (!ts_.write_pes(audio_frame, audio_length, StreamKind::kAudio, next_audio_pts)) {
                std::fprintf(err_, "can't write audio frame %u\n", audio_frame_number);
                return false;
            }
            last_kind_ = "audio";
            last_frame_number_ = audio_frame_number;
            ++audio_frame_number;
            audio_length = kAudioBufferSize;
            have_audio = audio_.read_frame(audio_frame, audio_length);
            next_audio_pts += audio_frame_duration_;
            continue;
        }
        // The rest of a unit cut at the piece size belongs to the unit before it.
        if (!reader_.ContinuesUnit()) {
            state.previous_type = state.type;
            avs::UnitResult r = avs::examine_unit(reader_.Data(), reader_.UnitLength(), state);
            if (r == avs::UnitResult::kBadFrameRate) return true;  // ends silently, output kept
            if (r != avs::UnitResult::kContinues && !first_unit &&
                (access_unit_length_ > 0 || pes_open_)) {
                if (!WriteAccessUnit(state.previous_type)) return false;
            }
        }
        first_unit = false;
        if (access_unit_length_ == 0) reader_.Retain();
        access_unit_length_ += reader_.UnitLength();
        have_video = avs::read_next_unit(reader_);
        if (access_unit_length_ >= kAccessUnitHeld && !WriteAccessUnitPart(state.type))
            return false;
        // The rest of the audio would otherwise go out inside the video PES packet under way;
        // held whole, the last access unit came after it.
        if (!have_video && pes_open_ && !WriteAccessUnit(state.type)) return false;
    }
    return (access_unit_length_ == 0 && !pes_open_) || WriteAccessUnit(state.type);
}

// By identity (device and file number), so links and other spellings of a path count.
bool SameFile(const char* a, const char* b) {
    std::error_code ec;
    return std::filesystem::equivalent(avs::files::Utf8Path(a), avs::files::Utf8Path(b), ec) && !ec;
}

}  // namespace

int32_t PsiPeriodFor(int32_t video_bit_rate, int audio_kbps) {
    int64_t r = int64_t{video_bit_rate} + audio_kbps;
    if (r <= 8192) r = 8192;
    return static_cast<int32_t>(r * 500 / 1504);
}

int32_t AudioFrameDurationFor(int samples_per_frame, int sample_rate) {
    return sample_rate > 0 ? samples_per_frame * 90000 / sample_rate : 0;
}

int RunKorvel(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    if (argc != 5) {
        std::fputs(kUsage, out);
        std::fflush(out);
        if (argc < 5) return 1;
    }
    File video(argv[1], "rb", kSmallStreamBuffer);
    if (!video) {
        std::fputs("Open video file failed\n", err);
        return 1;
    }
    File audio(argv[2], "rb", kAudioStreamBuffer);
    if (!audio) {
        std::fputs("Open audio file failed\n", err);
        return 1;
    }
    File stamps(argv[3], "rb", kSmallStreamBuffer);
    if (!stamps) {
        std::fputs("Open TimeStamp file failed\n", err);
        return 1;
    }
    // Creating the output truncates it, so an input named as the output (under any path that
    // leads to the same file) would be lost before a byte of it was read.
    const char* const input_kinds[] = {"video", "audio", "TimeStamp"};
    for (int i = 0; i < 3; ++i) {
        if (SameFile(argv[i + 1], argv[4])) {
            std::fprintf(err, "TS file is the same file as the %s file\n", input_kinds[i]);
            return 1;
        }
    }
    File ts(argv[4], "wb", kSmallStreamBuffer);
    if (!ts) {
        std::fputs("Create TS file failed\n", err);
        return 1;
    }
    auto mux = std::make_unique<Multiplexer>(video.Get(), audio.Get(), stamps.Get(), ts.Get(), err);
    if (!mux->FindSequenceHeader() || !mux->ValidateAudio()) return 0;
    return mux->Run();
}

}  // namespace mux
