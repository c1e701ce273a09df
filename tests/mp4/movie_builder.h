// Builds small ISO base media files in memory for reader tests, with control
// over every table so that faulty files can be made too.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testing_mp4 {

using Bytes = std::vector<uint8_t>;

inline void put8(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
}
inline void put16(Bytes& b, uint32_t v) {
    put8(b, v >> 8);
    put8(b, v);
}
inline void put32(Bytes& b, uint32_t v) {
    put16(b, v >> 16);
    put16(b, v);
}
inline void put64(Bytes& b, uint64_t v) {
    put32(b, static_cast<uint32_t>(v >> 32));
    put32(b, static_cast<uint32_t>(v));
}
inline void put4cc(Bytes& b, const std::string& s) {
    b.insert(b.end(), s.begin(), s.begin() + 4);
}
inline void append(Bytes& b, const Bytes& more) {
    b.insert(b.end(), more.begin(), more.end());
}

inline Bytes box(const std::string& type, const Bytes& payload, bool large = false) {
    Bytes b;
    if (large) {
        put32(b, 1);
        put4cc(b, type);
        put64(b, payload.size() + 16);
    } else {
        put32(b, static_cast<uint32_t>(payload.size() + 8));
        put4cc(b, type);
    }
    append(b, payload);
    return b;
}

inline Bytes full_box(const std::string& type, uint8_t version, uint32_t flags,
                      const Bytes& payload) {
    Bytes p;
    put8(p, version);
    put8(p, flags >> 16);
    put16(p, flags & 0xFFFF);
    append(p, payload);
    return box(type, p);
}

inline Bytes ftyp(const std::string& major, const std::vector<std::string>& compatible) {
    Bytes p;
    put4cc(p, major);
    put32(p, 0);
    for (const auto& c : compatible) put4cc(p, c);
    return box("ftyp", p);
}

// A visual sample entry of the given type with child boxes.
inline Bytes visual_entry(const std::string& type, const Bytes& children, uint16_t dref = 1) {
    Bytes p(6, 0);
    put16(p, dref);
    p.resize(p.size() + 16, 0);
    put16(p, 352);
    put16(p, 288);
    for (uint8_t v : {0x00, 0x48, 0x00, 0x00, 0x00, 0x48, 0x00, 0x00, 0, 0, 0, 0, 0, 1}) put8(p, v);
    std::string name = "AVS1-P2 Coding";
    name.resize(32, '\0');
    p.insert(p.end(), name.begin(), name.end());
    for (uint8_t v : {0x00, 0x18, 0xFF, 0xFF}) put8(p, v);
    append(p, children);
    return box(type, p);
}

inline Bytes avss(const Bytes& sequence_header) {
    Bytes p;
    put8(p, 1);
    put8(p, 0x20);
    put8(p, 0x40);
    put8(p, 0xFF);
    put8(p, 0xF1);
    put16(p, static_cast<uint32_t>(sequence_header.size()));
    append(p, sequence_header);
    return box("avss", p);
}

inline Bytes audio_entry(const std::string& type, uint32_t rate, const Bytes& children,
                         uint16_t dref = 1) {
    Bytes p(6, 0);
    put16(p, dref);
    p.resize(p.size() + 8, 0);
    put16(p, 2);
    put16(p, 16);
    put32(p, 0);
    put32(p, rate << 16);
    append(p, children);
    return box(type, p);
}

struct TrackSpec {
    uint32_t id = 1;
    std::string handler = "vide";
    uint32_t timescale = 90000;
    std::vector<Bytes> entries;  // sample entry boxes for stsd
    std::vector<Bytes> samples;
    std::vector<uint32_t> durations;            // per sample; stts is run-length coded
    std::optional<std::vector<uint32_t>> sync;  // stss when set
    uint32_t samples_per_chunk = 0;             // 0: all in one chunk
    bool co64 = false;
    bool mdhd_v1 = false;
    uint32_t dref_flags = 1;
    bool drop_stts = false;
};

struct MovieSpec {
    Bytes ftyp = testing_mp4::ftyp("avs2", {"avs2", "isom"});
    uint32_t timescale = 1000;
    uint64_t duration = 0;
    bool mvhd_v1 = false;
    bool large_mdat = false;
    std::vector<TrackSpec> tracks;
};

