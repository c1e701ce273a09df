#include "tools/lindqvale/container_writer.h"

#include <cstdio>
#include <limits>
#include <vector>

#include "files/files.h"
#include "tools/lindqvale/movie_box.h"

namespace lindqvale {

namespace {

// The output file under its temporary name; removed unless committed. A target that
// exists and is not a regular file (a FIFO, a device) is written in place instead: renaming
// over it would put a regular file where the FIFO or device node was. The container is then
// built in an unnamed temporary file, since its mdat size is patched at the end, and copied
// into the target once complete.
class TemporaryFile {
  public:
    explicit TemporaryFile(const std::string& target) : target_(target) {
        in_place_ = avs::files::IsSpecialFile(target);
        if (in_place_) {
            temp_ = "a temporary file";
            file_ = std::tmpfile();
            if (!file_)
                throw LindqvaleError("cannot create a temporary file for " + target + ": " +
                                     avs::files::LastErrorText());
        } else {
            file_ = avs::files::CreateTemporaryBeside(target, temp_);
            if (!file_)
                throw LindqvaleError("cannot create " + target + ": " +
                                     avs::files::LastErrorText());
        }
        std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
    }
    ~TemporaryFile() {
        if (file_) std::fclose(file_);
        if (!committed_ && !in_place_) avs::files::RemoveFile(temp_);
    }
    std::FILE* File() { return file_; }
    void Write(const void* p, size_t n) {
        if (n && std::fwrite(p, 1, n, file_) != n)
            throw LindqvaleError("cannot write " + temp_ + ": " + avs::files::LastErrorText());
    }
    uint64_t Position() { return static_cast<uint64_t>(avs::files::Tell(file_)); }
    void WriteAt(uint64_t at, const Bytes& b) {
        const int64_t back = avs::files::Tell(file_);
        if (back < 0 || !avs::files::Seek(file_, static_cast<int64_t>(at), SEEK_SET))
            throw LindqvaleError("cannot seek");
        Write(b.data(), b.size());
        if (!avs::files::Seek(file_, back, SEEK_SET)) throw LindqvaleError("cannot seek");
    }
    void Commit() {
        if (in_place_) {
            CopyIntoTarget();
            return;
        }
        const bool ok = avs::files::Commit(file_);
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        if (!ok || !closed)
            throw LindqvaleError("cannot write " + temp_ + ": " + avs::files::LastErrorText());
        if (!avs::files::RenameOver(temp_, target_))
            throw LindqvaleError("cannot rename " + temp_ + " to " + target_ + ": " +
                                 avs::files::LastErrorText());
        committed_ = true;
    }

  private:
    void CopyIntoTarget() {
        if (std::fflush(file_) != 0 || !avs::files::Seek(file_, 0, SEEK_SET))
            throw LindqvaleError("cannot write " + temp_ + ": " + avs::files::LastErrorText());
        std::FILE* to = avs::files::OpenStream(target_, "wb");
        if (!to)
            throw LindqvaleError("cannot open " + target_ + ": " + avs::files::LastErrorText());
        std::vector<char> piece(1 << 20);
        bool ok = true;
        for (;;) {
            const size_t n = std::fread(piece.data(), 1, piece.size(), file_);
            if (n == 0) break;
            if (std::fwrite(piece.data(), 1, n, to) != n) {
                ok = false;
                break;
            }
        }
        ok = ok && !std::ferror(file_) && std::fflush(to) == 0;
        const std::string reason = avs::files::LastErrorText();
        const bool closed = std::fclose(to) == 0;
        if (!ok || !closed)
            throw LindqvaleError("cannot write " + target_ + ": " +
                                 (ok ? avs::files::LastErrorText() : reason));
        committed_ = true;
    }

    std::string target_, temp_;
    std::FILE* file_ = nullptr;
    bool in_place_ = false;
    bool committed_ = false;
};

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

Bytes FileTypeBox() {
    BoxWriter w;
    const size_t ftyp = w.Open("ftyp");
    w.Fourcc("avs2");
    w.U32(0);
    w.Fourcc("avs2");
    w.Fourcc("isom");
    w.Close(ftyp);
    return w.Take();
}

std::vector<WrittenTrack> WriteContainer(const std::string& path,
                                         const std::vector<SampleSource*>& sources) {
    TemporaryFile out(path);
    out.Write(FileTypeBox().data(), 24);
    const uint64_t mdat_at = out.Position();
    BoxWriter mdat_header;
    mdat_header.U32(1);  // the size follows as 64 bits
    mdat_header.Fourcc("mdat");
    mdat_header.U64(0);
    out.Write(mdat_header.Data().data(), 16);

    std::vector<TrackState> tracks;
    for (SampleSource* s : sources) {
        TrackState t;
        t.source = s;
        t.has_pending = s->Next(t.pending);
        // The time scale is only final once every sample is pulled, but it is
        // fixed from the first sample on for both kinds of source.
        t.timescale_hint = s->Description().timescale;
        if (t.timescale_hint == 0) throw LindqvaleError("a track has no time scale");
        tracks.push_back(std::move(t));
    }

    uint64_t position = out.Position();
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
                out.Write(s.bytes.data(), s.bytes.size());
                position += s.bytes.size();
                auto& tb = t.tables;
                tb.sizes.push_back(static_cast<uint32_t>(s.bytes.size()));
                if (tb.sizes.size() > std::numeric_limits<uint32_t>::max())
                    throw LindqvaleError("too many samples");
                if (s.sync) tb.sync_samples.push_back(static_cast<uint32_t>(tb.sizes.size()));
                // The offsets are written once one is not 0, from the first sample on.
                auto& runs = tb.composition_runs;
                if (s.composition_offset != 0 && runs.empty()) {
                    const auto before = static_cast<uint32_t>(tb.sizes.size() - 1);
                    if (before > 0) runs.push_back({before, 0});
                    runs.push_back({1, s.composition_offset});
                } else if (!runs.empty()) {
                    if (runs.back().second == s.composition_offset)
                        ++runs.back().first;
                    else
                        runs.push_back({1, s.composition_offset});
                }
                if (!tb.duration_runs.empty() && tb.duration_runs.back().second == s.duration)
                    ++tb.duration_runs.back().first;
                else
                    tb.duration_runs.push_back({1, s.duration});
                tb.duration += s.duration;
                t.start += s.duration;
                ++in_chunk;
                t.has_pending = t.source->Next(t.pending);
            }
            if (in_chunk) t.tables.chunk_sizes.push_back(in_chunk);
        }
    }

    BoxWriter size;
    size.U64(position - mdat_at);
    out.WriteAt(mdat_at + 8, size.Data());

    std::vector<TrackTables> tables;
    std::vector<WrittenTrack> written;
    for (auto& t : tracks) {
        t.tables.description = t.source->Description();
        written.push_back(
            {t.tables.sizes.size(), t.tables.duration, t.tables.description.timescale});
        tables.push_back(std::move(t.tables));
    }
    const Bytes moov = MovieBox(tables);
    out.Write(moov.data(), moov.size());
    out.Commit();
    return written;
}

}  // namespace lindqvale
