#include "mp4/sample_entry.h"

#include <algorithm>

#include "mp4/error.h"

namespace mp4 {

void SampleDescriptionBox::parse(Cursor& payload, const BoxFactory& factory) {
    parse_version_and_flags(payload);
    parse_entries(payload, factory, payload.u32());
}

const Box* SampleDescriptionBox::entry(uint32_t index) const {
    if (index == 0 || index > children().size()) return nullptr;
    return children()[index - 1].get();
}

void SampleEntry::parse_sample_entry_header(Cursor& payload) {
    payload.skip(6);
    data_reference_index = payload.u16();
}

void AudioSampleEntry::parse(Cursor& payload, const BoxFactory& factory) {
    parse_sample_entry_header(payload);
    const uint16_t version = payload.u16();
    payload.skip(6);
    channel_count = payload.u16();
    sample_size = payload.u16();
    payload.skip(4);
    sample_rate = payload.u32() >> 16;
    // Older sound descriptions carry extra fields before their child boxes.
    if (version == 1) payload.skip(16);
    if (version == 2) payload.skip(36);
    parse_children(payload, factory);
}

void VisualSampleEntry::parse(Cursor& payload, const BoxFactory& factory) {
    parse_sample_entry_header(payload);
    payload.skip(16);
    width = payload.u16();
    height = payload.u16();
    payload.skip(14);
    auto name = payload.bytes(32);
    // Usually a length byte and the text; some writers put plain text there.
    if (name[0] < 32) {
        compressor_name.assign(name.begin() + 1, name.begin() + 1 + std::min<size_t>(name[0], 31));
    } else {
        compressor_name.assign(name.begin(), name.end());
        compressor_name.resize(compressor_name.find('\0') == std::string::npos
                                   ? compressor_name.size()
                                   : compressor_name.find('\0'));
    }
    payload.skip(4);
    parse_children(payload, factory);
}

namespace {
// Descriptor header: tag and an expandable length of up to four bytes.
Cursor read_descriptor(Cursor& c, uint8_t expected_tag) {
    const uint8_t tag = c.u8();
    if (tag != expected_tag)
        throw Mp4Error("box 'esds' has descriptor " + std::to_string(tag) + " where " +
                       std::to_string(expected_tag) + " belongs");
    uint32_t length = 0;
    for (int i = 0; i < 4; ++i) {
        const uint8_t b = c.u8();
        length = length << 7 | (b & 0x7F);
        if (!(b & 0x80)) break;
    }
    return c.sub(length, "esds");
}
}  // namespace

void EsDescriptorBox::parse(Cursor& payload, const BoxFactory&) {
    parse_version_and_flags(payload);
    Cursor es = read_descriptor(payload, 0x03);
    es_id = es.u16();
    const uint8_t flags = es.u8();
    if (flags & 0x80) es.skip(2);        // depends on another stream
    if (flags & 0x40) es.skip(es.u8());  // URL
    if (flags & 0x20) es.skip(2);        // OCR stream
    Cursor config = read_descriptor(es, 0x04);
    object_type_indication = config.u8();
    stream_type = config.u8() >> 2;
    buffer_size_db = config.u24();
    max_bitrate = config.u32();
    avg_bitrate = config.u32();
}

}  // namespace mp4
