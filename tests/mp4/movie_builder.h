// Builds small ISO base media files in memory for reader tests, with control
// over every table so that faulty files can be made too.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testing_mp4 {

using Bytes = std::vector<uint8_t>;

inline void Put8(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
}
inline void Put16(Bytes& b, uint32_t v) {
    Put8(b, v >> 8);
    Put8(b, v);
}
inline void Put32(Bytes& b, uint32_t v) {
    Put16(b, v >> 16);
    Put16(b, v);
}
inline void Put64(Bytes& b, uint64_t v) {
    Put32(b, static_cast<uint32_t>(v >> 32));
    Put32(b, static_cast<uint32_t>(v));
}
inline void Put4cc(Bytes& b, const std::string& s) {
    b.insert(b.end(), s.begin(), s.begin() + 4);
}
inline void Append(Bytes& b, const Bytes& more) {
    b.insert(b.end(), more.begin(), more.end());
}

inline Bytes Box(const std::string& type, const Bytes& payload, bool large = false) {
    Bytes b;
    if (large) {
        Put32(b, 1);
        Put4cc(b, type);
        Put64(b, payload.size() + 16);
    } else {
        Put32(b, static_cast<uint32_t>(payload.size() + 8));
        Put4cc(b, type);
    }
    Append(b, payload);
    return b;
}

inline Bytes FullBox(const std::string& type, uint8_t version, uint32_t flags,
                     const Bytes& payload) {
    Bytes p;
    Put8(p, version);
    Put8(p, flags >> 16);
    Put16(p, flags & 0xFFFF);
    Append(p, payload);
    return Box(type, p);
}

inline Bytes Ftyp(const std::string& major, const std::vector<std::string>& compatible) {
    Bytes p;
    Put4cc(p, major);
    Put32(p, 0);
    for (const auto& c : compatible) Put4cc(p, c);
    return Box("ftyp", p);
}

// A visual sample entry of the given type with child boxes.
inline Bytes VisualEntry(const std::string& type, const Bytes& children, uint16_t dref = 1) {
    Bytes p(6, 0);
    Put16(p, dref);
    p.resize(p.size() + 16, 0);
    Put16(p, 352);
    Put16(p, 288);
    for (uint8_t v : {0x00, 0x48, 0x00, 0x00, 0x00, 0x48, 0x00, 0x00, 0, 0, 0, 0, 0, 1}) Put8(p, v);
    std::string name = "AVS1-P2 Coding";
    name.resize(32, '\0');
    p.insert(p.end(), name.begin(), name.end());
    for (uint8_t v : {0x00, 0x18, 0xFF, 0xFF}) Put8(p, v);
    Append(p, children);
    return Box(type, p);
}

inline Bytes Avss(const Bytes& sequence_header) {
    Bytes p;
    Put8(p, 1);
    Put8(p, 0x20);
    Put8(p, 0x40);
    Put8(p, 0xFF);
    Put8(p, 0xF1);
    Put16(p, static_cast<uint32_t>(sequence_header.size()));
    Append(p, sequence_header);
    return Box("avss", p);
}

inline Bytes AudioEntry(const std::string& type, uint32_t rate, const Bytes& children,
                        uint16_t dref = 1) {
    Bytes p(6, 0);
    Put16(p, dref);
    p.resize(p.size() + 8, 0);
    Put16(p, 2);
    Put16(p, 16);
    Put32(p, 0);
    Put32(p, rate << 16);
    Append(p, children);
    return Box(type, p);
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
    Bytes ftyp = testing_mp4::Ftyp("avs2", {"avs2", "isom"});
    uint32_t timescale = 1000;
    uint64_t duration = 0;
    bool mvhd_v1 = false;
    bool large_mdat = false;
    std::vector<TrackSpec> tracks;
};

