#include "tools/lindqvale/mp3_sample_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "files/files.h"
#include "mux/mpeg_audio_header.h"

namespace lindqvale {

namespace {
constexpr size_t kChunk = 1 << 16;

uint32_t Be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

bool Layer3Header(uint32_t raw, mux::MpegAudioHeader& h) {
    if ((raw & 0xFFE00000) != 0xFFE00000) return false;
    h = mux::ParseMpegAudioHeader(raw);
    return h.version != mux::kMpegReservedVersion && h.layer != 0 && mux::BitRateKbps(h) != 0 &&
           mux::SampleRateHz(h) != 0;
}
}  // namespace

Mp3SampleSource::Mp3SampleSource(const std::string& path) : path_(path) {
    file_ = avs::files::OpenStream(path, "rb");
    if (!file_) throw LindqvaleError("cannot open " + path + ": " + avs::files::LastErrorText());
    buffer_.resize(kChunk * 2);
    SkipId3v2();

    // Lock on: a frame header followed by two more of the same kind (or the
    // end), so that stray sync patterns in other data are not taken for MP3.
    for (;;) {
        if (!Fill(4)) throw LindqvaleError(path + ": no MPEG audio frame found");
        mux::MpegAudioHeader h;
        if (Layer3Header(Be32(&buffer_[pos_]), h) && FramesFollow(h)) {
            if (h.layer != 1)
                throw LindqvaleError(path + ": MPEG audio layer " + (h.layer == 2 ? "II" : "I") +
                                     ", not MP3 (layer III)");
            version_ = h.version;
            sample_rate_ = static_cast<uint32_t>(mux::SampleRateHz(h));
            samples_per_frame_ = static_cast<uint32_t>(mux::SamplesPerFrame(h));
            channels_ = ((h.raw >> 6) & 3) == 3 ? 1 : 2;
            break;
        }
        ++pos_;
        ++dropped_;
    }
}

bool Mp3SampleSource::FramesFollow(const mux::MpegAudioHeader& first) {
    size_t at = 0;  // from pos_
    mux::MpegAudioHeader h = first;
    for (int i = 0; i < 2; ++i) {
        at += mux::FrameLength(h);
        if (!Fill(at + 4)) return true;  // the stream ends here
        mux::MpegAudioHeader next;
        if (!Layer3Header(Be32(&buffer_[pos_ + at]), next) || next.version != first.version ||
            next.layer != first.layer || next.sample_rate_index != first.sample_rate_index)
            return false;
        h = next;
    }
    return true;
}

Mp3SampleSource::~Mp3SampleSource() {
    if (file_) std::fclose(file_);
}

bool Mp3SampleSource::Fill(size_t n) {
    if (Available() >= n) return true;
    if (pos_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + pos_, Available());
        end_ -= pos_;
        pos_ = 0;
    }
    if (buffer_.size() < n) buffer_.resize(n + kChunk);
    while (!eof_ && end_ < buffer_.size()) {
        const size_t got = std::fread(buffer_.data() + end_, 1, buffer_.size() - end_, file_);
        end_ += got;
        if (got == 0) {
            if (std::ferror(file_)) throw LindqvaleError("cannot read " + path_);
            eof_ = true;
        }
    }
    return Available() >= n;
}

void Mp3SampleSource::SkipId3v2() {
    if (!Fill(10) || std::memcmp(&buffer_[pos_], "ID3", 3) != 0) return;
    const uint8_t* p = &buffer_[pos_];
    size_t size = size_t{p[6] & 0x7Fu} << 21 | size_t{p[7] & 0x7Fu} << 14 |
                  size_t{p[8] & 0x7Fu} << 7 | (p[9] & 0x7Fu);
    size += 10 + ((p[5] & 0x10) ? 10 : 0);
    while (size > 0) {
        if (!Fill(1)) return;
        const size_t step = std::min(size, Available());
        pos_ += step;
        size -= step;
    }
}

