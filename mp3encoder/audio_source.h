// The seam between the encoding run and whatever delivers the source's audio.
//
// The run needs two things from the platform: an inspection of the source (its streams listed
// on the console and a length for the progress line) and a graph that connects the source's
// first output that yields 16-bit PCM to a grabbing sink, then runs it to completion,
// calling the sink on its streaming thread for every media sample. The DirectShow graph in
// dshow_source/ (media detector, source filter, sample grabber, null renderer) implements
// them; tests put their own in its place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace quenby {

// Receives the PCM of one media sample: 16-bit little-endian interleaved frames, the start and
// stop times in 100 ns units from the earliest start of any stream in the source.
class PcmSampleSink {
  public:
    virtual ~PcmSampleSink() = default;
    // Returns 0, or a negative value once the sink can take no more (the run has failed).
    virtual int OnSample(const std::uint8_t* data, std::size_t size, std::int64_t start_time,
                         std::int64_t stop_time) = 0;
};

struct SourceInspection {
    bool has_video = false;
    double video_length = 0;  // seconds, of the last video stream listed
    double media_length = 0;  // seconds, of the whole source; 0 when unknown
};

class SourceInspector {
  public:
    virtual ~SourceInspector() = default;
    // Lists the source's streams on `console` and reports what the progress line needs.
    // Failures are printed and leave the lengths at 0; the run goes on.
    virtual SourceInspection Inspect(const std::string& path, FILE* console) = 0;
};

struct PcmFormat {
    unsigned channels = 0;
    unsigned sample_rate = 0;
};

enum class GraphBuildResult {
    kOk,
    kSourceNotFound,     // the source could not be added
    kPinsNotEnumerable,  // the source's outputs could not be listed
    kNotConnected,       // no output of the source connected to the PCM grabber
};

class AudioGraph {
  public:
    virtual ~AudioGraph() = default;
    // Adds the source, connects its first output that gives PCM to the grabber and the
    // grabber to a null renderer.
    virtual GraphBuildResult Build(const std::string& path) = 0;
    // The PCM format the grabber was connected with; valid after a successful Build.
    virtual PcmFormat ConnectedFormat() const = 0;
    // Removes the reference clock so the graph runs as fast as decoding allows.
    virtual bool RemoveClock() = 0;
    // Runs the graph and returns when every sample has been delivered to `sink`. False when
    // the graph could not run.
    virtual bool RunToCompletion(PcmSampleSink& sink) = 0;
};

}  // namespace quenby
