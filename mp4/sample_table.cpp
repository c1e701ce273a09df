#include "mp4/sample_table.h"

#include <algorithm>
#include <limits>
#include <string>

#include "mp4/error.h"

namespace mp4 {

namespace {
template <class T>
const T& Required(const Box& stbl, const char* type) {
    const T* box = stbl.ChildAs<T>(type);
    if (!box) throw Mp4Error(std::string("missing mandatory box '") + type + "'");
    return *box;
}

uint64_t SaturatingAdd(uint64_t a, uint64_t b) {
    return a > std::numeric_limits<uint64_t>::max() - b ? std::numeric_limits<uint64_t>::max()
                                                        : a + b;
}
}  // namespace

SampleTable::SampleTable(const Box& stbl) {
    stsz_ = &Required<SampleSizeBox>(stbl, "stsz");
    const auto& stts = Required<TimeToSampleBox>(stbl, "stts");
    const auto& stsc = Required<SampleToChunkBox>(stbl, "stsc");
    chunk_offsets_ = stbl.ChildAs<ChunkOffsetBox>("stco");
    if (!chunk_offsets_) chunk_offsets_ = stbl.ChildAs<ChunkOffsetBox>("co64");
    if (!chunk_offsets_) throw Mp4Error("missing mandatory box 'stco' or 'co64'");
    stss_ = stbl.ChildAs<SyncSampleBox>("stss");

    if (stsz_->sample_size == 0) {
        size_prefix_.resize(stsz_->sizes.size() + 1);
        for (size_t i = 0; i < stsz_->sizes.size(); ++i)
            size_prefix_[i + 1] = size_prefix_[i] + stsz_->sizes[i];
    }

    uint64_t sample = 1, time = 0;
    for (const auto& e : stts.entries) {
        time_runs_.push_back({sample, time, e.count, e.delta});
        sample = SaturatingAdd(sample, e.count);
        time = SaturatingAdd(time, uint64_t{e.count} * e.delta);
    }

    sample = 1;
    for (size_t i = 0; i < stsc.entries.size(); ++i) {
        const auto& e = stsc.entries[i];
        if (i == 0 ? e.first_chunk != 1 : e.first_chunk <= stsc.entries[i - 1].first_chunk)
            throw Mp4Error("box 'stsc' has its chunk runs out of order");
        if (i > 0) {
            const auto& prev = stsc.entries[i - 1];
            sample = SaturatingAdd(
                sample, uint64_t{e.first_chunk - prev.first_chunk} * prev.samples_per_chunk);
        }
        chunk_runs_.push_back({sample, e.first_chunk, e.samples_per_chunk, e.description_index});
    }
}

void SampleTable::CheckFits(uint64_t file_size) const {
    // A fixed size times a 32-bit count cannot overflow 64 bits.
    const uint64_t total = stsz_->sample_size ? uint64_t{stsz_->sample_size} * stsz_->sample_count
                                              : size_prefix_.back();
    if (total > file_size)
        throw Mp4Error("the sample table claims " + std::to_string(total) +
                       " bytes of samples, more than the file's " + std::to_string(file_size));
    const auto& offsets = chunk_offsets_->offsets;
    for (size_t i = 0; i < offsets.size(); ++i)
        if (offsets[i] > file_size)
            throw Mp4Error("chunk " + std::to_string(i + 1) + " starts at offset " +
                           std::to_string(offsets[i]) + ", past the end of the file");
}

uint32_t SampleTable::SizeOf(uint64_t number) const {
    return stsz_->sample_size ? stsz_->sample_size : stsz_->sizes[number - 1];
}

uint64_t SampleTable::BytesBefore(uint64_t first, uint64_t number) const {
    if (stsz_->sample_size) return (number - first) * stsz_->sample_size;
    return size_prefix_[number - 1] - size_prefix_[first - 1];
}

SampleInfo SampleTable::Lookup(uint64_t number) const {
    // Built only for an error: lookups run once per sample played.
    auto which = [number] { return "sample " + std::to_string(number); };
    if (number < 1 || number > SampleCount()) throw Mp4Error(which() + " is out of range");

    SampleInfo info;
    info.size = SizeOf(number);

    auto t = std::upper_bound(time_runs_.begin(), time_runs_.end(), number,
                              [](uint64_t n, const TimeRun& r) { return n < r.first_sample; });
    if (t == time_runs_.begin() || number - (t - 1)->first_sample >= (t - 1)->count)
        throw Mp4Error(which() + " has no entry in 'stts'");
    --t;
    info.start = t->start + (number - t->first_sample) * t->delta;
    info.duration = t->delta;

    auto c = std::upper_bound(chunk_runs_.begin(), chunk_runs_.end(), number,
                              [](uint64_t n, const ChunkRun& r) { return n < r.first_sample; });
    if (c == chunk_runs_.begin()) throw Mp4Error(which() + " lies in no chunk");
    --c;
    if (c->samples_per_chunk == 0) throw Mp4Error(which() + " lies in no chunk");
    const uint64_t into_run = number - c->first_sample;
    const uint64_t chunk = c->first_chunk + into_run / c->samples_per_chunk;
    if (c + 1 != chunk_runs_.end() && chunk >= (c + 1)->first_chunk)
        throw Mp4Error(which() + " lies in no chunk");
    if (chunk > chunk_offsets_->offsets.size())
        throw Mp4Error(which() + " lies in chunk " + std::to_string(chunk) +
                       ", which has no offset");
    const uint64_t first_in_chunk = number - into_run % c->samples_per_chunk;
    info.offset =
        SaturatingAdd(chunk_offsets_->offsets[chunk - 1], BytesBefore(first_in_chunk, number));
    info.description_index = c->description_index;

    if (stss_) info.sync = std::binary_search(stss_->samples.begin(), stss_->samples.end(), number);
    return info;
}

}  // namespace mp4
