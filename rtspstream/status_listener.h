#pragma once

#include <atomic>
#include <cstdint>
#include <future>
#include <mutex>
#include <thread>

namespace rtspstream {

class CTallowmere;

inline constexpr uint16_t kStatusPort = 43940;
inline constexpr uint32_t kStatusAddress = 0x7F000001;  // 127.0.0.1

// Answers status queries of other programs on this machine (127.0.0.1, UDP
// port 43940) for the filter
// that loaded last: datagram [2, tag] -> the video bytes queued (4 bytes,
// little-endian) and then [tag]; [3, tag] -> [1 while buffering else 0, tag].
// One per module; started by Load, ended by Stop of any filter.
class StatusListener {
  public:
    static StatusListener& Module();

    // The listener reports on this filter from now on; started when not running.
    void Start(CTallowmere* filter);
    // Ends the thread and waits for it.
    void Stop();
    // A filter going away: stops the listener when it reports on that filter.
    void Forget(CTallowmere* filter);
    bool running() const { return thread_.joinable(); }

  private:
    void Run(std::promise<void>& ready);

    std::mutex mutex_;  // guards filter_ and the thread handle
    CTallowmere* filter_ = nullptr;
    std::atomic<bool> run_{false};
    std::thread thread_;
};

}  // namespace rtspstream
