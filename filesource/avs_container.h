// The AVS media container as the filter sees it: open through a byte source,
// track queries and sample reads. Nothing here throws: faults of the box reader
// are caught at this boundary, reported to the error sink, and turned into
// "nothing", 0 or a failed read.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mp4/byte_source.h"
#include "mp4/movie_file.h"

namespace filesource {

// Handler types of the two tracks the filter plays.
inline constexpr std::string_view kVideoHandler = "vide";
inline constexpr std::string_view kAudioHandler = "soun";

// True for the sample entry types the filter plays as video: those that begin
// with "avs", in any case.
bool is_avs_sample_entry(std::string_view type);

// Receives the box reader's error text; by default it goes to standard error.
using ErrorSink = std::function<void(const std::string&)>;
void write_error_to_stderr(const std::string& message);

// A container time in 100 ns units: trunc((t / timescale) * 10,000,000) in
// double precision, in that order. Saturates instead of overflowing.
int64_t to_reference_time(double t, uint32_t timescale);

// One sample as read_track_sample hands it over. The caller owns the bytes.
struct TrackSample {
    std::vector<uint8_t> bytes;
    // bytes.size(), or kInvalidSampleLength when a video sample's units do not
    // fit it (its times and sync flag are then still filled in).
    uint32_t length = 0;
    int64_t start = 0;  // 100 ns
    int64_t stop = 0;   // 100 ns
    bool sync = false;
    // The stored form as read; kept so that repeated reads reuse its memory.
    std::vector<uint8_t> stored;
};

class AvsContainer {
  public:
    // Builds the box tree from the whole source and caches the movie header.
    // Null on any fault (there is no partial result).
    // The source is read through a read-ahead window of `read_ahead` bytes
    // (0: none), so that small reads do not each cost an upstream call.
    static std::unique_ptr<AvsContainer> open(std::shared_ptr<mp4::ByteSource> source,
                                              ErrorSink errors = write_error_to_stderr,
                                              size_t read_ahead = kDefaultReadAhead);
    // Small: the audio chunk between two video chunks is what the window
    // serves in play, and every refill also copies the video after it, which
    // is read again straight into its own buffers.
    static constexpr size_t kDefaultReadAhead = 64 << 10;

    // Tracks whose handler is `handler` ("vide", "soun").
    uint32_t track_count(std::string_view handler) const;
    // Id of the first such track, or 0 when there is none.
    uint32_t first_track_id(std::string_view handler) const;
    // Type of the track's only sample entry; nothing when the track is unknown
    // or its stsd does not hold exactly one entry.
    std::optional<std::string> sample_entry_type(uint32_t track) const;
    // 0 for an unknown track.
    uint64_t sample_count(uint32_t track) const;
    uint32_t track_timescale(uint32_t track) const;

    uint32_t movie_timescale() const { return movie_timescale_; }
    uint64_t movie_duration() const { return movie_duration_; }
    uint64_t modification_time() const { return modification_time_; }
    // The presentation duration in 100 ns, as both output streams report it.
    int64_t duration_100ns() const {
        return to_reference_time(double(movie_duration_), movie_timescale_);
    }

    // Reads sample `number` (counted from 1; 0 is refused) of a track, with its
    // times in 100 ns and its sync flag. Samples of the video ("vide") track
    // are unpacked into the elementary-stream form. Returns false on any fault
    // and for a sample of zero bytes; a video sample whose units do not fit it
    // comes back with length kInvalidSampleLength. Reads of one container are
    // serialised, so worker threads may share it.
    bool read_track_sample(uint32_t track, uint64_t number, TrackSample& out);
    // The same without the unpacking: out.stored holds the sample as stored,
    // out.bytes is left alone, out.length is the stored size. For a caller that
    // unpacks straight into its own buffer.
    bool read_stored_sample(uint32_t track, uint64_t number, TrackSample& out);

    enum class DirectRead { kRead, kTooLarge, kFailed };
    // The same again, but the stored bytes go straight into `buffer` (a media
    // sample's, say) and out.bytes and out.stored are left alone. kRead: the
    // first out.length bytes of `buffer` hold the sample. kTooLarge: nothing
    // was read or reported; out.length is the size the sample needs and the
    // times are filled in, so the caller can take a path of its own. kFailed:
    // as a false from read_stored_sample.
    DirectRead read_stored_sample_into(uint32_t track, uint64_t number, std::span<uint8_t> buffer,
                                       TrackSample& out);

    const mp4::MovieFile& movie() const { return *movie_; }

    // How many times one kind of message (its text with the numbers left out)
    // goes to the error sink before one line says the rest are suppressed: a
    // file with many unreadable samples must not flood the sink.
    static constexpr int kRepeatedMessageLimit = 5;

  private:
    AvsContainer() = default;
    const mp4::Track* track(uint32_t id) const;
    void report(const std::string& message) const;
    // Clears `out` and finds the track; false (reported) for an unknown track
    // or sample number 0.
    const mp4::Track* begin_read(uint32_t id, uint64_t number, TrackSample& out) const;

    std::shared_ptr<mp4::ByteSource> source_;
    std::unique_ptr<mp4::MovieFile> movie_;
    ErrorSink errors_;
    mutable std::mutex report_lock_;  // both workers and the seek report
    mutable std::map<std::string, int> report_counts_;
    std::mutex read_lock_;
    uint32_t movie_timescale_ = 0;
    uint64_t movie_duration_ = 0;
    uint64_t modification_time_ = 0;
};

}  // namespace filesource
