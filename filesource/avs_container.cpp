#include "filesource/avs_container.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "filesource/avs_boxes.h"
#include "filesource/unpack.h"
#include "mp4/read_ahead_source.h"

namespace filesource {

void write_error_to_stderr(const std::string& message) {
    std::fprintf(stderr, "BranwickSource: %s\n", message.c_str());
}

bool is_avs_sample_entry(std::string_view type) {
    if (type.size() < 3) return false;
    for (size_t i = 0; i < 3; ++i)
        if ((type[i] | 0x20) != "avs"[i]) return false;
    return true;
}

int64_t to_reference_time(double t, uint32_t timescale) {
    if (timescale == 0) return 0;
    const double value = t / double(timescale) * 10000000.0;
    // Beyond the range of the result the conversion would be undefined.
    if (!(value < 9.2e18)) return std::numeric_limits<int64_t>::max();
    return static_cast<int64_t>(value);
}

std::unique_ptr<AvsContainer> AvsContainer::open(std::shared_ptr<mp4::ByteSource> source,
                                                 ErrorSink errors, size_t read_ahead) {
    std::unique_ptr<AvsContainer> c(new AvsContainer());
    // Box headers, tables and samples are small next to an upstream call.
    if (read_ahead)
        c->source_ = std::make_shared<mp4::ReadAheadSource>(std::move(source), read_ahead);
    else
        c->source_ = std::move(source);
    c->errors_ = std::move(errors);
    try {
        static const mp4::BoxFactory factory = avs_box_factory();
        c->movie_ = mp4::MovieFile::Open(*c->source_, factory);
        c->movie_->CheckTablesFit();
    } catch (const std::exception& e) {
        c->report(e.what());
        return nullptr;
    }
    const auto& mvhd = c->movie_->MovieHeader();
    c->movie_timescale_ = mvhd.timescale;
    c->movie_duration_ = mvhd.duration;
    c->modification_time_ = mvhd.modification_time;
    return c;
}

void AvsContainer::report(const std::string& message) const {
    if (!errors_) return;
    std::string kind;
    for (char ch : message)
        if (!(ch >= '0' && ch <= '9'))
            kind += ch;
        else if (kind.empty() || kind.back() != '#')
            kind += '#';
    int seen = 0;
    {
        std::lock_guard<std::mutex> hold(report_lock_);
        seen = ++report_counts_[kind];
    }
    if (seen <= kRepeatedMessageLimit) errors_(message);
    if (seen == kRepeatedMessageLimit) errors_("further messages like the last one are suppressed");
}

const mp4::Track* AvsContainer::track(uint32_t id) const {
    const mp4::Track* t = movie_->FindTrack(id);
    if (!t) report("no track with id " + std::to_string(id));
    return t;
}

uint32_t AvsContainer::track_count(std::string_view handler) const {
    uint32_t n = 0;
    for (const auto& t : movie_->Tracks()) n += t.HandlerType() == handler;
    return n;
}

uint32_t AvsContainer::first_track_id(std::string_view handler) const {
    for (const auto& t : movie_->Tracks())
        if (t.HandlerType() == handler) return t.Id();
    return 0;
}

std::optional<std::string> AvsContainer::sample_entry_type(uint32_t id) const {
    const mp4::Track* t = track(id);
    if (!t) return std::nullopt;
    try {
        return t->SingleEntryType();
    } catch (const std::exception& e) {
        report(e.what());
        return std::nullopt;
    }
}

uint64_t AvsContainer::sample_count(uint32_t id) const {
    const mp4::Track* t = track(id);
    return t ? t->SampleCount() : 0;
}

uint32_t AvsContainer::track_timescale(uint32_t id) const {
    const mp4::Track* t = track(id);
    return t ? t->Timescale() : 0;
}

namespace {
void set_times(const mp4::SampleInfo& info, uint32_t timescale, TrackSample& out) {
    out.start = to_reference_time(double(info.start), timescale);
    const double stop = double(info.duration) / double(timescale) * 10000000.0 + double(out.start);
    out.stop = stop < 9.2e18 ? static_cast<int64_t>(stop) : std::numeric_limits<int64_t>::max();
    out.sync = info.sync;
}
}  // namespace

const mp4::Track* AvsContainer::begin_read(uint32_t id, uint64_t number, TrackSample& out) const {
    out.length = 0;
    out.start = out.stop = 0;
    out.sync = false;
    const mp4::Track* t = track(id);
    if (t && number == 0) {
        report("sample number 0 is refused");
        return nullptr;
    }
    return t;
}

bool AvsContainer::read_stored_sample(uint32_t id, uint64_t number, TrackSample& out) {
    // The vectors keep their memory from earlier reads: a player reads sample
    // after sample into the same TrackSample, and fresh pages cost more than
    // the copy. Sizes are only ever set, so no byte is zeroed needlessly.
    const mp4::Track* t = begin_read(id, number, out);
    if (!t) return false;
    mp4::SampleInfo info;
    try {
        std::lock_guard<std::mutex> hold(read_lock_);
        info = movie_->InfoOf(*t, number);
        out.stored.resize(info.size);
        mp4::ReadExactAt(*source_, info.offset, out.stored.data(), info.size);
    } catch (const std::exception& e) {
        report(e.what());
        return false;
    }
    if (out.stored.empty()) return false;
    set_times(info, t->Timescale(), out);
    out.length = static_cast<uint32_t>(out.stored.size());
    return true;
}

AvsContainer::DirectRead AvsContainer::read_stored_sample_into(uint32_t id, uint64_t number,
                                                               std::span<uint8_t> buffer,
                                                               TrackSample& out) {
    const mp4::Track* t = begin_read(id, number, out);
    if (!t) return DirectRead::kFailed;
    mp4::SampleInfo info;
    try {
        std::lock_guard<std::mutex> hold(read_lock_);
        // Looked up once; the size decides between reading and handing back.
        info = movie_->InfoOf(*t, number);
        if (info.size <= buffer.size())
            mp4::ReadExactAt(*source_, info.offset, buffer.data(), info.size);
    } catch (const std::exception& e) {
        report(e.what());
        return DirectRead::kFailed;
    }
    if (info.size == 0) return DirectRead::kFailed;
    set_times(info, t->Timescale(), out);
    out.length = info.size;
    return info.size <= buffer.size() ? DirectRead::kRead : DirectRead::kTooLarge;
}

bool AvsContainer::read_track_sample(uint32_t id, uint64_t number, TrackSample& out) {
    // Times and sync flag are filled in even when the units of a video sample
    // do not fit it: the key-frame search needs the sample's start.
    if (!read_stored_sample(id, number, out)) {
        out.bytes.clear();
        return false;
    }
    const mp4::Track* t = track(id);
    if (t->HandlerType() == kVideoHandler) {
        if (!unpack_video_sample(out.stored, out.bytes)) {
            report("video sample " + std::to_string(number) + " holds a unit that does not fit it");
            out.length = kInvalidSampleLength;
            return false;
        }
    } else {
        out.bytes.swap(out.stored);
    }
    out.length = static_cast<uint32_t>(out.bytes.size());
    return out.length != 0;
}

}  // namespace filesource
