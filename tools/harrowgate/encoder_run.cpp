#include "tools/harrowgate/encoder_run.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "files/files.h"
#include "tools/harrowgate/picture_coder.h"
#include "tools/harrowgate/progress.h"
#include "tools/harrowgate/rate_control.h"
#include "tools/harrowgate/sequence_header.h"
#include "tools/harrowgate/source_video.h"

namespace harrowgate {
namespace {

int RoundUpToMacroblock(int size) {
    return (size + 15) / 16 * 16;
}

class OutputFile {
  public:
    OutputFile(std::string path) : path_(std::move(path)) {}
    ~OutputFile() {
        if (file_ != nullptr) std::fclose(file_);
    }
    bool Open() {
        file_ = avs::files::OpenStream(path_, "wb");
        if (file_ == nullptr) return Fail("cannot create");
        buffer_.resize(1 << 20);
        std::setvbuf(file_, buffer_.data(), _IOFBF, buffer_.size());
        return true;
    }
    bool Write(const void* data, size_t size) {
        if (size != 0 && std::fwrite(data, 1, size, file_) != size) return Fail("cannot write");
        return true;
    }
    bool Write(const std::vector<uint8_t>& bytes) { return Write(bytes.data(), bytes.size()); }
    // Rewrites bytes at the start of the file; a file that cannot seek keeps what it has.
    bool OverwriteStart(const std::vector<uint8_t>& bytes) {
        if (std::fflush(file_) != 0) return Fail("cannot write");
        const int64_t end = avs::files::Tell(file_);
        if (end < 0 || !avs::files::Seek(file_, 0, SEEK_SET)) return true;
        if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size() ||
            !avs::files::Seek(file_, end, SEEK_SET))
            return Fail("cannot write");
        return true;
    }
    bool Close() {
        if (file_ == nullptr) return true;
        std::FILE* f = file_;
        file_ = nullptr;
        // A failed flush inside an earlier seek leaves only the error flag behind.
        const bool failed_before = std::ferror(f) != 0;
        if (std::fclose(f) != 0 || failed_before) return Fail("cannot write");
        return true;
    }
    void Remove() {
        if (file_ != nullptr) std::fclose(file_);
        file_ = nullptr;
        avs::files::RemoveFile(path_);
    }
    const std::string& Error() const { return error_; }

