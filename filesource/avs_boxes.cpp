#include "filesource/avs_boxes.h"

#include "mp4/error.h"

namespace filesource {

namespace {
std::vector<std::vector<uint8_t>> read_length_prefixed(mp4::Cursor& c, unsigned count) {
    std::vector<std::vector<uint8_t>> out;
    for (unsigned i = 0; i < count; ++i) {
        auto bytes = c.bytes(c.u16());
        out.emplace_back(bytes.begin(), bytes.end());
    }
    return out;
}
}  // namespace

void AvsDecoderConfigBox::parse(mp4::Cursor& payload, const mp4::BoxFactory&) {
    configuration_version = payload.u8();
    profile_indication = payload.u8();
    level_indication = payload.u8();
    length_size_minus_one = payload.u8() & 0x03;
    sequence_headers = read_length_prefixed(payload, payload.u8() & 0x0F);
}

void AvsmDecoderConfigBox::parse(mp4::Cursor& payload, const mp4::BoxFactory&) {
    configuration_version = payload.u8();
    profile_indication = payload.u8();
    level_indication = payload.u8();
    length_size_minus_one = payload.u8() & 0x03;
    sequence_parameter_sets = read_length_prefixed(payload, payload.u8() & 0x0F);
    picture_parameter_sets = read_length_prefixed(payload, payload.u8());
}

void BitRateBox::parse(mp4::Cursor& payload, const mp4::BoxFactory&) {
    buffer_size_db = payload.u32();
    max_bitrate = payload.u32();
    avg_bitrate = payload.u32();
}

void AvsSampleEntry::parse(mp4::Cursor& payload, const mp4::BoxFactory& factory) {
    mp4::VisualSampleEntry::parse(payload, factory);
    const char* config = type() == "avs2" ? "avss" : "avsc";
    if (!child(config))
        throw mp4::Mp4Error("sample entry '" + type() + "' has no '" + config + "' box");
}

mp4::BoxFactory avs_box_factory() {
    mp4::BoxFactory f = mp4::standard_box_factory();
    for (const char* type : {"avs2", "avs1", "avsp"})
        f.add(type, [] { return std::make_unique<AvsSampleEntry>(); });
    f.add("avss", [] { return std::make_unique<AvsDecoderConfigBox>(); });
    f.add("avsc", [] { return std::make_unique<AvsmDecoderConfigBox>(); });
    f.add("btrt", [] { return std::make_unique<BitRateBox>(); });
    return f;
}

}  // namespace filesource
