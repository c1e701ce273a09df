#include "mp4/sample_table_boxes.h"

#include <algorithm>

#include "mp4/error.h"

namespace mp4 {

namespace {
// Reads an entry count and checks the entries fit in the rest of the box.
uint32_t entry_count(Cursor& payload, size_t entry_size) {
    const uint32_t count = payload.u32();
    if (uint64_t{count} * entry_size > payload.remaining())
        throw Mp4Error("box '" + payload.what() + "' holds fewer entries than it says");
    return count;
}
}  // namespace

void TimeToSampleBox::parse(Cursor& payload, const BoxFactory&) {
    parse_version_and_flags(payload);
    const uint32_t count = entry_count(payload, 8);
    entries.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t n = payload.u32();
        entries.push_back({n, payload.u32()});
    }
}

void CompositionOffsetBox::parse(Cursor& payload, const BoxFactory&) {
    parse_version_and_flags(payload);
    const uint32_t count = entry_count(payload, 8);
    entries.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t n = payload.u32();
        entries.push_back({n, payload.u32()});
    }
}

void SampleSizeBox::parse(Cursor& payload, const BoxFactory&) {
    parse_version_and_flags(payload);
    sample_size = payload.u32();
    if (sample_size != 0) {
        sample_count = payload.u32();
        return;
    }
    sample_count = entry_count(payload, 4);
    sizes.reserve(sample_count);
    for (uint32_t i = 0; i < sample_count; ++i) sizes.push_back(payload.u32());
}

void SampleToChunkBox::parse(Cursor& payload, const BoxFactory&) {
    parse_version_and_flags(payload);
    const uint32_t count = entry_count(payload, 12);
    entries.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        Entry e{};
        e.first_chunk = payload.u32();
        e.samples_per_chunk = payload.u32();
        e.description_index = payload.u32();
        entries.push_back(e);
    }
}

void ChunkOffsetBox::parse(Cursor& payload, const BoxFactory&) {
    parse_version_and_flags(payload);
    const bool wide = type() == "co64";
    const uint32_t count = entry_count(payload, wide ? 8 : 4);
    offsets.reserve(count);
    for (uint32_t i = 0; i < count; ++i) offsets.push_back(wide ? payload.u64() : payload.u32());
}

void SyncSampleBox::parse(Cursor& payload, const BoxFactory&) {
    parse_version_and_flags(payload);
    const uint32_t count = entry_count(payload, 4);
    samples.reserve(count);
    for (uint32_t i = 0; i < count; ++i) samples.push_back(payload.u32());
    // Lookups search it; a writer that did not sort it must not break them.
    std::sort(samples.begin(), samples.end());
}

}  // namespace mp4
