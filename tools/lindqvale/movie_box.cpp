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

void IdentityMatrix(BoxWriter& w) {
    for (uint32_t v : {0x00010000u, 0u, 0u, 0u, 0x00010000u, 0u, 0u, 0u, 0x40000000u}) w.U32(v);
}

// The creation and modification time: SOURCE_DATE_EPOCH (seconds since 1970) when it is
// set, so the same inputs can give the same container byte for byte, else the clock.
uint64_t CreationTime() {
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

uint64_t ToMovieTime(uint64_t duration, uint32_t timescale) {
    // Rounded up so the movie never ends before its longest track.
    return timescale ? (duration * kMovieTimescale + timescale - 1) / timescale : 0;
}

void WriteTrack(BoxWriter& w, const TrackTables& t, uint32_t id, uint64_t now) {
    const auto& d = t.description;
    const uint64_t movie_duration = ToMovieTime(t.duration, d.timescale);
    const bool video = std::strcmp(d.handler, "vide") == 0;
    const size_t trak = w.Open("trak");

    const bool tkhd_v1 = movie_duration > std::numeric_limits<uint32_t>::max();
    const size_t tkhd = w.OpenFull("tkhd", tkhd_v1 ? 1 : 0, 7);  // enabled, in movie, preview
    if (tkhd_v1) {
        w.U64(now);
        w.U64(now);
        w.U32(id);
        w.U32(0);
        w.U64(movie_duration);
    } else {
        w.U32(static_cast<uint32_t>(now));
        w.U32(static_cast<uint32_t>(now));
        w.U32(id);
        w.U32(0);
        w.U32(static_cast<uint32_t>(movie_duration));
    }
    w.Zeros(8);
    w.U16(0);  // layer
    w.U16(0);  // alternate group
    w.U16(video ? 0 : 0x0100);
    w.U16(0);
    IdentityMatrix(w);
    w.U32(uint32_t{d.width} << 16);
    w.U32(uint32_t{d.height} << 16);
    w.Close(tkhd);

    // Pictures coded ahead of the B pictures shown before them: composition offsets, all
    // moved up by the most negative one, and an edit list that starts the presentation
    // that much into the media, so the first picture is still shown at time 0.
    int64_t composition_shift = 0;
    for (auto [count, offset] : t.composition_runs)
        composition_shift = std::max<int64_t>(composition_shift, -int64_t{offset});
    if (!t.composition_runs.empty()) {
        const size_t edts = w.Open("edts");
        const size_t elst = w.OpenFull("elst", tkhd_v1 ? 1 : 0, 0);
        w.U32(1);
        if (tkhd_v1) {
            w.U64(movie_duration);
            w.U64(static_cast<uint64_t>(composition_shift));
        } else {
            w.U32(static_cast<uint32_t>(movie_duration));
            w.U32(static_cast<uint32_t>(composition_shift));
        }
        w.U32(0x00010000);  // media rate 1.0
        w.Close(elst);
        w.Close(edts);
    }

    const size_t mdia = w.Open("mdia");
    const bool mdhd_v1 = t.duration > std::numeric_limits<uint32_t>::max();
    const size_t mdhd = w.OpenFull("mdhd", mdhd_v1 ? 1 : 0, 0);
    if (mdhd_v1) {
        w.U64(now);
        w.U64(now);
        w.U32(d.timescale);
        w.U64(t.duration);
    } else {
        w.U32(static_cast<uint32_t>(now));
        w.U32(static_cast<uint32_t>(now));
        w.U32(d.timescale);
        w.U32(static_cast<uint32_t>(t.duration));
    }
    w.U16(0x55C4);  // language "und"
    w.U16(0);
    w.Close(mdhd);

    const size_t hdlr = w.OpenFull("hdlr", 0, 0);
    w.U32(0);
    w.Fourcc(d.handler);
    w.Zeros(12);
    w.Append(reinterpret_cast<const uint8_t*>(d.handler_name), std::strlen(d.handler_name) + 1);
    w.Close(hdlr);

    const size_t minf = w.Open("minf");
    if (video) {
        const size_t vmhd = w.OpenFull("vmhd", 0, 1);
        w.Zeros(8);
        w.Close(vmhd);
    } else {
        const size_t smhd = w.OpenFull("smhd", 0, 0);
        w.Zeros(4);
        w.Close(smhd);
    }
    const size_t dinf = w.Open("dinf");
    const size_t dref = w.OpenFull("dref", 0, 0);
    w.U32(1);
    w.Close(w.OpenFull("url ", 0, 1));  // media data in this file
    w.Close(dref);
    w.Close(dinf);

    const size_t stbl = w.Open("stbl");
    const size_t stsd = w.OpenFull("stsd", 0, 0);
    w.U32(1);
    w.Append(d.sample_entry);
    w.Close(stsd);

    const size_t stts = w.OpenFull("stts", 0, 0);
    w.U32(static_cast<uint32_t>(t.duration_runs.size()));
    for (auto [count, duration] : t.duration_runs) {
        w.U32(count);
        w.U32(duration);
    }
    w.Close(stts);

    if (!t.composition_runs.empty()) {
        const size_t ctts = w.OpenFull("ctts", 0, 0);
        w.U32(static_cast<uint32_t>(t.composition_runs.size()));
        for (auto [count, offset] : t.composition_runs) {
            w.U32(count);
            w.U32(static_cast<uint32_t>(offset + composition_shift));
        }
        w.Close(ctts);
    }

    if (d.write_stss) {
        const size_t stss = w.OpenFull("stss", 0, 0);
        w.U32(static_cast<uint32_t>(t.sync_samples.size()));
        for (uint32_t n : t.sync_samples) w.U32(n);
        w.Close(stss);
    }

    // Runs of chunks holding the same number of samples.
    std::vector<std::pair<uint32_t, uint32_t>> runs;  // first chunk, samples per chunk
    for (size_t i = 0; i < t.chunk_sizes.size(); ++i)
        if (runs.empty() || runs.back().second != t.chunk_sizes[i])
            runs.push_back({static_cast<uint32_t>(i + 1), t.chunk_sizes[i]});
    const size_t stsc = w.OpenFull("stsc", 0, 0);
    w.U32(static_cast<uint32_t>(runs.size()));
    for (auto [first, count] : runs) {
        w.U32(first);
        w.U32(count);
        w.U32(1);
    }
    w.Close(stsc);

    const size_t stsz = w.OpenFull("stsz", 0, 0);
    w.U32(0);
    w.U32(static_cast<uint32_t>(t.sizes.size()));
    for (uint32_t s : t.sizes) w.U32(s);
    w.Close(stsz);

    const bool wide =
        !t.chunk_offsets.empty() && t.chunk_offsets.back() > std::numeric_limits<uint32_t>::max();
    const size_t stco = w.OpenFull(wide ? "co64" : "stco", 0, 0);
    w.U32(static_cast<uint32_t>(t.chunk_offsets.size()));
    for (uint64_t o : t.chunk_offsets) wide ? w.U64(o) : w.U32(static_cast<uint32_t>(o));
    w.Close(stco);

    w.Close(stbl);
    w.Close(minf);
    w.Close(mdia);
    w.Close(trak);
}

}  // namespace

