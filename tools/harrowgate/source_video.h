#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "tools/harrowgate/frame.h"

namespace harrowgate {

class SourceError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The video of a media file, decoded and scaled to one 4:2:0 size: with FFmpeg here
// (source_video.cpp), through the system's DirectShow on Windows (source_video_dshow.cpp).
class SourceVideo {
  public:
    struct State;  // what the platform's reading keeps

    // Throws SourceError with a one-line reason when the file cannot be opened or has no video.
    explicit SourceVideo(const std::string& path);
    ~SourceVideo();
    SourceVideo(const SourceVideo&) = delete;
    SourceVideo& operator=(const SourceVideo&) = delete;

    int Width() const;
    int Height() const;
    double FrameRate() const;        // the stream's rate, or 25 when it declares none
    int64_t ExpectedFrames() const;  // from the container's count or duration; 0 if unknown

    // Pictures are scaled to width x height and delivered in frames of frame_width x
    // frame_height (at least as large), the picture in the top-left corner and its last
    // column and row repeated beyond it (call before the first Next()).
    void SetOutputSize(int width, int height, int frame_width, int frame_height);

    // The next picture and its presentation time in milliseconds from the first picture;
    // false at the end of the stream. Undecodable packets are passed over.
    bool Next(Frame& frame, int64_t& time_ms);

  private:
    std::unique_ptr<State> state_;
};

}  // namespace harrowgate
