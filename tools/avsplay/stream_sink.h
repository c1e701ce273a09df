// What avsplay keeps of one delivered stream: counts, first and last times,
// end of stream, and optionally the bytes (to a file), a log line per sample
// and the decoded pictures.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "dshow/runtime.h"
#include "tools/avsplay/video_decoder.h"

namespace avsplay {

// One log file shared by the streams, one line per sample.
class SampleLog {
  public:
    // Throws std::runtime_error when the file cannot be created.
    explicit SampleLog(const std::string& path);
    ~SampleLog();
    void Write(const std::string& stream, const avs::dshow::CaptureEvent& e);
    // False when a write failed.
    bool Close();

  private:
    std::mutex mutex_;
    FILE* file_ = nullptr;
    bool failed_ = false;
};

class StreamSink {
  public:
    // `name` is "video" or "audio" (or the pin's name). An empty `out_path`
    // writes no file. Throws std::runtime_error when the file cannot be created.
    StreamSink(std::string name, const std::string& out_path, SampleLog* log, bool decode);
    ~StreamSink();

    // Called on the streaming thread for each event that reaches the renderer.
    void OnEvent(const avs::dshow::CaptureEvent& e);
    // Flushes the output; false when writing failed.
    bool Finish();

    const std::string& Name() const { return name_; }
    uint64_t Samples() const { return samples_; }
    uint64_t Bytes() const { return bytes_; }
    bool Ended() const { return ended_; }
    bool HasTime() const { return has_time_; }
    int64_t FirstStart() const { return first_start_; }
    int64_t LastStop() const { return last_stop_; }
    const VideoDecoder* Decoder() const { return decoder_.get(); }
    // One summary line.
    std::string Summary() const;

  private:
    std::string name_;
    FILE* out_ = nullptr;
    bool write_failed_ = false;
    SampleLog* log_;
    std::unique_ptr<VideoDecoder> decoder_;
    uint64_t samples_ = 0;
    uint64_t bytes_ = 0;
    bool has_time_ = false;
    int64_t first_start_ = 0;
    int64_t last_stop_ = 0;
    bool ended_ = false;
};

}  // namespace avsplay
