#include "tools/lindqvale/avs_sample_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "avs/unit_type.h"
#include "files/files.h"

namespace lindqvale {

VideoTiming TimingForFrameRateCode(int code) {
    switch (code) {
        case 1:
            return {24000, 1001};
        case 2:
            return {90000, 3750};
        case 3:
            return {90000, 3600};
        case 4:
            return {30000, 1001};
        case 5:
            return {90000, 3000};
        case 6:
            return {90000, 1800};
        case 7:
            return {60000, 1001};
        case 8:
            return {90000, 1500};
        default:
            return {0, 0};
    }
}

namespace {

// picture_distance of a picture header unit (from its start code on), -1 when cut short.
int PictureDistance(const uint8_t* unit, uint32_t length) {
    uint64_t bits = 0;
    for (uint32_t i = 0; i < 8; ++i) bits = bits << 8 | (4 + i < length ? unit[4 + i] : 0);
    int at = 16;  // after bbv_delay
    const auto take = [&](int n) {
        const int value = static_cast<int>((bits >> (64 - at - n)) & ((1u << n) - 1));
        at += n;
        return value;
    };
    if (unit[3] == 0xB3) {
        if (take(1)) take(24);  // time_code
        take(1);                // marker_bit
    } else {
        take(2);  // picture_coding_type
    }
    if (4u + static_cast<uint32_t>((at + 8 + 7) / 8) > length) return -1;
    return take(8);
}

}  // namespace

AvsSampleSource::AvsSampleSource(const std::string& path) : path_(path) {
    file_ = avs::files::OpenStream(path, "rb");
    if (!file_) throw LindqvaleError("cannot open " + path + ": " + avs::files::LastErrorText());
    std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
    bytes_ = std::make_unique<avs::FileByteSource>(file_);
    reader_ = std::make_unique<avs::AvsUnitReader>(*bytes_);
}

AvsSampleSource::~AvsSampleSource() {
    reader_.reset();
    bytes_.reset();
    if (file_) std::fclose(file_);
}

void AvsSampleSource::AppendUnit(Bytes& to, const uint8_t* unit, uint32_t length) {
    const uint32_t l = length - 2;  // header byte + body without the 3-byte prefix
    const uint8_t head[5] = {uint8_t(l >> 24), uint8_t(l >> 16), uint8_t(l >> 8), uint8_t(l), 0};
    to.insert(to.end(), head, head + 5);
    to.insert(to.end(), unit + 3, unit + length);
}

void AvsSampleSource::TakeSequenceHeader(const uint8_t* unit, uint32_t length) {
    avs::AvsSequenceHeader h;
    const avs::DecodeResult r = avs::decode_sequence_header(unit, length, h);
    if (r == avs::DecodeResult::kTruncated)
        throw LindqvaleError(path_ + ": the sequence header is cut short");
    timing_ = TimingForFrameRateCode(h.frame_rate_code);
    if (r == avs::DecodeResult::kBadFrameRate || timing_.timescale == 0)
        throw LindqvaleError(path_ + ": the sequence header has no valid frame rate (code " +
                             std::to_string(h.frame_rate_code) + ")");
    // The fixed-position decode also gives the fields past bit_rate.
    avs::DecodeSequenceHeaderFixed(unit, length, header_);
    header_body_.assign(unit + 3, unit + length);
    have_header_ = true;
}

bool AvsSampleSource::Next(Sample& out) {
    if (finished_) return false;
    while (reader_->Next()) {
        const uint8_t* unit = reader_->Data();
        uint32_t length = reader_->UnitLength();
        // Only the first unit of a file can keep the extra zero of 00 00 00 01.
        if (length >= 4 && unit[0] == 0 && unit[1] == 0 && unit[2] == 0 && unit[3] == 1) {
            ++unit;
            --length;
        }
        if (length < 4 || unit[0] != 0 || unit[1] != 0 || unit[2] != 1)
            throw LindqvaleError(path_ + ": a unit is too large or has no start code");
        const uint8_t code = unit[3];
        if (first_unit_) {
            if (code != 0xB0)
                throw LindqvaleError(path_ + ": the video does not begin with a sequence header");
            first_unit_ = false;
        }
        if (code == 0xB0 && !have_header_) TakeSequenceHeader(unit, length);

        const auto type = avs::classify_unit(unit, length);
        if (code == 0xB3 || code == 0xB6) {
            // A picture header opens the next sample.
            const bool ready = have_current_;
            Sample finished = std::move(current_);
            current_ = Sample{};
            current_.bytes = std::move(pending_);
            pending_.clear();
            // A sample is a seek point unless it begins with a P or B picture.
            current_.sync = !(current_.bytes.empty() && code == 0xB6);
            AppendUnit(current_.bytes, unit, length);
            current_.duration = timing_.duration;
            // Display position: the previous one moved by the signed step of
            // picture_distance. Every picture before an intra one in the stream is shown
            // before it, so an intra picture that would not come after them all starts
            // the count anew (streams whose distances restart at each intra picture).
            const int distance = PictureDistance(unit, length);
            const int64_t coded = static_cast<int64_t>(pictures_++);
            if (distance < 0 || last_distance_ < 0) {
                display_ = coded;
            } else {
                int step = (distance - last_distance_) & 255;
                if (step >= 128) step -= 256;
                display_ += step;
                if (code == 0xB3 && display_ <= latest_display_) display_ = latest_display_ + 1;
            }
            if (distance >= 0) last_distance_ = distance;
            latest_display_ = std::max(latest_display_, display_);
            current_.composition_offset =
                static_cast<int32_t>((display_ - coded) * static_cast<int64_t>(timing_.duration));
            have_current_ = true;
            after_slice_ = false;
            if (ready) {
                out = std::move(finished);
                ++samples_;
                total_bytes_ += out.bytes.size();
                return true;
            }
        } else if (type == avs::AvsUnitType::kSlice) {
            if (!have_current_)
                throw LindqvaleError(path_ + ": a slice comes before the first picture header");
            current_.bytes.insert(current_.bytes.end(), pending_.begin(), pending_.end());
            pending_.clear();
            AppendUnit(current_.bytes, unit, length);
            after_slice_ = true;
        } else if (have_current_ && !after_slice_) {
            // Extension or user data of the picture itself, before its slices.
            AppendUnit(current_.bytes, unit, length);
        } else {
            AppendUnit(pending_, unit, length);
        }
    }
    finished_ = true;
    if (!have_current_) throw LindqvaleError(path_ + ": the video holds no picture");
    if (std::ferror(file_)) throw LindqvaleError("cannot read " + path_);
    // Units after the last picture stay with it.
    current_.bytes.insert(current_.bytes.end(), pending_.begin(), pending_.end());
    pending_.clear();
    out = std::move(current_);
    have_current_ = false;
    ++samples_;
    total_bytes_ += out.bytes.size();
    return true;
}

TrackDescription AvsSampleSource::Description() const {
    TrackDescription d;
    d.handler = "vide";
    d.handler_name = "AVS1-P2 video";
    d.timescale = timing_.timescale;
    d.width = static_cast<uint16_t>(header_.horizontal_size);
    d.height = static_cast<uint16_t>(header_.vertical_size);
    d.write_stss = true;

    BoxWriter w;
    const size_t entry = w.Open("avs2");
    w.Zeros(6);
    w.U16(1);  // data reference index
    w.Zeros(16);
    w.U16(d.width);
    w.U16(d.height);
    for (uint8_t b : {0x00, 0x48, 0x00, 0x00, 0x00, 0x48, 0x00, 0x00, 0, 0, 0, 0, 0, 1}) w.U8(b);
    char name[32] = "AVS1-P2 Coding";
    w.Append(reinterpret_cast<const uint8_t*>(name), sizeof name);
    for (uint8_t b : {0x00, 0x18, 0xFF, 0xFF}) w.U8(b);

    const size_t avss = w.Open("avss");
    w.U8(1);  // configurationVersion
    w.U8(static_cast<uint32_t>(header_.profile_id));
    w.U8(static_cast<uint32_t>(header_.level_id));
    w.U8(0xFC | 3);  // reserved, lengthSizeMinusOne: 4-byte lengths
    w.U8(0xF0 | 1);  // reserved1, one sequence header
    w.U16(static_cast<uint32_t>(header_body_.size()));
    w.Append(header_body_);
    w.Close(avss);

    const size_t btrt = w.Open("btrt");
    const double seconds = double(samples_) * timing_.duration / timing_.timescale;
    w.U32(static_cast<uint32_t>(header_.bbv_buffer_size) * 2048);  // units of 16 kbit
    w.U32(static_cast<uint32_t>(std::min<uint64_t>(uint64_t(header_.bit_rate) * 400, UINT32_MAX)));
    w.U32(seconds > 0 ? static_cast<uint32_t>(double(total_bytes_) * 8 / seconds) : 0);
    w.Close(btrt);
    w.Close(entry);
    d.sample_entry = w.Take();
    return d;
}

}  // namespace lindqvale
