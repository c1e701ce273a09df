#include "tools/lindqvale/container_video_source.h"

#include <strings.h>

#include "mp4/error.h"
#include "mp4/read_ahead_source.h"

namespace lindqvale {

ContainerVideoSource::ContainerVideoSource(const std::string& path) : path_(path) {
    try {
        // Samples are small and read in file order: read ahead in large pieces.
        source_ =
            std::make_shared<mp4::ReadAheadSource>(std::make_shared<mp4::FileByteSource>(path));
        movie_ = mp4::MovieFile::Open(*source_);
        for (const auto& t : movie_->Tracks())
            if (t.HandlerType() == "vide") {
                track_ = &t;
                break;
            }
        if (!track_ || strncasecmp(track_->SingleEntryType().c_str(), "avs", 3) != 0)
            throw LindqvaleError(path +
                                 " has no AVS video track; make it from the video first (-f)");
        if (track_->SampleCount() == 0) throw LindqvaleError(path + ": the video track is empty");
        sample_count_ = track_->SampleCount();
        const mp4::Box& entry = *track_->Descriptions().Entry(1);
        description_.handler = "vide";
        description_.handler_name = "AVS1-P2 video";
        description_.timescale = track_->Timescale();
        description_.write_stss = true;
        // The entry is copied as it stands; width and height sit at fixed offsets.
        description_.sample_entry =
            mp4::ReadExactAt(*source_, entry.Offset(), static_cast<size_t>(entry.Size()));
        if (description_.sample_entry.size() >= 36) {
            const auto& e = description_.sample_entry;
            description_.width = static_cast<uint16_t>(e[32] << 8 | e[33]);
            description_.height = static_cast<uint16_t>(e[34] << 8 | e[35]);
        }
    } catch (const mp4::Mp4Error& e) {
        throw LindqvaleError(path + " is not a readable container: " + e.what());
    }
}

bool ContainerVideoSource::Next(Sample& out) {
    if (next_sample_ > sample_count_) {
        // Closed once the last sample is taken: Windows will not replace a file that is
        // still open, and the container is written over this very file.
        track_ = nullptr;
        movie_.reset();
        source_.reset();
        return false;
    }
    try {
        // The sample entry is not one the plain box reader knows, so the
        // sample is found through the tables and read directly.
        const mp4::SampleInfo info = track_->Samples().Lookup(next_sample_);
        out.bytes = mp4::ReadExactAt(*source_, info.offset, info.size);
        out.duration = info.duration;
        out.sync = info.sync;
    } catch (const mp4::Mp4Error& e) {
        throw LindqvaleError(path_ + ": video sample " + std::to_string(next_sample_) + ": " +
                             e.what());
    }
    ++next_sample_;
    return true;
}

}  // namespace lindqvale
