#include "synthetic_avs.h"

namespace avs::synthetic {

void BitWriter::put(uint32_t value, int width) {
    for (int i = width - 1; i >= 0; --i) {
        if (used_ == 8) {
            bytes_.push_back(0);
            used_ = 0;
        }
        if ((value >> i) & 1u) bytes_.back() |= static_cast<uint8_t>(0x80u >> used_);
        ++used_;
    }
}

std::vector<uint8_t> BitWriter::finish() {
    return bytes_;
}

std::vector<uint8_t> sequence_header(const SequenceFields& f) {
    BitWriter w;
    w.put(0x000001B0, 32);
    w.put(f.profile_id, 8);
    w.put(f.level_id, 8);
    w.put(f.progressive_sequence, 1);
    w.put(f.horizontal_size, 14);
    w.put(f.vertical_size, 14);
    w.put(f.chroma_format, 2);
    w.put(f.sample_precision, 3);
    w.put(f.aspect_ratio_information, 4);
    w.put(f.frame_rate_code, 4);
    w.put(f.bit_rate_lower, 18);
    w.put(1, 1);
    w.put(f.bit_rate_upper, 12);
    w.put(f.low_delay, 1);
    w.put(1, 1);
    w.put(f.bbv_buffer_size, 18);
    w.put(0, 3);
    return w.finish();
}

std::vector<uint8_t> i_picture_header() {
    return {0, 0, 1, 0xB3, 0xFF, 0xFF, 0xC8, 0x12, 0x34};
}

std::vector<uint8_t> pb_picture_header(int coding_type) {
    return {0, 0, 1, 0xB6, 0xFF, 0xFF, static_cast<uint8_t>((coding_type << 6) | 0x12), 0x34, 0x56};
}

std::vector<uint8_t> slice(uint8_t position, size_t body, std::mt19937& rng) {
    std::vector<uint8_t> s{0, 0, 1, position};
    s.reserve(4 + body);
    std::uniform_int_distribution<int> byte(1, 255);
    for (size_t i = 0; i < body; ++i) s.push_back(static_cast<uint8_t>(byte(rng)));
    return s;
}

void append_picture(std::vector<uint8_t>& out, PictureKind kind, int slices, size_t slice_body,
                    std::mt19937& rng) {
    std::vector<uint8_t> h = kind == PictureKind::I   ? i_picture_header()
                             : kind == PictureKind::P ? pb_picture_header(1)
                                                      : pb_picture_header(2);
    out.insert(out.end(), h.begin(), h.end());
    for (int i = 0; i < slices; ++i) {
        std::vector<uint8_t> s = slice(static_cast<uint8_t>(i), slice_body, rng);
        out.insert(out.end(), s.begin(), s.end());
    }
}

std::vector<uint8_t> stream(const SequenceFields& f, int pictures, int slices, size_t slice_body,
                            int gop, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out;
    std::vector<uint8_t> seq = sequence_header(f);
    for (int p = 0; p < pictures; ++p) {
        int in_gop = gop > 0 ? p % gop : p;
        if (in_gop == 0) out.insert(out.end(), seq.begin(), seq.end());
        PictureKind kind = in_gop == 0             ? PictureKind::I
                           : (in_gop - 1) % 3 == 0 ? PictureKind::P
                                                   : PictureKind::B;
        append_picture(out, kind, slices, slice_body, rng);
    }
    const uint8_t end[] = {0, 0, 1, 0xB1};
    out.insert(out.end(), end, end + 4);
    return out;
}

}  // namespace avs::synthetic
