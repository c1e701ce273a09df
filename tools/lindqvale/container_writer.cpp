#include "tools/lindqvale/container_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>

namespace lindqvale {

namespace {

constexpr uint32_t kMovieTimescale = 1000;
// Seconds between 1904-01-01 (the format's epoch) and 1970-01-01.
constexpr uint64_t kEpochOffset = 2082844800;

// What the moov box needs to know about one written track.
struct TrackTables {
    TrackDescription description;
    std::vector<uint32_t> sizes;
    std::vector<std::pair<uint32_t, uint32_t>> duration_runs;  // count, duration
    std::vector<uint32_t> sync_samples;
    std::vector<uint64_t> chunk_offsets;
    std::vector<uint32_t> chunk_sizes;  // samples per chunk
    uint64_t duration = 0;
};

// The output file under its temporary name; removed unless committed.
class TemporaryFile {
  public:
    explicit TemporaryFile(const std::string& target) : target_(target) {
        temp_ = target + ".tmp-XXXXXX";
        const int fd = mkstemp(temp_.data());
        if (fd < 0) throw LindqvaleError("cannot create " + target + ": " + std::strerror(errno));
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
        file_ = fdopen(fd, "wb");
        if (!file_) {
            ::close(fd);
            ::unlink(temp_.c_str());
            throw LindqvaleError("cannot write " + temp_);
        }
        std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
    }
    ~TemporaryFile() {
        if (file_) std::fclose(file_);
        if (!committed_) ::unlink(temp_.c_str());
    }
    std::FILE* file() { return file_; }
    void write(const void* p, size_t n) {
        if (n && std::fwrite(p, 1, n, file_) != n)
            throw LindqvaleError("cannot write " + temp_ + ": " + std::strerror(errno));
    }
    uint64_t position() { return static_cast<uint64_t>(ftello(file_)); }
    void write_at(uint64_t at, const Bytes& b) {
        const off_t back = ftello(file_);
        if (fseeko(file_, static_cast<off_t>(at), SEEK_SET) != 0)
            throw LindqvaleError("cannot seek");
        write(b.data(), b.size());
        if (fseeko(file_, back, SEEK_SET) != 0) throw LindqvaleError("cannot seek");
    }
    void commit() {
        const bool ok = std::fflush(file_) == 0 && fsync(fileno(file_)) == 0;
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        if (!ok || !closed)
            throw LindqvaleError("cannot write " + temp_ + ": " + std::strerror(errno));
        if (std::rename(temp_.c_str(), target_.c_str()) != 0)
            throw LindqvaleError("cannot rename " + temp_ + " to " + target_ + ": " +
                                 std::strerror(errno));
        committed_ = true;
    }

  private:
    std::string target_, temp_;
    std::FILE* file_ = nullptr;
    bool committed_ = false;
};

void identity_matrix(BoxWriter& w) {
    for (uint32_t v : {0x00010000u, 0u, 0u, 0u, 0x00010000u, 0u, 0u, 0u, 0x40000000u}) w.u32(v);
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

Bytes movie_box(const std::vector<TrackTables>& tracks) {
    const uint64_t now = static_cast<uint64_t>(std::time(nullptr)) + kEpochOffset;
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

// One source being drained into the mdat.
struct TrackState {
    SampleSource* source = nullptr;
    Sample pending;
    bool has_pending = false;
    uint64_t start = 0;  // of the pending sample
    uint32_t timescale_hint = 0;
    TrackTables tables;
};

}  // namespace

Bytes file_type_box() {
    BoxWriter w;
    const size_t ftyp = w.open("ftyp");
    w.fourcc("avs2");
    w.u32(0);
    w.fourcc("avs2");
    w.fourcc("isom");
    w.close(ftyp);
    return w.take();
}

std::vector<WrittenTrack> write_container(const std::string& path,
                                          const std::vector<SampleSource*>& sources) {
    TemporaryFile out(path);
    out.write(file_type_box().data(), 24);
    const uint64_t mdat_at = out.position();
    BoxWriter mdat_header;
    mdat_header.u32(1);  // the size follows as 64 bits
    mdat_header.fourcc("mdat");
    mdat_header.u64(0);
    out.write(mdat_header.data().data(), 16);

    std::vector<TrackState> tracks;
    for (SampleSource* s : sources) {
        TrackState t;
        t.source = s;
        t.has_pending = s->next(t.pending);
        // The time scale is only final once every sample is pulled, but it is
        // fixed from the first sample on for both kinds of source.
        t.timescale_hint = s->description().timescale;
        if (t.timescale_hint == 0) throw LindqvaleError("a track has no time scale");
        tracks.push_back(std::move(t));
    }

    uint64_t position = out.position();
    for (;;) {
        // The next chunk boundary: the end of the second in which the earliest
        // pending sample starts, so every round writes at least one sample.
        uint64_t second = std::numeric_limits<uint64_t>::max();
        for (const auto& t : tracks)
            if (t.has_pending) second = std::min(second, t.start / t.timescale_hint);
        if (second == std::numeric_limits<uint64_t>::max()) break;
        for (auto& t : tracks) {
            uint32_t in_chunk = 0;
            while (t.has_pending && t.start < (second + 1) * t.timescale_hint) {
                if (in_chunk == 0) t.tables.chunk_offsets.push_back(position);
                Sample& s = t.pending;
                if (s.bytes.size() > std::numeric_limits<uint32_t>::max())
                    throw LindqvaleError("a sample is larger than 4 GiB");
                out.write(s.bytes.data(), s.bytes.size());
                position += s.bytes.size();
                auto& tb = t.tables;
                tb.sizes.push_back(static_cast<uint32_t>(s.bytes.size()));
                if (tb.sizes.size() > std::numeric_limits<uint32_t>::max())
                    throw LindqvaleError("too many samples");
                if (s.sync) tb.sync_samples.push_back(static_cast<uint32_t>(tb.sizes.size()));
                if (!tb.duration_runs.empty() && tb.duration_runs.back().second == s.duration)
                    ++tb.duration_runs.back().first;
                else
                    tb.duration_runs.push_back({1, s.duration});
                tb.duration += s.duration;
                t.start += s.duration;
                ++in_chunk;
                t.has_pending = t.source->next(t.pending);
            }
            if (in_chunk) t.tables.chunk_sizes.push_back(in_chunk);
        }
    }

    BoxWriter size;
    size.u64(position - mdat_at);
    out.write_at(mdat_at + 8, size.data());

    std::vector<TrackTables> tables;
    std::vector<WrittenTrack> written;
    for (auto& t : tracks) {
        t.tables.description = t.source->description();
        written.push_back(
            {t.tables.sizes.size(), t.tables.duration, t.tables.description.timescale});
        tables.push_back(std::move(t.tables));
    }
    const Bytes moov = movie_box(tables);
    out.write(moov.data(), moov.size());
    out.commit();
    return written;
}

}  // namespace lindqvale
