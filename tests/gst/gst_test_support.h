// What the GStreamer plugin's tests share: GStreamer set up on the plugin in
// the build tree, a pipeline run that collects decoded pictures, reference
// pictures from FFmpeg, and servers run as child processes.
#pragma once

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace gsttest {

using Bytes = std::vector<uint8_t>;

inline const std::string kBin = AVS_BIN_DIR;
inline const std::string kData = AVS_TEST_DATA_DIR;
inline const std::string kPluginDir = AVS_GST_PLUGIN_DIR;
inline const std::string kXavs = kData + "/xavs_cif352x288_25fps_IBP_100f.avs";
inline const std::string kRm52j = kData + "/rm52j_cif352x288_25fps_IBBP_gop12_100f.avs";

// GStreamer finds the plugin of this build tree, with a registry of its own.
inline void InitGstreamer() {
    static bool done = false;
    if (done) return;
    setenv("GST_PLUGIN_PATH", kPluginDir.c_str(), 1);
    setenv("GST_REGISTRY", (kPluginDir + "/test-registry.bin").c_str(), 1);
    gst_init(nullptr, nullptr);
    done = true;
}

inline Bytes ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

inline int Shell(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string ShellOutput(const std::string& command) {
    std::string out;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    pclose(p);
    return out;
}

// A fresh directory, removed afterwards.
class TempDir {
  public:
    TempDir() {
        char name[] = "/tmp/gst-avs-test-XXXXXX";
        path_ = mkdtemp(name) ? name : "/tmp";
    }
    ~TempDir() { Shell("rm -rf '" + path_ + "'"); }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// FFmpeg's decode of a source, one I420 picture per entry, in output order.
inline std::vector<Bytes> FfmpegPictures(const std::string& source, const TempDir& dir,
                                         size_t width = 352, size_t height = 288) {
    const std::string out = dir / "ffmpeg.yuv";
    Shell("ffmpeg -v error -y -i '" + source +
          "' -map 0:v -fps_mode passthrough -pix_fmt yuv420p -f rawvideo '" + out + "'");
    Bytes all = ReadFile(out);
    const size_t size = width * height * 3 / 2;
    std::vector<Bytes> pictures;
    for (size_t at = 0; at + size <= all.size(); at += size)
        pictures.emplace_back(all.begin() + at, all.begin() + at + size);
    return pictures;
}

// A small MP3 beside the video, from FFmpeg's tone source.
inline std::string MakeMp3(const TempDir& dir, double seconds) {
    const std::string mp3 = dir / "a.mp3";
    Shell("ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=" + std::to_string(seconds) +
          " -ac 2 -c:a libmp3lame -b:a 128k '" + mp3 + "'");
    return mp3;
}

// A container of the tool set's own making.
inline std::string MakeContainer(const std::string& avs, const std::string& mp3, const TempDir& dir,
                                 const std::string& name = "clip.asm") {
    const std::string asm_path = dir / name;
    Shell("'" + kBin + "/Lindqvale' '" + avs + "' '" + asm_path + "' -f >/dev/null");
    if (!mp3.empty()) Shell("'" + kBin + "/Lindqvale' '" + mp3 + "' '" + asm_path + "' >/dev/null");
    return asm_path;
}

struct Picture {
    Bytes i420;  // planes packed without padding
    GstClockTime pts = GST_CLOCK_TIME_NONE;
    // The pts as a position in the stream (the segment's stream time): what a player shows,
    // where an edit list makes the segment start past the media's time 0.
    GstClockTime position = GST_CLOCK_TIME_NONE;
    double arrival = 0;  // seconds since PLAYING
};

// Runs a pipeline with an appsink named "video" (raw video) until EOS or
// an error, collecting every picture. Elements named "audio" that are
// fakesinks count their buffers.
class PipelineRun {
  public:
    explicit PipelineRun(const std::string& description) {
        InitGstreamer();
        GError* error = nullptr;
        pipeline_ = gst_parse_launch(description.c_str(), &error);
        if (error) {
            parse_error_ = error->message;
            g_error_free(error);
        }
        if (!pipeline_) return;
        if (GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline_), "video")) {
            AttachVideo(sink);
            gst_object_unref(sink);
        }
        if (GstElement* audio = gst_bin_get_by_name(GST_BIN(pipeline_), "audio")) {
            AttachAudio(audio);
            gst_object_unref(audio);
        }
    }
    // playbin as a player uses it, on an address; rtspsrc is told to use TCP.
    static PipelineRun Playbin(const std::string& uri) { return PipelineRun(uri, 0); }

    PipelineRun(PipelineRun&& other) = delete;
    ~PipelineRun() {
        if (pipeline_) {
            gst_element_set_state(pipeline_, GST_STATE_NULL);
            gst_object_unref(pipeline_);
        }
    }
    GstElement* pipeline() const { return pipeline_; }
    const std::string& parse_error() const { return parse_error_; }

    // PLAYING until EOS; false on an error or after `timeout`. Errors and
    // warnings are kept in messages().
    bool Play(std::chrono::seconds timeout = std::chrono::seconds(60)) {
        if (!pipeline_) return false;
        start_ = std::chrono::steady_clock::now();
        if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
            return false;
        return WaitForEnd(timeout);
    }
    bool WaitForEnd(std::chrono::seconds timeout) {
        GstBus* bus = gst_element_get_bus(pipeline_);
        bool ended = false;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            GstMessage* message = gst_bus_timed_pop_filtered(
                bus, 100 * GST_MSECOND,
                static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR |
                                            GST_MESSAGE_WARNING));
            if (!message) continue;
            GstMessageType type = GST_MESSAGE_TYPE(message);
            if (type == GST_MESSAGE_ERROR || type == GST_MESSAGE_WARNING) {
                GError* error = nullptr;
                gchar* debug = nullptr;
                if (type == GST_MESSAGE_ERROR)
                    gst_message_parse_error(message, &error, &debug);
                else
                    gst_message_parse_warning(message, &error, &debug);
                messages_ += std::string(type == GST_MESSAGE_ERROR ? "error: " : "warning: ") +
                             error->message + " (" + (debug ? debug : "") + ")\n";
                g_error_free(error);
                g_free(debug);
            }
            gst_message_unref(message);
            if (type == GST_MESSAGE_EOS) ended = true;
            if (type == GST_MESSAGE_EOS || type == GST_MESSAGE_ERROR) break;
        }
        elapsed_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        gst_object_unref(bus);
        return ended;
    }

    std::vector<Picture> pictures() {
        std::lock_guard<std::mutex> lock(mutex_);
        return pictures_;
    }
    void ClearPictures() {
        std::lock_guard<std::mutex> lock(mutex_);
        pictures_.clear();
    }
    size_t audio_buffers() {
        std::lock_guard<std::mutex> lock(mutex_);
        return audio_;
    }
    double elapsed() const { return elapsed_; }
    const std::string& messages() const { return messages_; }
    std::string sink_notes() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::string out;
        for (const auto& [name, note] : sink_notes_) out += name + ": " + note + "\n";
        return out;
    }

  private:
    PipelineRun(const std::string& uri, int) {
        InitGstreamer();
        pipeline_ = gst_element_factory_make("playbin", nullptr);
        GError* error = nullptr;
        GstElement* video = gst_parse_bin_from_description(
            "videoconvert ! video/x-raw,format=I420 ! appsink name=video sync=true", TRUE, &error);
        if (error) g_error_free(error);
        GstElement* audio = gst_element_factory_make("fakesink", "audio");
        g_object_set(audio, "sync", TRUE, nullptr);
        GstElement* sink = gst_bin_get_by_name(GST_BIN(video), "video");
        AttachVideo(sink);
        gst_object_unref(sink);
        AttachAudio(audio);
        g_object_set(pipeline_, "uri", uri.c_str(), "video-sink", video, "audio-sink", audio,
                     nullptr);
        g_signal_connect(pipeline_, "source-setup", G_CALLBACK(&PipelineRun::OnSourceSetup),
                         nullptr);
    }
    static void OnSourceSetup(GstElement*, GstElement* source, gpointer) {
        if (g_object_class_find_property(G_OBJECT_GET_CLASS(source), "protocols"))
            g_object_set(source, "protocols", 4 /* TCP */, "latency", 500, "buffer-mode",
                         0 /* none, as in rtsp_playback_test.cpp */, nullptr);
    }
    // Notes each sink's end of stream and last buffer time, for the messages.
    static GstPadProbeReturn OnSinkData(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
        auto* self = static_cast<PipelineRun*>(data);
        std::lock_guard<std::mutex> lock(self->mutex_);
        std::string& note = self->sink_notes_[GST_OBJECT_NAME(GST_OBJECT_PARENT(pad))];
        if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) {
            GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
            note = "last buffer " + std::to_string(GST_BUFFER_PTS(buffer));
        } else if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS) {
            note += ", end of stream";
        }
        return GST_PAD_PROBE_OK;
    }
    void Probe(GstElement* sink) {
        GstPad* pad = gst_element_get_static_pad(sink, "sink");
        gst_pad_add_probe(pad,
                          static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                       GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                          &PipelineRun::OnSinkData, this, nullptr);
        gst_object_unref(pad);
    }
    void AttachVideo(GstElement* sink) {
        Probe(sink);
        GstAppSinkCallbacks callbacks = {};
        callbacks.new_sample = &PipelineRun::OnSample;
        gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
    }
    void AttachAudio(GstElement* audio) {
        Probe(audio);
        g_object_set(audio, "signal-handoffs", TRUE, nullptr);
        g_signal_connect(audio, "handoff", G_CALLBACK(&PipelineRun::OnAudio), this);
    }
    static GstFlowReturn OnSample(GstAppSink* sink, gpointer data) {
        auto* self = static_cast<PipelineRun*>(data);
        GstSample* sample = gst_app_sink_pull_sample(sink);
        if (!sample) return GST_FLOW_OK;
        Picture picture;
        picture.arrival =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - self->start_).count();
        GstVideoInfo info;
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        picture.pts = GST_BUFFER_PTS(buffer);
        if (const GstSegment* segment = gst_sample_get_segment(sample))
            picture.position = gst_segment_to_stream_time(segment, GST_FORMAT_TIME, picture.pts);
        GstVideoFrame frame;
        if (gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) &&
            gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) {
            for (guint plane = 0; plane < GST_VIDEO_FRAME_N_PLANES(&frame); ++plane) {
                const auto* bytes =
                    static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, plane));
                const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, plane);
                const int width = GST_VIDEO_FRAME_COMP_WIDTH(&frame, plane);
                const int height = GST_VIDEO_FRAME_COMP_HEIGHT(&frame, plane);
                for (int row = 0; row < height; ++row)
                    picture.i420.insert(picture.i420.end(), bytes + row * stride,
                                        bytes + row * stride + width);
            }
            gst_video_frame_unmap(&frame);
        }
        gst_sample_unref(sample);
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->pictures_.push_back(std::move(picture));
        return GST_FLOW_OK;
    }
    static void OnAudio(GstElement*, GstBuffer*, GstPad*, gpointer data) {
        auto* self = static_cast<PipelineRun*>(data);
        std::lock_guard<std::mutex> lock(self->mutex_);
        ++self->audio_;
    }

    GstElement* pipeline_ = nullptr;
    std::string parse_error_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::mutex mutex_;
    std::vector<Picture> pictures_;
    size_t audio_ = 0;
    double elapsed_ = 0;
    std::string messages_;
    std::map<std::string, std::string> sink_notes_;
};

// A server program run as a child; its first line on standard output is its address.
class ServerProcess {
  public:
    explicit ServerProcess(const std::vector<std::string>& argv) {
        int out[2];
        if (pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            close(out[0]);
            close(out[1]);
            std::vector<char*> args;
            for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
        close(out[1]);
        FILE* f = fdopen(out[0], "r");
        char line[512] = {};
        if (f && fgets(line, sizeof line, f)) {
            url_ = line;
            while (!url_.empty() && (url_.back() == '\n' || url_.back() == '\r')) url_.pop_back();
        }
        out_ = f;
    }
    ~ServerProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
        if (out_) fclose(out_);
    }
    const std::string& url() const { return url_; }

  private:
    pid_t pid_ = -1;
    FILE* out_ = nullptr;
    std::string url_;
};

}  // namespace gsttest
