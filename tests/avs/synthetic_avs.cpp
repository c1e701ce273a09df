#include "synthetic_avs.h"

namespace avs::synthetic {

void BitWriter::Put(uint32_t value, int width) {
    for (int i = width - 1; i >= 0; --i) {
        if (used_ == 8) {
            bytes_.push_back(0);
            used_ = 0;
        }
        if ((value >> i) & 1u) bytes_.back() |= static_cast<uint8_t>(0x80u >> used_);
        ++used_;
    }
}

std::vector<uint8_t> BitWriter::Finish() {
    return bytes_;
}

std::vector<uint8_t> SequenceHeader(const SequenceFields& f) {
    BitWriter w;
    w.Put(0x000001B0, 32);
    w.Put(f.profile_id, 8);
    w.Put(f.level_id, 8);
    w.Put(f.progressive_sequence, 1);
    w.Put(f.horizontal_size, 14);
    w.Put(f.vertical_size, 14);
    w.Put(f.chroma_format, 2);
    w.Put(f.sample_precision, 3);
    w.Put(f.aspect_ratio_information, 4);
    w.Put(f.frame_rate_code, 4);
    w.Put(f.bit_rate_lower, 18);
    w.Put(1, 1);
    w.Put(f.bit_rate_upper, 12);
    w.Put(f.low_delay, 1);
    w.Put(1, 1);
    w.Put(f.bbv_buffer_size, 18);
    w.Put(0, 3);
    return w.Finish();
}

std::vector<uint8_t> IPictureHeader() {
    return {0, 0, 1, 0xB3, 0xFF, 0xFF, 0xC8, 0x12, 0x34};
}

std::vector<uint8_t> PbPictureHeader(int coding_type) {
    return {0, 0, 1, 0xB6, 0xFF, 0xFF, static_cast<uint8_t>((coding_type << 6) | 0x12), 0x34, 0x56};
}

std::vector<uint8_t> Slice(uint8_t position, size_t body, std::mt19937& rng) {
    std::vector<uint8_t> s{0, 0, 1, position};
    s.reserve(4 + body);
    std::uniform_int_distribution<int> byte(1, 255);
    for (size_t i = 0; i < body; ++i) s.push_back(static_cast<uint8_t>(byte(rng)));
    return s;
}

void AppendPicture(std::vector<uint8_t>& out, PictureKind kind, int slices, size_t slice_body,
                   std::mt19937& rng) {
    std::vector<uint8_t> h = kind == PictureKind::kI   ? IPictureHeader()
                             : kind == PictureKind::kP ? PbPictureHeader(1)
                                                       : PbPictureHeader(2);
    out.insert(out.end(), h.begin(), h.end());
    for (int i = 0; i < slices; ++i) {
        std::vector<uint8_t> s = Slice(static_cast<uint8_t>(i), slice_body, rng);
        out.insert(out.end(), s.begin(), s.end());
    }
}

std::vector<uint8_t> Stream(const SequenceFields& f, int pictures, int slices, size_t slice_body,
                            int gop, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out;
    std::vector<uint8_t> seq = SequenceHeader(f);
    for (int p = 0; p < pictures; ++p) {
        int in_gop = gop > 0 ? p % gop : p;
        if (in_gop == 0) out.insert(out.end(), seq.begin(), seq.end());
        PictureKind kind = in_gop == 0             ? PictureKind::kI
                           : (in_gop - 1) % 3 == 0 ? PictureKind::kP
                                                   : PictureKind::kB;
        AppendPicture(out, kind, slices, slice_body, rng);
    }
    const uint8_t end[] = {0, 0, 1, 0xB1};
    out.insert(out.end(), end, end + 4);
    return out;
}

}  // namespace avs::synthetic
