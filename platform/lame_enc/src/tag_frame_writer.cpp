#include "tag_frame_writer.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "files/files.h"

namespace lame_enc {

std::optional<std::uint64_t> FirstFrameOffset(const unsigned char* head, std::size_t size) {
    if (size < 10 || std::memcmp(head, "ID3", 3) != 0) return 0;
    // Tag size is four 7-bit bytes; a set top bit means this is not a valid tag header.
    std::uint64_t body = 0;
    for (int i = 6; i < 10; ++i) {
        if (head[i] & 0x80) return std::nullopt;
        body = (body << 7) | head[i];
    }
    const bool has_footer = (head[5] & 0x10) != 0;
    return 10 + body + (has_footer ? 10 : 0);
}

bool IsPlaceholderFor(const unsigned char* at, std::size_t size,
                      const std::vector<unsigned char>& tag_frame) {
    // Version, layer, bit rate, sampling rate and padding fix the frame's size, the channel mode
    // its layout; the mode extension bits may differ between placeholder and finished tag.
    return size >= 4 && tag_frame.size() >= 4 && std::memcmp(at, tag_frame.data(), 3) == 0 &&
           (at[3] & 0xC0) == (tag_frame[3] & 0xC0);
}

BE_ERR WriteTagFrame(const char* path, const std::vector<unsigned char>& tag_frame) {
    if (path == nullptr || tag_frame.size() < 4) return BE_ERR_INVALID_FORMAT_PARAMETERS;
    std::unique_ptr<FILE, int (*)(FILE*)> file(avs::files::OpenStream(path, "r+b"), &std::fclose);
    if (!file) return BE_ERR_INVALID_HANDLE;

    unsigned char head[10];
    const std::size_t got = std::fread(head, 1, sizeof head, file.get());
    const auto offset = FirstFrameOffset(head, got);
    if (!offset) return BE_ERR_INVALID_FORMAT;

    unsigned char header[4];
    if (!avs::files::Seek(file.get(), static_cast<int64_t>(*offset), SEEK_SET))
        return BE_ERR_INVALID_FORMAT;
    if (std::fread(header, 1, 4, file.get()) != 4 || !IsPlaceholderFor(header, 4, tag_frame))
        return BE_ERR_INVALID_FORMAT;
    // The placeholder must be whole, so the tag cannot spill into the audio after it.
    if (!avs::files::Seek(file.get(), 0, SEEK_END)) return BE_ERR_INVALID_FORMAT;
    const int64_t end = avs::files::Tell(file.get());
    if (end < 0 || static_cast<std::uint64_t>(end) < *offset + tag_frame.size())
        return BE_ERR_INVALID_FORMAT;

    if (!avs::files::Seek(file.get(), static_cast<int64_t>(*offset), SEEK_SET) ||
        std::fwrite(tag_frame.data(), 1, tag_frame.size(), file.get()) != tag_frame.size())
        return BE_ERR_BUFFER_TOO_SMALL;
    if (std::fclose(file.release()) != 0) return BE_ERR_BUFFER_TOO_SMALL;
    return BE_ERR_SUCCESSFUL;
}

}  // namespace lame_enc
