// Arbitrary bytes as an AVS media container: signature test, open, every
// track query, and sample reads of every track.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "filesource/avs_container.h"
#include "filesource/signature.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto source = std::make_shared<mp4::MemoryByteSource>(std::span<const uint8_t>(data, size));
    (void)filesource::has_avs_signature(*source);
    // A small read-ahead window: cheap per input, and refilled often.
    auto container = filesource::AvsContainer::open(source, nullptr, 512);
    if (!container) return 0;
    (void)container->duration_100ns();
    for (const auto& track : container->movie().Tracks()) {
        const uint32_t id = track.Id();
        (void)container->sample_entry_type(id);
        (void)container->track_timescale(id);
        const uint64_t count = container->sample_count(id);
        filesource::TrackSample sample;
        // Bounded: a table may claim billions of samples of a fixed size.
        for (uint64_t n = 0; n <= count && n < 64; ++n)
            (void)container->read_track_sample(id, n, sample);
        if (count > 64) (void)container->read_track_sample(id, count, sample);
    }
    return 0;
}
