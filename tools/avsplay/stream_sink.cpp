#include "tools/avsplay/stream_sink.h"

#include <cinttypes>
#include <stdexcept>

#include "files/files.h"

namespace avsplay {

namespace {

FILE* Create(const std::string& path) {
    FILE* f = avs::files::OpenStream(path, "wb");
    if (f == nullptr)
        throw std::runtime_error("cannot create " + path + ": " + avs::files::LastErrorText());
    // Samples are small next to a system call.
    std::setvbuf(f, nullptr, _IOFBF, 1 << 20);
    return f;
}

std::string Seconds(int64_t t) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.6f s", double(t) / 1e7);
    return buf;
}

}  // namespace

SampleLog::SampleLog(const std::string& path) : file_(Create(path)) {
    std::fputs("# stream start stop sync discontinuity length (times in 100 ns)\n", file_);
}

SampleLog::~SampleLog() {
    Close();
}

void SampleLog::Write(const std::string& stream, const avs::dshow::CaptureEvent& e) {
    char start[24] = "-", stop[24] = "-";
    if (e.has_time) std::snprintf(start, sizeof start, "%" PRId64, int64_t(e.start));
    if (e.has_stop) std::snprintf(stop, sizeof stop, "%" PRId64, int64_t(e.stop));
    std::lock_guard<std::mutex> hold(mutex_);
    if (file_ == nullptr) return;
    if (std::fprintf(file_, "%s %s %s %d %d %ld\n", stream.c_str(), start, stop,
                     e.sync_point ? 1 : 0, e.discontinuity ? 1 : 0, long(e.actual_length)) < 0)
        failed_ = true;
}

bool SampleLog::Close() {
    std::lock_guard<std::mutex> hold(mutex_);
    if (file_ == nullptr) return !failed_;
    if (std::fclose(file_) != 0) failed_ = true;
    file_ = nullptr;
    return !failed_;
}

StreamSink::StreamSink(std::string name, const std::string& out_path, SampleLog* log, bool decode)
    : name_(std::move(name)), log_(log) {
    if (decode) decoder_ = std::make_unique<VideoDecoder>();
    if (!out_path.empty()) out_ = Create(out_path);
}

StreamSink::~StreamSink() {
    if (out_ != nullptr) std::fclose(out_);
}

void StreamSink::OnEvent(const avs::dshow::CaptureEvent& e) {
    using Kind = avs::dshow::CaptureEvent::Kind;
    if (e.kind == Kind::kEndOfStream) {
        ended_ = true;
        return;
    }
    if (e.kind == Kind::kBeginFlush) {
        ended_ = false;  // a seek: the stream runs again
        return;
    }
    if (e.kind != Kind::kSample) return;
    ++samples_;
    const size_t n = e.actual_length > 0 ? static_cast<size_t>(e.actual_length) : 0;
    bytes_ += n;
    if (e.has_time) {
        if (!has_time_) first_start_ = e.start;
        has_time_ = true;
        last_stop_ = e.has_stop ? e.stop : e.start;
    }
    if (log_ != nullptr) log_->Write(name_, e);
    if (n > 0 && out_ != nullptr && std::fwrite(e.data, 1, n, out_) != n) write_failed_ = true;
    if (n > 0 && decoder_) decoder_->Feed(e.data, n);
}

bool StreamSink::Finish() {
    if (decoder_) decoder_->Finish();
    if (out_ != nullptr) {
        if (std::fclose(out_) != 0) write_failed_ = true;
        out_ = nullptr;
    }
    return !write_failed_;
}

std::string StreamSink::Summary() const {
    std::string s =
        name_ + ": " + std::to_string(samples_) + " samples, " + std::to_string(bytes_) + " bytes";
    if (has_time_)
        s += ", first start " + Seconds(first_start_) + ", last stop " + Seconds(last_stop_);
    s += ended_ ? ", end of stream" : ", no end of stream";
    if (decoder_)
        s += "; decoded " + std::to_string(decoder_->Pictures()) + " pictures, " +
             std::to_string(decoder_->Errors()) + " decoding errors";
    return s;
}

}  // namespace avsplay
