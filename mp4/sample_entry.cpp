#include "mp4/sample_entry.h"

#include <algorithm>

#include "mp4/error.h"

namespace mp4 {

void SampleDescriptionBox::Parse(Cursor& payload, const BoxFactory& factory) {
    ParseVersionAndFlags(payload);
    ParseEntries(payload, factory, payload.U32());
}

const Box* SampleDescriptionBox::Entry(uint32_t index) const {
    if (index == 0 || index > Children().size()) return nullptr;
    return Children()[index - 1].get();
}

void SampleEntry::ParseSampleEntryHeader(Cursor& payload) {
    payload.Skip(6);
    data_reference_index = payload.U16();
}

void AudioSampleEntry::Parse(Cursor& payload, const BoxFactory& factory) {
    ParseSampleEntryHeader(payload);
    const uint16_t version = payload.U16();
    payload.Skip(6);
    channel_count = payload.U16();
    sample_size = payload.U16();
    payload.Skip(4);
    sample_rate = payload.U32() >> 16;
    // Older sound descriptions carry extra fields before their child boxes.
    if (version == 1) payload.Skip(16);
    if (version == 2) payload.Skip(36);
    ParseChildren(payload, factory);
}

void VisualSampleEntry::Parse(Cursor& payload, const BoxFactory& factory) {
    ParseSampleEntryHeader(payload);
    payload.Skip(16);
    width = payload.U16();
    height = payload.U16();
    payload.Skip(14);
    auto name = payload.Bytes(32);
    // Usually a length byte and the text; some writers put plain text there.
    if (name[0] < 32) {
        compressor_name.assign(name.begin() + 1, name.begin() + 1 + std::min<size_t>(name[0], 31));
    } else {
        compressor_name.assign(name.begin(), name.end());
        compressor_name.resize(compressor_name.find('\0') == std::string::npos
                                   ? compressor_name.size()
                                   : compressor_name.find('\0'));
    }
    payload.Skip(4);
    ParseChildren(payload, factory);
}

namespace {
// Descriptor header: tag and an expandable length of up to four bytes.
Cursor ReadDescriptor(Cursor& c, uint8_t expected_tag) {
    const uint8_t tag = c.U8();
    if (tag != expected_tag)
        throw Mp4Error("box 'esds' has descriptor " + std::to_string(tag) + " where " +
                       std::to_string(expected_tag) + " belongs");
    uint32_t length = 0;
    for (int i = 0; i < 4; ++i) {
        const uint8_t b = c.U8();
        length = length << 7 | (b & 0x7F);
        if (!(b & 0x80)) break;
    }
    return c.Sub(length, "esds");
}
}  // namespace

void EsDescriptorBox::Parse(Cursor& payload, const BoxFactory&) {
    ParseVersionAndFlags(payload);
    Cursor es = ReadDescriptor(payload, 0x03);
    es_id = es.U16();
    const uint8_t flags = es.U8();
    if (flags & 0x80) es.Skip(2);        // depends on another stream
    if (flags & 0x40) es.Skip(es.U8());  // URL
    if (flags & 0x20) es.Skip(2);        // OCR stream
    Cursor config = ReadDescriptor(es, 0x04);
    object_type_indication = config.U8();
    stream_type = config.U8() >> 2;
    buffer_size_db = config.U24();
    max_bitrate = config.U32();
    avg_bitrate = config.U32();
}

}  // namespace mp4