namespace detail {
inline Bytes trak(const TrackSpec& t, uint64_t data_offset) {
    Bytes tkhd;
    put32(tkhd, 0);
    put32(tkhd, 0);
    put32(tkhd, t.id);
    put32(tkhd, 0);
    put32(tkhd, 0);
    tkhd.resize(tkhd.size() + 60, 0);

    uint64_t total = 0;
    for (auto d : t.durations) total += d;
    Bytes mdhd;
    if (t.mdhd_v1) {
        put64(mdhd, 0);
        put64(mdhd, 0);
        put32(mdhd, t.timescale);
        put64(mdhd, total);
    } else {
        put32(mdhd, 0);
        put32(mdhd, 0);
        put32(mdhd, t.timescale);
        put32(mdhd, static_cast<uint32_t>(total));
    }
    put16(mdhd, 0x55C4);
    put16(mdhd, 0);

    Bytes hdlr;
    put32(hdlr, 0);
    put4cc(hdlr, t.handler);
    hdlr.resize(hdlr.size() + 12, 0);
    hdlr.push_back(0);

    Bytes dref;
    put32(dref, 1);
    append(dref, full_box("url ", 0, t.dref_flags, {}));

    Bytes stsd;
    put32(stsd, static_cast<uint32_t>(t.entries.size()));
    for (const auto& e : t.entries) append(stsd, e);

    Bytes stts;
    std::vector<std::pair<uint32_t, uint32_t>> runs;
    for (auto d : t.durations) {
        if (!runs.empty() && runs.back().second == d)
            ++runs.back().first;
        else
            runs.push_back({1, d});
    }
    put32(stts, static_cast<uint32_t>(runs.size()));
    for (auto [n, d] : runs) {
        put32(stts, n);
        put32(stts, d);
    }

    Bytes stsz;
    put32(stsz, 0);
    put32(stsz, static_cast<uint32_t>(t.samples.size()));
    for (const auto& s : t.samples) put32(stsz, static_cast<uint32_t>(s.size()));

    const uint32_t per_chunk =
        t.samples_per_chunk ? t.samples_per_chunk : std::max<uint32_t>(1, t.samples.size());
    Bytes stsc;
    put32(stsc, 1);
    put32(stsc, 1);
    put32(stsc, per_chunk);
    put32(stsc, 1);

    std::vector<uint64_t> offsets;
    uint64_t pos = data_offset;
    for (size_t i = 0; i < t.samples.size(); ++i) {
        if (i % per_chunk == 0) offsets.push_back(pos);
        pos += t.samples[i].size();
    }
    if (offsets.empty()) offsets.push_back(data_offset);
    Bytes stco;
    put32(stco, static_cast<uint32_t>(offsets.size()));
    for (auto o : offsets) t.co64 ? put64(stco, o) : put32(stco, static_cast<uint32_t>(o));

    Bytes stbl = full_box("stsd", 0, 0, stsd);
    if (!t.drop_stts) append(stbl, full_box("stts", 0, 0, stts));
    append(stbl, full_box("stsc", 0, 0, stsc));
    append(stbl, full_box("stsz", 0, 0, stsz));
    append(stbl, full_box(t.co64 ? "co64" : "stco", 0, 0, stco));
    if (t.sync) {
        Bytes stss;
        put32(stss, static_cast<uint32_t>(t.sync->size()));
        for (auto s : *t.sync) put32(stss, s);
        append(stbl, full_box("stss", 0, 0, stss));
    }

    Bytes minf = box("dinf", full_box("dref", 0, 0, dref));
    append(minf, box("stbl", stbl));
    Bytes mdia = full_box("mdhd", t.mdhd_v1 ? 1 : 0, 0, mdhd);
    append(mdia, full_box("hdlr", 0, 0, hdlr));
    append(mdia, box("minf", minf));
    Bytes trak = full_box("tkhd", 0, 7, tkhd);
    append(trak, box("mdia", mdia));
    return box("trak", trak);
}
}  // namespace detail

// ftyp, mdat (every track's samples in turn), moov.
inline Bytes build_movie(const MovieSpec& m) {
    Bytes file = m.ftyp;
    Bytes data;
    std::vector<uint64_t> starts;
    const uint64_t mdat_header = m.large_mdat ? 16 : 8;
    for (const auto& t : m.tracks) {
        starts.push_back(file.size() + mdat_header + data.size());
        for (const auto& s : t.samples) append(data, s);
    }
    append(file, box("mdat", data, m.large_mdat));

    Bytes mvhd;
    if (m.mvhd_v1) {
        put64(mvhd, 0);
        put64(mvhd, 1234);
        put32(mvhd, m.timescale);
        put64(mvhd, m.duration);
    } else {
        put32(mvhd, 0);
        put32(mvhd, 1234);
        put32(mvhd, m.timescale);
        put32(mvhd, static_cast<uint32_t>(m.duration));
    }
    mvhd.resize(mvhd.size() + 80, 0);
    Bytes moov = full_box("mvhd", m.mvhd_v1 ? 1 : 0, 0, mvhd);
    for (size_t i = 0; i < m.tracks.size(); ++i) append(moov, detail::trak(m.tracks[i], starts[i]));
    append(file, box("moov", moov));
    return file;
}

}  // namespace testing_mp4
