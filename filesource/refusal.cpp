#include "filesource/refusal.h"

#include <memory>

#include "filesource/avs_container.h"
#include "filesource/signature.h"
#include "mp4/error.h"

namespace filesource {

namespace {
// Borrows the caller's source for a container that wants shared ownership.
struct Borrowed : mp4::ByteSource {
    explicit Borrowed(mp4::ByteSource& s) : source(s) {}
    uint64_t Size() override { return source.Size(); }
    size_t Read(void* buffer, size_t n) override { return source.Read(buffer, n); }
    void Seek(uint64_t position) override { source.Seek(position); }
    mp4::ByteSource& source;
};
}  // namespace

std::optional<std::string> container_refusal(mp4::ByteSource& source) {
    try {
        if (!has_avs_signature(source)) return std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
    std::string last;
    auto keep = [&last](const std::string& message) { last = message; };
    auto c = AvsContainer::open(std::make_shared<Borrowed>(source), keep);
    if (!c) return last.empty() ? "the container cannot be opened" : last;
    if (c->track_count(kVideoHandler) == 0) return std::nullopt;
    const uint32_t video = c->first_track_id(kVideoHandler);
    const std::optional<std::string> entry = c->sample_entry_type(video);
    if (!entry) return last.empty() ? "the video track has no single sample entry" : last;
    if (!is_avs_sample_entry(*entry))
        return "the video track's sample entry '" + *entry + "' is not an AVS one";
    TrackSample first;
    if (!c->read_track_sample(video, 1, first))
        return last.empty() ? "the first video sample cannot be read" : last;
    return std::nullopt;
}

std::optional<std::string> container_refusal(const std::string& path) {
    std::unique_ptr<mp4::FileByteSource> file;
    try {
        file = std::make_unique<mp4::FileByteSource>(path);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    return container_refusal(*file);
}

}  // namespace filesource
