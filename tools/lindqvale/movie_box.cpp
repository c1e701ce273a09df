#include "tools/lindqvale/movie_box.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>

namespace lindqvale {

namespace {

constexpr uint32_t kMovieTimescale = 1000;
// Seconds between 1904-01-01 (the format's epoch) and 1970-01-01.
constexpr uint64_t kEpochOffset = 2082844800;

void identity_matrix(BoxWriter& w) {
    for (uint32_t v : {0x00010000u, 0u, 0u, 0u, 0x00010000u, 0u, 0u, 0u, 0x40000000u}) w.u32(v);
}

// The creation and modification time: SOURCE_DATE_EPOCH (seconds since 1970) when it is
// set, so the same inputs can give the same container byte for byte, else the clock.
uint64_t creation_time() {
    if (const char* fixed = std::getenv("SOURCE_DATE_EPOCH")) {
        char* end = nullptr;
        errno = 0;
        const unsigned long long seconds = std::strtoull(fixed, &end, 10);
        if (*fixed >= '0' && *fixed <= '9' && *end == '\0' && errno == 0 &&
            seconds <= std::numeric_limits<uint64_t>::max() - kEpochOffset)
            return seconds + kEpochOffset;
    }
    return static_cast<uint64_t>(std::time(nullptr)) + kEpochOffset;
}

uint64_t to_movie_time(uint64_t duration, uint32_t timescale) {
    // Rounded up so the movie never ends before its longest track.
    return timescale ? (duration * kMovieTimescale + timescale - 1) / timescale : 0;
}

void write_track(BoxWriter& w, const TrackTables& t, uint32_t id, uint64_t now) {
    const auto& d = t.description;
    const uint64_t movie_duration = to_movie_time(t.duration, d.timescale);
    const bool video = std::strcmp(d.handler, "vide") == 0;
    const size_t trak = w.open("trak");

    const bool tkhd_v1 = movie_duration > std::numeric_limits<uint32_t>::max();
    const size_t tkhd = w.open_full("tkhd", tkhd_v1 ? 1 : 0, 7);  // enabled, in movie, preview
    if (tkhd_v1) {
        w.u64(now);
        w.u64(now);
        w.u32(id);
        w.u32(0);
        w.u64(movie_duration);
    } else {
        w.u32(static_cast<uint32_t>(now));
        w.u32(static_cast<uint32_t>(now));
        w.u32(id);
        w.u32(0);
        w.u32(static_cast<uint32_t>(movie_duration));
    }
    w.zeros(8);
    w.u16(0);  // layer
    w.u16(0);  // alternate group
    w.u16(video ? 0 : 0x0100);
    w.u16(0);
    identity_matrix(w);
    w.u32(uint32_t{d.width} << 16);
    w.u32(uint32_t{d.height} << 16);
    w.close(tkhd);

    const size_t mdia = w.open("mdia");
    const bool mdhd_v1 = t.duration > std::numeric_limits<uint32_t>::max();
    const size_t mdhd = w.open_full("mdhd", mdhd_v1 ? 1 : 0, 0);
    if (mdhd_v1) {
        w.u64(now);
        w.u64(now);
        w.u32(d.timescale);
        w.u64(t.duration);
    } else {
        w.u32(static_cast<uint32_t>(now));
        w.u32(static_cast<uint32_t>(now));
        w.u32(d.timescale);
        w.u32(static_cast<uint32_t>(t.duration));
    }
    w.u16(0x55C4);  // language "und"
    w.u16(0);
    w.close(mdhd);

    const size_t hdlr = w.open_full("hdlr", 0, 0);
    w.u32(0);
    w.fourcc(d.handler);
    w.zeros(12);
    w.bytes(reinterpret_cast<const uint8_t*>(d.handler_name), std::strlen(d.handler_name) + 1);
    w.close(hdlr);

    const size_t minf = w.open("minf");
    if (video) {
        const size_t vmhd = w.open_full("vmhd", 0, 1);
        w.zeros(8);
        w.close(vmhd);
    } else {
        const size_t smhd = w.open_full("smhd", 0, 0);
        w.zeros(4);
        w.close(smhd);
    }
    const size_t dinf = w.open("dinf");
    const size_t dref = w.open_full("dref", 0, 0);
    w.u32(1);
    w.close(w.open_full("url ", 0, 1));  // media data in this file
    w.close(dref);
    w.close(dinf);

    const size_t stbl = w.open("stbl");
    const size_t stsd = w.open_full("stsd", 0, 0);
    w.u32(1);
    w.bytes(d.sample_entry);
    w.close(stsd);

    const size_t stts = w.open_full("stts", 0, 0);
    w.u32(static_cast<uint32_t>(t.duration_runs.size()));
    for (auto [count, duration] : t.duration_runs) {
        w.u32(count);
        w.u32(duration);
    }
    w.close(stts);

    if (d.write_stss) {
        const size_t stss = w.open_full("stss", 0, 0);
        w.u32(static_cast<uint32_t>(t.sync_samples.size()));
        for (uint32_t n : t.sync_samples) w.u32(n);
        w.close(stss);
    }

    // Runs of chunks holding the same number of samples.
    std::vector<std::pair<uint32_t, uint32_t>> runs;  // first chunk, samples per chunk
    for (size_t i = 0; i < t.chunk_sizes.size(); ++i)
        if (runs.empty() || runs.back().second != t.chunk_sizes[i])
            runs.push_back({static_cast<uint32_t>(i + 1), t.chunk_sizes[i]});
    const size_t stsc = w.open_full("stsc", 0, 0);
    w.u32(static_cast<uint32_t>(runs.size()));
    for (auto [first, count] : runs) {
        w.u32(first);
        w.u32(count);
        w.u32(1);
    }
    w.close(stsc);

    const size_t stsz = w.open_full("stsz", 0, 0);
    w.u32(0);
    w.u32(static_cast<uint32_t>(t.sizes.size()));
    for (uint32_t s : t.sizes) w.u32(s);
    w.close(stsz);

    const bool wide =
        !t.chunk_offsets.empty() && t.chunk_offsets.back() > std::numeric_limits<uint32_t>::max();
    const size_t stco = w.open_full(wide ? "co64" : "stco", 0, 0);
    w.u32(static_cast<uint32_t>(t.chunk_offsets.size()));
    for (uint64_t o : t.chunk_offsets) wide ? w.u64(o) : w.u32(static_cast<uint32_t>(o));
    w.close(stco);

    w.close(stbl);
    w.close(minf);
    w.close(mdia);
    w.close(trak);
}

}  // namespace

Bytes movie_box(const std::vector<TrackTables>& tracks) {
    const uint64_t now = creation_time();
    uint64_t duration = 0;
    for (const auto& t : tracks)
        duration = std::max(duration, to_movie_time(t.duration, t.description.timescale));

    BoxWriter w;
    const size_t moov = w.open("moov");
    const bool v1 = duration > std::numeric_limits<uint32_t>::max();
    const size_t mvhd = w.open_full("mvhd", v1 ? 1 : 0, 0);
    if (v1) {
        w.u64(now);
        w.u64(now);
        w.u32(kMovieTimescale);
        w.u64(duration);
    } else {
        w.u32(static_cast<uint32_t>(now));
        w.u32(static_cast<uint32_t>(now));
        w.u32(kMovieTimescale);
        w.u32(static_cast<uint32_t>(duration));
    }
    w.u32(0x00010000);  // rate 1.0
    w.u16(0x0100);      // volume 1.0
    w.zeros(10);
    identity_matrix(w);
    w.zeros(24);
    w.u32(static_cast<uint32_t>(tracks.size() + 1));  // next track id
    w.close(mvhd);
    for (size_t i = 0; i < tracks.size(); ++i)
        write_track(w, tracks[i], static_cast<uint32_t>(i + 1), now);
    w.close(moov);
    return w.take();
}

}  // namespace lindqvale