bool Mp3SampleSource::FrameAt(size_t at, uint32_t& length) const {
    if (end_ - at < 4) return false;
    mux::MpegAudioHeader h;
    if (!Layer3Header(Be32(&buffer_[at]), h)) return false;
    if (h.version != version_ || h.layer != 1 ||
        static_cast<uint32_t>(mux::SampleRateHz(h)) != sample_rate_)
        return false;
    length = mux::FrameLength(h);
    return length >= 4;
}

bool Mp3SampleSource::Next(Sample& out) {
    size_t skipped = 0;
    for (;;) {
        if (!Fill(4)) {
            dropped_ += Available();
            break;
        }
        // A trailing ID3v1 tag ends the stream.
        if (eof_ && Available() == 128 && std::memcmp(&buffer_[pos_], "TAG", 3) == 0) {
            pos_ = end_;
            break;
        }
        uint32_t length = 0;
        if (FrameAt(pos_, length)) {
            if (!Fill(length)) {
                if (frames_ == 0) break;
                std::fprintf(stderr,
                             "Lindqvale: warning: %s: the last frame is cut short, left out\n",
                             path_.c_str());
                pos_ = end_;
                break;
            }
            if (skipped)
                std::fprintf(stderr,
                             "Lindqvale: warning: %s: skipped %zu bytes that are no frame\n",
                             path_.c_str(), skipped);
            mux::MpegAudioHeader h = mux::ParseMpegAudioHeader(Be32(&buffer_[pos_]));
            out.bytes.assign(buffer_.begin() + pos_, buffer_.begin() + pos_ + length);
            out.duration = samples_per_frame_;
            out.sync = true;
            pos_ += length;
            ++frames_;
            total_bytes_ += length;
            max_frame_ = std::max(max_frame_, length);
            max_bitrate_ = std::max<uint32_t>(max_bitrate_, mux::BitRateKbps(h) * 1000u);
            return true;
        }
        ++pos_;
        ++skipped;
        ++dropped_;
    }
    if (skipped)
        std::fprintf(stderr, "Lindqvale: warning: %s: skipped %zu bytes that are no frame\n",
                     path_.c_str(), skipped);
    if (frames_ == 0) throw LindqvaleError(path_ + ": no complete MP3 frame");
    if (dropped_ > total_bytes_)
        throw LindqvaleError(path_ + ": mostly not MP3 frames (" + std::to_string(dropped_) +
                             " bytes skipped)");
    return false;
}

TrackDescription Mp3SampleSource::Description() const {
    TrackDescription d;
    d.handler = "soun";
    d.handler_name = "MP3 audio";
    d.timescale = sample_rate_;
    d.write_stss = false;

    BoxWriter w;
    const size_t entry = w.Open("mp4a");
    w.Zeros(6);
    w.U16(1);  // data reference index
    w.Zeros(8);
    w.U16(channels_);
    w.U16(16);
    w.U32(0);
    w.U32(sample_rate_ << 16);

    const size_t esds = w.OpenFull("esds", 0, 0);
    // ES_Descriptor { DecoderConfigDescriptor, SLConfigDescriptor } with
    // one-byte lengths: the contents are far below 128 bytes.
    w.U8(0x03);
    w.U8(3 + 15 + 3);
    w.U16(0);  // ES_ID
    w.U8(0);   // no dependency, URL or OCR stream
    w.U8(0x04);
    w.U8(13);
    w.U8(static_cast<uint32_t>(mux::audio_object_type(version_)));
    w.U8(0x05 << 2 | 1);  // audio stream
    w.U24(max_frame_);
    w.U32(max_bitrate_);
    const double seconds = double(frames_) * samples_per_frame_ / sample_rate_;
    w.U32(seconds > 0 ? static_cast<uint32_t>(double(total_bytes_) * 8 / seconds) : 0);
    w.U8(0x06);
    w.U8(1);
    w.U8(2);
    w.Close(esds);
    w.Close(entry);
    d.sample_entry = w.Take();
    return d;
}

}  // namespace lindqvale