  private:
    bool Fail(const char* what) {
        error_ = std::string(what) + " output \"" + path_ + "\": " + std::strerror(errno);
        return false;
    }
    std::string path_;
    std::FILE* file_ = nullptr;
    std::vector<char> buffer_;
    std::string error_;
};

// Hands out the source's pictures in order. On the caller, each is decoded when it is asked
// for, unless TopUp has decoded it before; with `ahead`, a thread of its own decodes up to a
// few pictures in advance, so that decoding overlaps coding.
class FrameReader {
  public:
    FrameReader(SourceVideo& source, bool ahead) : source_(source), ahead_(ahead) {
        if (ahead) thread_ = std::thread([this] { ReadAhead(); });
    }
    ~FrameReader() {
        if (!ahead_) return;
        {
            const std::lock_guard<std::mutex> hold(lock_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    // Without a thread: decodes on the caller until a few pictures are waiting (or the source
    // has ended), for a caller whose other threads have work meanwhile.
    void TopUp() {
        if (ahead_) return;
        while (!finished_ && queue_.size() < kAhead) {
            Item item;
            if (!spare_.empty()) {
                item.frame = std::move(spare_.back());
                spare_.pop_back();
            }
            if (Decode(item)) queue_.push_back(std::move(item));
        }
    }
    // False at the end of the source; a decoding failure is thrown here.
    bool Next(Frame& frame, int64_t& time_ms) {
        if (!ahead_) {
            if (!queue_.empty()) {
                Take(frame, time_ms);
                return true;
            }
            if (!finished_) return source_.Next(frame, time_ms);
            if (failure_) std::rethrow_exception(failure_);
            return false;
        }
        std::unique_lock<std::mutex> hold(lock_);
        changed_.wait(hold, [&] { return !queue_.empty() || finished_; });
        if (queue_.empty()) {
            if (failure_) std::rethrow_exception(failure_);
            return false;
        }
        Take(frame, time_ms);
        hold.unlock();
        changed_.notify_all();
        return true;
    }

  private:
    static constexpr size_t kAhead = 3;
    struct Item {
        Frame frame;
        int64_t time_ms = 0;
    };
    // The first picture that cannot be decoded ends the source; its failure is kept for Next
    // to throw once the pictures before it are taken.
    bool Decode(Item& item) {
        bool more = false;
        std::exception_ptr failure;
        try {
            more = source_.Next(item.frame, item.time_ms);
        } catch (...) {
            failure = std::current_exception();
        }
        if (!more) {
            // The queue is the reading thread's (under the lock) or, without one, the caller's.
            std::unique_lock<std::mutex> hold(lock_, std::defer_lock);
            if (ahead_) hold.lock();
            failure_ = failure;
            finished_ = true;
        }
        return more;
    }
    // The caller's old picture goes back to be decoded into: no new buffers per picture.
    void Take(Frame& frame, int64_t& time_ms) {
        Frame used = std::move(frame);
        frame = std::move(queue_.front().frame);
        time_ms = queue_.front().time_ms;
        queue_.pop_front();
        spare_.push_back(std::move(used));
    }
    void ReadAhead() {
        for (;;) {
            Item item;
            {
                const std::lock_guard<std::mutex> hold(lock_);
                if (stop_) return;
                if (!spare_.empty()) {
                    item.frame = std::move(spare_.back());
                    spare_.pop_back();
                }
            }
            if (!Decode(item)) {
                changed_.notify_all();
                return;
            }
            std::unique_lock<std::mutex> hold(lock_);
            changed_.wait(hold, [&] { return queue_.size() < kAhead || stop_; });
            if (stop_) return;
            queue_.push_back(std::move(item));
            hold.unlock();
            changed_.notify_all();
        }
    }

    SourceVideo& source_;
    const bool ahead_;  // decoded on thread_
    std::thread thread_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Item> queue_;
    std::vector<Frame> spare_;  // pictures handed back, to decode into
    bool finished_ = false;
    bool stop_ = false;
    std::exception_ptr failure_;
};

void PutLe32(std::vector<uint8_t>& out, int64_t value) {
    const uint32_t v = static_cast<uint32_t>(static_cast<int32_t>(value));
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

int RunEncoder(const Options& options, std::FILE* progress, std::FILE* messages) {
    auto report = [&](const std::string& text) {
        std::fprintf(messages, "Harrowgate: %s\n", text.c_str());
        std::fflush(messages);
        return 1;
    };
    const auto started = std::chrono::steady_clock::now();
    std::unique_ptr<SourceVideo> source;
    try {
        source = std::make_unique<SourceVideo>(options.source);
    } catch (const SourceError& e) {
        return report(e.what());
    }

    // The picture keeps its size; it is coded in whole macroblocks, its last column and row
    // repeated out to them, and the sequence header's size tells decoders what to crop.
    const int picture_width = options.width ? *options.width : source->Width();
    const int picture_height = options.height ? *options.height : source->Height();
    const int width = RoundUpToMacroblock(picture_width);
    int height = RoundUpToMacroblock(picture_height);
    // Interlaced frames are coded in whole 32 lines (whole macroblock rows in each field). A
    // decoder that counts 16-line rows from the header's height would then come one row short
    // where the picture's rows are odd, so the height stated takes in two more (repeated)
    // lines: 144 becomes 146, 720 722; 1080 and 576 stay.
    int header_height = picture_height;
    if (!options.progressive && height % 32 != 0) {
        height += 16;
        header_height = height - 14;
    }
    if (width > 16368 || height > 16368) return report("picture size is too large");
    source->SetOutputSize(picture_width, picture_height, width, height);
    SequenceParameters sequence;
    sequence.width = picture_width;
    sequence.height = header_height;
    sequence.progressive = options.progressive;
    const double fps = options.frame_rate ? *options.frame_rate : source->FrameRate();
    sequence.frame_rate_code = NearestFrameRateCode(fps);
    const double coded_fps = FrameRateOfCode(sequence.frame_rate_code);
    // Pictures are never dropped or repeated; say so when the header's rate differs.
    if (std::fabs(coded_fps - source->FrameRate()) > 0.01 * coded_fps)
        std::fprintf(messages,
                     "Harrowgate: note: the source runs at %.3f pictures/s; the stream header "
                     "announces %.3f, the time-stamp file keeps the source's times\n",
                     source->FrameRate(), coded_fps);
    // Nominal rate until one is measured: about one bit per luma sample per second.
    sequence.bit_rate_400 =
        static_cast<uint32_t>(std::ceil(static_cast<double>(width) * height * coded_fps / 400.0));

    // Creating an output truncates it: never let that be the source being read.
    for (const std::string& path : {options.output, TimestampPathFor(options.output)}) {
        std::error_code error;
        if (std::filesystem::equivalent(avs::files::Utf8Path(options.source),
                                        avs::files::Utf8Path(path), error))
            return report("output \"" + path + "\" is the source itself");
    }
    OutputFile stream(options.output);
    OutputFile stamps(TimestampPathFor(options.output));
    if (!stream.Open()) return report(stream.Error());
    if (!stamps.Open()) {
        stream.Remove();
        return report(stamps.Error());
    }

    PictureCoder coder(width, height, options.qp, options.search_range);
    coder.SetLoopFilter(options.loop_filter);
    coder.SetProgressive(options.progressive);
    coder.SetThreads(options.threads);
    coder.SetSubSampleMotion(true);
    coder.SetRateDistortionChoice(options.rdo);
    // With rate control the headers state the target and a buffer of one second of it, and
    // every picture keeps within that buffer.
    std::optional<RateController> rate;
    // The front-end passes no -s for a bit rate of 0, whatever -a says: code at -q then,
    // rather than leave the conversion without a result.
    if (options.rate_control && options.bit_rate_kbit <= 0)
        std::fprintf(messages,
                     "Harrowgate: note: rate control without a bit rate (-s): coding at -q %d\n",
                     options.qp);
    if (options.rate_control && options.bit_rate_kbit > 0) {
        const double target = options.bit_rate_kbit * 1000.0;
        sequence.bit_rate_400 = static_cast<uint32_t>(std::ceil(target / 400));
        sequence.bbv_buffer_size =
            std::clamp<uint32_t>(static_cast<uint32_t>(target / 16384), 1, 0x3FFFF);
        rate.emplace(target, coded_fps, options.gop_length, options.qp,
                     sequence.bbv_buffer_size * 16384.0, options.b_pictures);
    }
    ProgressPrinter printer(progress, source->ExpectedFrames());
    Frame frame;
    int64_t time_ms = 0;
    int64_t pictures = 0;
    int64_t intra_pictures = 0;
    uint64_t stream_bytes = 0;
    int64_t first_time_ms = 0;
    int64_t last_time_ms = 0;
    std::vector<uint8_t> stamp_bytes;
    // Duration covered so far, for the bit rate in the sequence headers.
    const auto seconds_so_far = [&] {
        return (last_time_ms - first_time_ms) / 1000.0 + 1.0 / coded_fps;
    };
    // B pictures come after the later of their two references in the stream: the source
    // pictures between two references wait here, in display order.
    struct Held {
        Frame frame;
        int64_t time_ms = 0;
        int64_t display = 0;
    };
    std::vector<Held> held;
    std::vector<Frame> spare_frames;  // frames of coded B pictures, to read into again
    const int b_pictures = options.b_pictures;
    // Without rate control: -q for predicted pictures, offsets for the other kinds.
    const auto fixed_qp = [&](PictureKind kind) {
        const int offset = kind == PictureKind::kBidirectional ? kBidirectionalQpOffset
                           : kind == PictureKind::kIntra       ? kIntraQpOffset
                                                               : 0;
        return std::clamp(options.qp + offset, 0, 63);
    };
    // `coded`: the picture's unit when it was coded already (B pictures coded side by side).
    const auto code_picture = [&](const Frame& picture, int64_t picture_time, int64_t display,
                                  PictureType type, const std::vector<uint8_t>* coded = nullptr) {
        const bool intra = type == PictureType::kIntra;
        const int position = static_cast<int>(display % options.gop_length);
        size_t header_size = 0;
        if (intra) {
            // Every intra picture starts a sequence anew, so a reader can start there; the
            // bit rate is the average so far (or the target of the rate control).
            if (pictures > 0 && !rate)
                sequence.bit_rate_400 =
                    static_cast<uint32_t>(std::ceil(stream_bytes * 8.0 / seconds_so_far() / 400.0));
            const std::vector<uint8_t> header = SequenceHeaderUnit(sequence);
            if (!stream.Write(header)) throw std::runtime_error(stream.Error());
            stream_bytes += header.size();
            header_size = header.size();
            ++intra_pictures;
        }
        const PictureKind kind = intra                                 ? PictureKind::kIntra
                                 : type == PictureType::kBidirectional ? PictureKind::kBidirectional
                                                                       : PictureKind::kPredicted;
        if (rate) {
            coder.SetQp(rate->NextQp(kind, position));
            const size_t limit = rate->ByteLimit();
            coder.SetByteLimit(limit > header_size ? limit - header_size : 1);
        } else {
            coder.SetQp(fixed_qp(kind));
        }
        const std::vector<uint8_t> unit =
            coded ? *coded : coder.Encode(picture, type, static_cast<int>(display % 256));
        if (!stream.Write(unit)) throw std::runtime_error(stream.Error());
        stream_bytes += unit.size();
        if (rate) rate->Coded(kind, coder.LastQp(), unit.size() + header_size);
        stamp_bytes.clear();
        PutLe32(stamp_bytes, picture_time);
        if (!stamps.Write(stamp_bytes)) throw std::runtime_error(stamps.Error());
        // With B pictures coding order is not display order: the span runs from the
        // earliest time to the latest.
        if (pictures == 0) first_time_ms = last_time_ms = picture_time;
        first_time_ms = std::min(first_time_ms, picture_time);
        last_time_ms = std::max(last_time_ms, picture_time);
        ++pictures;
        printer.Update(pictures);
    };
    // Codes `reference` as a predicted picture, then the held pictures before it as B ones.
    const auto code_group = [&](const Frame& reference, int64_t reference_time,
                                int64_t reference_display) {
        code_picture(reference, reference_time, reference_display, PictureType::kPredicted);
        for (Held& h : held) {
            code_picture(h.frame, h.time_ms, h.display, PictureType::kBidirectional);
            spare_frames.push_back(std::move(h.frame));
        }
        held.clear();
    };
    // Without rate control no picture's quantiser waits on another's size. With threads, the
    // B pictures between two references are then coded side by side, a picture per helper
    // thread, while the next reference picture is coded beside them (it needs only the
    // references before them) on the threads they leave free; its unit waits for theirs.
    const bool pipelined = !rate && options.threads > 1 && b_pictures > 0;
    // Pipelined, this thread decodes the source while the helpers code B pictures, so that
    // no third thread competes with the coding ones for the processors (with two processors
    // the kernel would often put both coding threads on one); otherwise the source has a
    // thread of its own when more than one thread codes. Made in the try below, so that a
    // thread that cannot be started is reported; here, so that it outlives the group guard.
    std::optional<FrameReader> reader;
    std::vector<Held> group;  // the B pictures being coded, in display order
    // Their sources must outlive their coding, also when an error ends the run.
    struct FinishGroupFirst {
        PictureCoder& coder;
        std::vector<Held>& group;
        ~FinishGroupFirst() {
            if (group.empty()) return;
            try {
                coder.FinishBidirectionalGroup();
            } catch (...) {
            }
        }
    } finish_group_first{coder, group};
    const auto write_group = [&] {
        if (group.empty()) return;
        const std::vector<std::vector<uint8_t>> units = coder.FinishBidirectionalGroup();
        for (size_t i = 0; i < group.size(); ++i) {
            code_picture(group[i].frame, group[i].time_ms, group[i].display,
                         PictureType::kBidirectional, &units[i]);
            spare_frames.push_back(std::move(group[i].frame));
        }
        group.clear();
    };
    // Codes a reference picture beside the group started before, writes the group and then
    // it, and starts the pictures held before it as the next group.
    const auto code_reference_beside = [&](const Frame& reference, int64_t reference_time,
                                           int64_t reference_display, PictureType type) {
        // While the helpers code B pictures and then the reference's rows, this thread
        // decodes the pictures that follow, so that the next reference picture need not wait
        // for them, and takes the B pictures no helper has taken, before it joins the rows: a
        // B picture is one thread's work, the rows any number's, so all end together on them.
        coder.SetWorkBeforeRows([&] {
            reader->TopUp();
            while (coder.CodeOneOfGroup()) {
            }
        });
        coder.SetQp(
            fixed_qp(type == PictureType::kIntra ? PictureKind::kIntra : PictureKind::kPredicted));
        const std::vector<uint8_t> unit =
            coder.Encode(reference, type, static_cast<int>(reference_display % 256));
        write_group();
        code_picture(reference, reference_time, reference_display, type, &unit);
        if (held.empty()) return;
        std::vector<const Frame*> sources;
        std::vector<int> distances;
        for (const Held& h : held) {
            sources.push_back(&h.frame);
            distances.push_back(static_cast<int>(h.display % 256));
        }
        coder.SetQp(fixed_qp(PictureKind::kBidirectional));
        coder.StartBidirectionalGroup(sources, distances);
        group = std::move(held);  // the frames stay where they are
        held.clear();
    };
    const auto code_reference = [&](const Frame& reference, int64_t reference_time,
                                    int64_t reference_display, PictureType type) {
        if (pipelined)
            code_reference_beside(reference, reference_time, reference_display, type);
        else if (type == PictureType::kIntra)
            code_picture(reference, reference_time, reference_display, type);
        else
            code_group(reference, reference_time, reference_display);
    };
    try {
        reader.emplace(*source, options.threads > 1 && !pipelined);
        int64_t display = 0;
        for (;;) {
            Frame& into = b_pictures > 0 ? (held.emplace_back(), held.back().frame) : frame;
            if (b_pictures > 0 && !spare_frames.empty()) {
                into = std::move(spare_frames.back());
                spare_frames.pop_back();
            }
            if (!reader->Next(into, time_ms)) {
                if (b_pictures > 0) held.pop_back();
                break;
            }
            const int position = static_cast<int>(display % options.gop_length);
            if (b_pictures == 0) {
                code_picture(frame, time_ms, display,
                             position == 0 ? PictureType::kIntra : PictureType::kPredicted);
            } else if (position == 0 || position % (b_pictures + 1) == 0 ||
                       position == options.gop_length - 1) {
                // A reference: intra at the start of each group of pictures, then every N+1
                // pictures and the last before the next intra one, so that no B picture
                // reaches into the next group (nothing is held before an intra picture).
                Held current = std::move(held.back());
                held.pop_back();
                code_reference(current.frame, time_ms, display,
                               position == 0 ? PictureType::kIntra : PictureType::kPredicted);
                spare_frames.push_back(std::move(current.frame));
            } else {
                held.back().time_ms = time_ms;
                held.back().display = display;
            }
            ++display;
        }
        // The last picture of the source is a reference too.
        if (!held.empty()) {
            Held last = std::move(held.back());
            held.pop_back();
            code_reference(last.frame, last.time_ms, last.display, PictureType::kPredicted);
            spare_frames.push_back(std::move(last.frame));
        }
        write_group();
    } catch (const std::exception& e) {
        stream.Remove();
        stamps.Remove();
        return report(e.what());
    }
    if (pictures == 0) {
        stream.Remove();
        stamps.Remove();
        return report("no picture could be decoded from \"" + options.source + "\"");
    }
    const double seconds = seconds_so_far();
    if (!rate)
        sequence.bit_rate_400 =
            static_cast<uint32_t>(std::ceil(stream_bytes * 8.0 / seconds / 400.0));
    // A stream cut short by a failing disk is no use to anyone: remove both files then.
    if (!stream.Write(SequenceEndUnit())) {
        const std::string error = stream.Error();
        stream.Remove();
        stamps.Remove();
        return report(error);
    }
    const bool rewritten = stream.OverwriteStart(SequenceHeaderUnit(sequence));
    for (OutputFile* file : {&stream, &stamps})
        if (!rewritten || !file->Close()) {
            const std::string error = file->Error();
            stream.Remove();
            stamps.Remove();
            return report(error);
        }
    printer.Finish();

    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::fprintf(messages,
                 "Harrowgate: %lld pictures (%lld intra) %dx%d at %.3f fps, %.0f kbit/s, "
                 "%.1f pictures/s\n",
                 static_cast<long long>(pictures), static_cast<long long>(intra_pictures),
                 picture_width, picture_height, coded_fps, stream_bytes * 8.0 / seconds / 1000.0,
                 elapsed > 0 ? pictures / elapsed : 0.0);
    return 0;
}

}  // namespace harrowgate
