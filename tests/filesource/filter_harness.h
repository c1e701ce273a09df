// Test support for the file source filter: containers built in memory and
// written to temporary files, and a graph that plays one through the filter
// (file reader -> CBranwickSource -> capture renderers) recording what arrives.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "dshow/runtime.h"
#include "filesource/branwick_source.h"
#include "movie_builder.h"
#include "synthetic_avs.h"

namespace filesource::test {

using Bytes = std::vector<uint8_t>;

// Elementary-stream units (each starting 00 00 01) of a stream whose bodies
// hold no 00 00 01, such as the synthetic ones.
std::vector<Bytes> split_units(const Bytes& es);
// One sample per picture: the units before a picture header go with it, the
// units after it (slices, the end code) stay with it.
std::vector<std::vector<Bytes>> group_pictures(const std::vector<Bytes>& units);
// The stored (length-prefixed) form of a picture's units.
Bytes stored_sample(const std::vector<Bytes>& units);
// The elementary-stream form, as the filter delivers it.
Bytes es_sample(const std::vector<Bytes>& units);

// A video track of `pictures`, 25 frames per second in a 90 kHz time scale, with
// stss listing the pictures that do not begin with a P or B picture.
testing_mp4::TrackSpec video_track(const std::vector<std::vector<Bytes>>& pictures);
// An audio track of `frames` samples of `frame_bytes` each, 1152 per frame.
testing_mp4::TrackSpec audio_track(uint32_t id, int frames, uint32_t rate,
                                   std::optional<std::vector<uint32_t>> sync = std::nullopt);

// A temporary file removed with the object.
class TempFile {
  public:
    explicit TempFile(const Bytes& contents);
    ~TempFile();
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// One event as the renderer saw it, bytes copied.
struct Seen {
    avs::dshow::CaptureEvent::Kind kind;
    Bytes data;
    bool has_time = false;
    int64_t start = 0, stop = 0;
    bool sync = false, discontinuity = false;
    int64_t segment_start = 0, segment_stop = 0;
};

class Recorder {
  public:
    void add(const avs::dshow::CaptureEvent& e);
    std::vector<Seen> events();
    std::vector<Seen> samples();  // kSample events only
    int count(avs::dshow::CaptureEvent::Kind kind);
    void clear();

  private:
    std::mutex mutex_;
    std::vector<Seen> events_;
};

class FilterGraph {
  public:
    // Loads `path` into a file reader and puts a new CBranwickSource into the graph.
    explicit FilterGraph(const std::string& path);
    ~FilterGraph();

    // Connects the reader to the filter's input: the result of the connection.
    HRESULT ConnectInput();
    // The filter's own answer to a connection (Load's result), bypassing the
    // reader pin's retries over media types.
    HRESULT ReceiveInput();
    // Capture renderers on every output pin; false when one fails to connect. `also`, when
    // set, sees every event after the recorder, with the pin's name, on the streaming thread.
    bool AttachRenderers(
        std::function<void(const std::wstring&, const avs::dshow::CaptureEvent&)> also = {});
    // Runs without a clock until the graph completes; false on time-out.
    bool RunToEnd(int timeout_ms = 20000);
    HRESULT Seek(int64_t position);
    void Stop();

    CBranwickSource* filter() { return filter_; }
    IGraphBuilder* graph() { return graph_.Get(); }
    // The recorder of the video / audio output (by pin name).
    Recorder& video() { return video_; }
    Recorder& audio() { return audio_; }
    IPin* reader_pin() { return reader_pin_.Get(); }

  private:
    Recorder video_, audio_;  // outlive the renderers that call them
    avs::com::ComPtr<IGraphBuilder> graph_;
    avs::com::ComPtr<IBaseFilter> reader_;
    avs::com::ComPtr<IPin> reader_pin_;
    CBranwickSource* filter_ = nullptr;
    avs::com::ComPtr<IBaseFilter> filter_unknown_;
};

}  // namespace filesource::test
