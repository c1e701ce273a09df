#include "mp4/sample_table_boxes.h"

#include <algorithm>

#include "mp4/error.h"

namespace mp4 {

namespace {
// Reads an entry count and checks the entries fit in the rest of the box.
uint32_t EntryCount(Cursor& payload, size_t entry_size) {
    const uint32_t count = payload.U32();
    if (uint64_t{count} * entry_size > payload.Remaining())
        throw Mp4Error("box '" + payload.What() + "' holds fewer entries than it says");
    return count;
}
}  // namespace

void TimeToSampleBox::Parse(Cursor& payload, const BoxFactory&) {
    ParseVersionAndFlags(payload);
    const uint32_t count = EntryCount(payload, 8);
    entries.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t n = payload.U32();
        entries.push_back({n, payload.U32()});
    }
}

void CompositionOffsetBox::Parse(Cursor& payload, const BoxFactory&) {
    ParseVersionAndFlags(payload);
    const uint32_t count = EntryCount(payload, 8);
    entries.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t n = payload.U32();
        entries.push_back({n, payload.U32()});
    }
}

void SampleSizeBox::Parse(Cursor& payload, const BoxFactory&) {
    ParseVersionAndFlags(payload);
    sample_size = payload.U32();
    if (sample_size != 0) {
        sample_count = payload.U32();
        return;
    }
    sample_count = EntryCount(payload, 4);
    sizes.reserve(sample_count);
    for (uint32_t i = 0; i < sample_count; ++i) sizes.push_back(payload.U32());
}

void SampleToChunkBox::Parse(Cursor& payload, const BoxFactory&) {
    ParseVersionAndFlags(payload);
    const uint32_t count = EntryCount(payload, 12);
    entries.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        Entry e{};
        e.first_chunk = payload.U32();
        e.samples_per_chunk = payload.U32();
        e.description_index = payload.U32();
        entries.push_back(e);
    }
}

void ChunkOffsetBox::Parse(Cursor& payload, const BoxFactory&) {
    ParseVersionAndFlags(payload);
    const bool wide = Type() == "co64";
    const uint32_t count = EntryCount(payload, wide ? 8 : 4);
    offsets.reserve(count);
    for (uint32_t i = 0; i < count; ++i) offsets.push_back(wide ? payload.U64() : payload.U32());
}

void SyncSampleBox::Parse(Cursor& payload, const BoxFactory&) {
    ParseVersionAndFlags(payload);
    const uint32_t count = EntryCount(payload, 4);
    samples.reserve(count);
    for (uint32_t i = 0; i < count; ++i) samples.push_back(payload.U32());
    // Lookups search it; a writer that did not sort it must not break them.
    std::sort(samples.begin(), samples.end());
}

}  // namespace mp4
