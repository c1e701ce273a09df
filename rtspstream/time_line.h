#pragma once

#include <cstdint>

namespace rtspstream {

enum class Medium { kVideo, kAudio };

// Maps the RTP time stamps of both media onto one 100-ns time line that
// starts at 0, carrying each medium across a time-stamp wrap.
class TimeLine {
  public:
    struct State {
        bool first = true;
        uint32_t clock = 0;
        uint64_t base = 0;
        int64_t offset = 0;
        uint64_t prev = 0;
        uint32_t prev_timestamp = 0;
        int64_t last_time = 0;  // the time last returned
        // A time stamp that jumped far from prev, kept until the next packet
        // shows whether the sender's clock moved or the packet was a stray.
        bool jumped = false;
        uint64_t jumped_to = 0;
        // The next packet follows a new PLAY: its time stamp may lie anywhere.
        bool reposition = false;
    };

    // The time stamp in 100-ns units: timestamp / clock * 10^7 in double
    // precision, truncated. 0 for a clock of 0.
    static uint64_t Convert(uint32_t timestamp, uint32_t clock);

    void Reset();
    // The first accepted packet of the stream sets both bases to its time.
    void StartIfFirst(uint32_t timestamp, uint32_t clock);
    // The frame's time for one packet of that medium; clock is the rate of the
    // first media of its kind, fixed at that medium's first packet.
    int64_t Step(Medium medium, uint32_t timestamp, uint32_t clock);
    // A PLAY was sent: the next packet of each medium may start anywhere
    // (a seek), so it is taken at its word.
    void Reposition();

    bool FirstPacket() const { return first_packet_; }
    const State& Video() const { return video_; }
    const State& Audio() const { return audio_; }

  private:
    bool first_packet_ = true;
    State video_;
    State audio_;
};

}  // namespace rtspstream
