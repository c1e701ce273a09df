#include "rtspstream/time_line.h"

#include <cstdint>

#include "rtspstream/trace.h"

namespace rtspstream {

namespace {

constexpr double kUnitsPerSecond = 10000000.0;
constexpr uint64_t kDecreaseLimit = uint64_t(1) << 31;
// Consecutive packets of one medium are never this far apart (about 3.5
// minutes) except across a seek: a step beyond it that is not a wrap of the
// 32-bit time stamp is a discontinuity, never a place on the time line.
constexpr uint64_t kJumpLimit = uint64_t(1) << 31;
constexpr int64_t kSameBaseSeconds = 100;

// Truncation of a double to 64 bits, kept inside the range so that no value
// (huge offsets after many wraps) can make the conversion undefined.
uint64_t ToUnits(double value) {
    if (!(value > 0)) return 0;
    if (value >= 1.8e19) return UINT64_MAX;
    return static_cast<uint64_t>(value);
}

}  // namespace

uint64_t TimeLine::Convert(uint32_t timestamp, uint32_t clock) {
    if (clock == 0) return 0;
    return ToUnits(static_cast<double>(timestamp) / clock * kUnitsPerSecond);
}

void TimeLine::Reset() {
    *this = TimeLine();
}

void TimeLine::Reposition() {
    video_.reposition = audio_.reposition = true;
}

void TimeLine::StartIfFirst(uint32_t timestamp, uint32_t clock) {
    if (!first_packet_) return;
    first_packet_ = false;
    video_.base = audio_.base = Convert(timestamp, clock);
}

int64_t TimeLine::Step(Medium medium, uint32_t timestamp, uint32_t clock) {
    State& s = medium == Medium::kVideo ? video_ : audio_;
    const char* name = medium == Medium::kVideo ? "video" : "audio";
    int64_t time = 0;
    if (s.first) {
        s.first = false;
        s.clock = clock;
        uint64_t t = Convert(timestamp, s.clock);
        // A medium more than 100 s away from the common base gets its own.
        int64_t distance = (static_cast<int64_t>(s.base) - static_cast<int64_t>(t)) / 10000000;
        if (distance > kSameBaseSeconds || distance < -kSameBaseSeconds) s.base = t;
        s.prev = t;
        s.prev_timestamp = timestamp;
        s.last_time = 0;
        s.reposition = false;
        return 0;
    }
    uint64_t t = Convert(timestamp, s.clock);
    bool far = false;
    if (s.reposition) {
        s.reposition = false;
        s.jumped = false;
    } else if (t < s.prev) {
        if (s.prev - t <= kDecreaseLimit) {
            Trace("%s time stamp decrease detect\n", name);
        } else if (Convert(timestamp - s.prev_timestamp, s.clock) <= kJumpLimit) {
            // A wrap of the 32-bit time stamp: continue from where it was.
            Trace("%s time adjust\n", name);
            int64_t add = static_cast<int64_t>(s.prev);
            s.offset = s.offset > INT64_MAX - add ? INT64_MAX : s.offset + add;
        } else {
            far = true;
        }
    } else if (t - s.prev > kJumpLimit) {
        far = true;
    }
    if (far) {
        uint64_t apart = t > s.jumped_to ? t - s.jumped_to : s.jumped_to - t;
        if (!s.jumped || apart > kJumpLimit) {
            // One packet far off may be a stray: it keeps the last time, and the
            // time line stays where it was until the next packet tells.
            Trace("%s time stamp jump\n", name);
            s.jumped = true;
            s.jumped_to = t;
            return s.last_time;
        }
        // The sender's clock did move: the time line goes on from where it
        // was, as if the jump had not happened.
        int64_t moved = static_cast<int64_t>(s.jumped_to) - static_cast<int64_t>(s.prev);
        if (moved > 0 && s.offset < INT64_MIN + moved)
            s.offset = INT64_MIN;
        else if (moved < 0 && s.offset > INT64_MAX + moved)
            s.offset = INT64_MAX;
        else
            s.offset -= moved;
    }
    s.jumped = false;
    uint64_t u = s.clock == 0 ? ToUnits(static_cast<double>(s.offset))
                              : ToUnits(static_cast<double>(timestamp) / s.clock * kUnitsPerSecond +
                                        static_cast<double>(s.offset));
    uint64_t since = u > s.base ? u - s.base : 0;
    time = since > uint64_t(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(since);
    s.prev = t;
    s.prev_timestamp = timestamp;
    s.last_time = time;
    return time;
}

}  // namespace rtspstream
