#include "filesource/avs_boxes.h"

#include "mp4/error.h"

namespace filesource {

namespace {
std::vector<std::vector<uint8_t>> read_length_prefixed(mp4::Cursor& c, unsigned count) {
    std::vector<std::vector<uint8_t>> out;
    for (unsigned i = 0; i < count; ++i) {
        auto bytes = c.Bytes(c.U16());
        out.emplace_back(bytes.begin(), bytes.end());
    }
    return out;
}
}  // namespace

void AvsDecoderConfigBox::Parse(mp4::Cursor& payload, const mp4::BoxFactory&) {
    configuration_version = payload.U8();
    profile_indication = payload.U8();
    level_indication = payload.U8();
    length_size_minus_one = payload.U8() & 0x03;
    sequence_headers = read_length_prefixed(payload, payload.U8() & 0x0F);
}

void AvsmDecoderConfigBox::Parse(mp4::Cursor& payload, const mp4::BoxFactory&) {
    configuration_version = payload.U8();
    profile_indication = payload.U8();
    level_indication = payload.U8();
    length_size_minus_one = payload.U8() & 0x03;
    sequence_parameter_sets = read_length_prefixed(payload, payload.U8() & 0x0F);
    picture_parameter_sets = read_length_prefixed(payload, payload.U8());
}

void BitRateBox::Parse(mp4::Cursor& payload, const mp4::BoxFactory&) {
    buffer_size_db = payload.U32();
    max_bitrate = payload.U32();
    avg_bitrate = payload.U32();
}

void AvsSampleEntry::Parse(mp4::Cursor& payload, const mp4::BoxFactory& factory) {
    mp4::VisualSampleEntry::Parse(payload, factory);
    const char* config = Type() == "avs2" ? "avss" : "avsc";
    if (!Child(config))
        throw mp4::Mp4Error("sample entry '" + Type() + "' has no '" + config + "' box");
}

mp4::BoxFactory avs_box_factory() {
    mp4::BoxFactory f = mp4::StandardBoxFactory();
    for (const char* type : {"avs2", "avs1", "avsp"})
        f.Add(type, [] { return std::make_unique<AvsSampleEntry>(); });
    f.Add("avss", [] { return std::make_unique<AvsDecoderConfigBox>(); });
    f.Add("avsc", [] { return std::make_unique<AvsmDecoderConfigBox>(); });
    f.Add("btrt", [] { return std::make_unique<BitRateBox>(); });
    return f;
}

}  // namespace filesource
