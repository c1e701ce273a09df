#include "tools/rtspserve/media_index.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "avs/byte_source.h"
#include "avs/picture_splitter.h"
#include "avs/sequence_header.h"
#include "avs/tables.h"
#include "avs/unit_reader.h"
#include "avs/unit_type.h"
#include "mux/mpeg_audio_header.h"
#include "tools/rtspserve/packetizer.h"

namespace rtspserve {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

std::optional<AvsIndex> IndexAvsFile(const std::string& path, std::string* error) {
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        if (error) *error = "cannot open " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::fseek(file.get(), 0, SEEK_END);
    uint64_t file_size = static_cast<uint64_t>(std::ftell(file.get()));
    std::rewind(file.get());
    std::vector<char> stdio_buffer(1 << 16);
    std::setvbuf(file.get(), stdio_buffer.data(), _IOFBF, stdio_buffer.size());

    avs::FileByteSource source(file.get());
    avs::AvsUnitReader reader(source, 64u << 20);
    avs::AvsPictureSplitter splitter(reader);
    AvsIndex index;
    uint64_t total = 0;
    std::vector<uint8_t> picture;
    avs::AvsUnitType type = avs::AvsUnitType::kNone;
    while (splitter.Next(picture, &type)) {
        if (type == avs::AvsUnitType::kNone) break;  // units but no picture header
        if (index.sequence_header.empty()) {
            // The first sequence header gives the frame rate and the parameter set.
            for (auto [offset, length] : SplitUnits(picture.data(), picture.size())) {
                if (length == 0 || picture[offset] != 0xB0) continue;
                avs::AvsSequenceHeader header;
                avs::DecodeSequenceHeaderFixed(picture.data() + offset - 3, length + 3, header);
                if (avs::kFrameRateTable[header.frame_rate_code & 15] > 0)
                    index.frame_rate = avs::kFrameRateTable[header.frame_rate_code & 15];
                index.sequence_header.assign(
                    picture.begin() + static_cast<std::ptrdiff_t>(offset),
                    picture.begin() + static_cast<std::ptrdiff_t>(offset + length));
                break;
            }
        }
        index.pictures.push_back(
            {total, static_cast<uint32_t>(picture.size()), type == avs::AvsUnitType::kIPicture});
        total += picture.size();
    }
    if (std::ferror(file.get())) {
        if (error) *error = "cannot read " + path;
        return std::nullopt;
    }
    // The reader drops only what lies before the first start code.
    uint64_t skipped = file_size - total;
    for (PictureEntry& p : index.pictures) p.offset += skipped;
    if (index.sequence_header.empty() || index.pictures.empty()) {
        if (error) *error = path + ": no AVS sequence header or picture found";
        return std::nullopt;
    }
    return index;
}

uint32_t MpegAudioFrameLength(const uint8_t* p, uint32_t* sample_rate, uint32_t* samples) {
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return 0;
    uint32_t raw = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
    mux::MpegAudioHeader h = mux::ParseMpegAudioHeader(raw);
    if (h.version == mux::kMpegReservedVersion || mux::BitRateKbps(h) == 0) return 0;
    uint32_t length = mux::FrameLength(h);
    if (length < 4 || mux::SampleRateHz(h) == 0 || mux::SamplesPerFrame(h) == 0) return 0;
    if (sample_rate) *sample_rate = static_cast<uint32_t>(mux::SampleRateHz(h));
    if (samples) *samples = static_cast<uint32_t>(mux::SamplesPerFrame(h));
    return length;
}

std::optional<Mp3Index> IndexMp3File(const std::string& path, std::string* error) {
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        if (error) *error = "cannot open " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    Mp3Index index;
    std::vector<uint8_t> buffer(1 << 16);
    size_t filled = 0, pos = 0;
    uint64_t buffer_offset = 0;  // file offset of buffer[0]
    bool at_end = false;
    bool first = true;
    for (;;) {
        if (filled - pos < 10 && !at_end) {
            std::memmove(buffer.data(), buffer.data() + pos, filled - pos);
            buffer_offset += pos;
            filled -= pos;
            pos = 0;
            size_t n = std::fread(buffer.data() + filled, 1, buffer.size() - filled, file.get());
            if (n == 0) at_end = true;
            filled += n;
        }
        if (filled - pos < 4) break;
        const uint8_t* p = buffer.data() + pos;
        if (first && filled - pos >= 10 && std::memcmp(p, "ID3", 3) == 0) {
            uint64_t size = (uint64_t(p[6] & 0x7F) << 21) | (uint64_t(p[7] & 0x7F) << 14) |
                            (uint64_t(p[8] & 0x7F) << 7) | (p[9] & 0x7F);
            uint64_t skip = 10 + size;
            buffer_offset += pos + skip;
            pos = filled = 0;
            if (std::fseek(file.get(), static_cast<long>(buffer_offset), SEEK_SET) != 0) break;
            first = false;
            continue;
        }
        first = false;
        uint32_t rate = 0, samples = 0;
        uint32_t length = MpegAudioFrameLength(p, &rate, &samples);
        if (length == 0 || (index.sample_rate != 0 && rate != index.sample_rate)) {
            ++pos;
            continue;
        }
        if (index.sample_rate == 0) {
            index.sample_rate = rate;
            index.samples_per_frame = samples;
        }
        if (samples != index.samples_per_frame) {
            ++pos;
            continue;
        }
        uint64_t offset = buffer_offset + pos;
        // A last frame cut short by the end of the file is left out.
        size_t available = filled - pos;
        if (available < length) {
            if (at_end) break;
            std::memmove(buffer.data(), buffer.data() + pos, available);
            buffer_offset += pos;
            filled = available;
            pos = 0;
            size_t n = std::fread(buffer.data() + filled, 1, buffer.size() - filled, file.get());
            if (n == 0) at_end = true;
            filled += n;
            if (filled < length) {
                if (at_end) break;
                continue;
            }
        }
        index.frames.push_back({offset, length});
        pos += length;
    }
    if (index.frames.empty()) {
        if (error) *error = path + ": no MPEG audio frame found";
        return std::nullopt;
    }
    return index;
}

}  // namespace rtspserve
