#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace rtspstream {

// Where the video bit-rate log goes: $AVS_BITRATE_LOG when set, else
// $XDG_STATE_HOME/avs-toolset/VideoBitRate.log, else
// ~/.local/state/avs-toolset/VideoBitRate.log, else ./VideoBitRate.log.
std::string BitRateLogPath();

// Writes the video bit rate once a minute, in kbit/s, one number a line. The
// first minute after loading starts the file afresh; later minutes append.
// Shared by every video pin of the module.
class BitRateLog {
  public:
    explicit BitRateLog(std::string path) : path_(std::move(path)) {}
    // Counts one sample's bytes at now_ms (a millisecond clock).
    void Add(uint32_t length, uint64_t now_ms);
    static BitRateLog& Module();  // the module-wide log, at BitRateLogPath()

  private:
    std::mutex mutex_;
    std::string path_;
    uint64_t start_ms_ = 0;
    uint64_t bytes_ = 0;
    int writes_ = 0;
};

}  // namespace rtspstream