Bytes MovieBox(const std::vector<TrackTables>& tracks) {
    const uint64_t now = CreationTime();
    uint64_t duration = 0;
    for (const auto& t : tracks)
        duration = std::max(duration, ToMovieTime(t.duration, t.description.timescale));

    BoxWriter w;
    const size_t moov = w.Open("moov");
    const bool v1 = duration > std::numeric_limits<uint32_t>::max();
    const size_t mvhd = w.OpenFull("mvhd", v1 ? 1 : 0, 0);
    if (v1) {
        w.U64(now);
        w.U64(now);
        w.U32(kMovieTimescale);
        w.U64(duration);
    } else {
        w.U32(static_cast<uint32_t>(now));
        w.U32(static_cast<uint32_t>(now));
        w.U32(kMovieTimescale);
        w.U32(static_cast<uint32_t>(duration));
    }
    w.U32(0x00010000);  // rate 1.0
    w.U16(0x0100);      // volume 1.0
    w.Zeros(10);
    IdentityMatrix(w);
    w.Zeros(24);
    w.U32(static_cast<uint32_t>(tracks.size() + 1));  // next track id
    w.Close(mvhd);
    for (size_t i = 0; i < tracks.size(); ++i)
        WriteTrack(w, tracks[i], static_cast<uint32_t>(i + 1), now);
    w.Close(moov);
    return w.Take();
}

}  // namespace lindqvale