namespace detail {
inline Bytes Trak(const TrackSpec& t, uint64_t data_offset) {
    Bytes tkhd;
    Put32(tkhd, 0);
    Put32(tkhd, 0);
    Put32(tkhd, t.id);
    Put32(tkhd, 0);
    Put32(tkhd, 0);
    tkhd.resize(tkhd.size() + 60, 0);

    uint64_t total = 0;
    for (auto d : t.durations) total += d;
    Bytes mdhd;
    if (t.mdhd_v1) {
        Put64(mdhd, 0);
        Put64(mdhd, 0);
        Put32(mdhd, t.timescale);
        Put64(mdhd, total);
    } else {
        Put32(mdhd, 0);
        Put32(mdhd, 0);
        Put32(mdhd, t.timescale);
        Put32(mdhd, static_cast<uint32_t>(total));
    }
    Put16(mdhd, 0x55C4);
    Put16(mdhd, 0);

    Bytes hdlr;
    Put32(hdlr, 0);
    Put4cc(hdlr, t.handler);
    hdlr.resize(hdlr.size() + 12, 0);
    hdlr.push_back(0);

    Bytes dref;
    Put32(dref, 1);
    Append(dref, FullBox("url ", 0, t.dref_flags, {}));

    Bytes stsd;
    Put32(stsd, static_cast<uint32_t>(t.entries.size()));
    for (const auto& e : t.entries) Append(stsd, e);

    Bytes stts;
    std::vector<std::pair<uint32_t, uint32_t>> runs;
    for (auto d : t.durations) {
        if (!runs.empty() && runs.back().second == d)
            ++runs.back().first;
        else
            runs.push_back({1, d});
    }
    Put32(stts, static_cast<uint32_t>(runs.size()));
    for (auto [n, d] : runs) {
        Put32(stts, n);
        Put32(stts, d);
    }

    Bytes stsz;
    Put32(stsz, 0);
    Put32(stsz, static_cast<uint32_t>(t.samples.size()));
    for (const auto& s : t.samples) Put32(stsz, static_cast<uint32_t>(s.size()));

    const uint32_t per_chunk =
        t.samples_per_chunk ? t.samples_per_chunk : std::max<uint32_t>(1, t.samples.size());
    Bytes stsc;
    Put32(stsc, 1);
    Put32(stsc, 1);
    Put32(stsc, per_chunk);
    Put32(stsc, 1);

    std::vector<uint64_t> offsets;
    uint64_t pos = data_offset;
    for (size_t i = 0; i < t.samples.size(); ++i) {
        if (i % per_chunk == 0) offsets.push_back(pos);
        pos += t.samples[i].size();
    }
    if (offsets.empty()) offsets.push_back(data_offset);
    Bytes stco;
    Put32(stco, static_cast<uint32_t>(offsets.size()));
    for (auto o : offsets) t.co64 ? Put64(stco, o) : Put32(stco, static_cast<uint32_t>(o));

    Bytes stbl = FullBox("stsd", 0, 0, stsd);
    if (!t.drop_stts) Append(stbl, FullBox("stts", 0, 0, stts));
    Append(stbl, FullBox("stsc", 0, 0, stsc));
    Append(stbl, FullBox("stsz", 0, 0, stsz));
    Append(stbl, FullBox(t.co64 ? "co64" : "stco", 0, 0, stco));
    if (t.sync) {
        Bytes stss;
        Put32(stss, static_cast<uint32_t>(t.sync->size()));
        for (auto s : *t.sync) Put32(stss, s);
        Append(stbl, FullBox("stss", 0, 0, stss));
    }

    Bytes minf = Box("dinf", FullBox("dref", 0, 0, dref));
    Append(minf, Box("stbl", stbl));
    Bytes mdia = FullBox("mdhd", t.mdhd_v1 ? 1 : 0, 0, mdhd);
    Append(mdia, FullBox("hdlr", 0, 0, hdlr));
    Append(mdia, Box("minf", minf));
    Bytes trak = FullBox("tkhd", 0, 7, tkhd);
    Append(trak, Box("mdia", mdia));
    return Box("trak", trak);
}
}  // namespace detail

// ftyp, mdat (every track's samples in turn), moov.
inline Bytes BuildMovie(const MovieSpec& m) {
    Bytes file = m.ftyp;
    Bytes data;
    std::vector<uint64_t> starts;
    const uint64_t mdat_header = m.large_mdat ? 16 : 8;
    for (const auto& t : m.tracks) {
        starts.push_back(file.size() + mdat_header + data.size());
        for (const auto& s : t.samples) Append(data, s);
    }
    Append(file, Box("mdat", data, m.large_mdat));

    Bytes mvhd;
    if (m.mvhd_v1) {
        Put64(mvhd, 0);
        Put64(mvhd, 1234);
        Put32(mvhd, m.timescale);
        Put64(mvhd, m.duration);
    } else {
        Put32(mvhd, 0);
        Put32(mvhd, 1234);
        Put32(mvhd, m.timescale);
        Put32(mvhd, static_cast<uint32_t>(m.duration));
    }
    mvhd.resize(mvhd.size() + 80, 0);
    Bytes moov = FullBox("mvhd", m.mvhd_v1 ? 1 : 0, 0, mvhd);
    for (size_t i = 0; i < m.tracks.size(); ++i) Append(moov, detail::Trak(m.tracks[i], starts[i]));
    Append(file, Box("moov", moov));
    return file;
}

}  // namespace testing_mp4
