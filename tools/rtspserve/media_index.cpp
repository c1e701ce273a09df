#include "tools/rtspserve/media_index.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "avs/byte_source.h"
#include "avs/sequence_header.h"
#include "avs/tables.h"
#include "avs/unit_reader.h"
#include "avs/unit_type.h"

namespace rtspserve {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool IsPictureHeader(avs::AvsUnitType t) {
    return t == avs::AvsUnitType::IPicture || t == avs::AvsUnitType::PPicture ||
           t == avs::AvsUnitType::BPicture;
}

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
    AvsIndex index;
    bool have_header = false;
    uint64_t units_total = 0;
    // The current group, as offsets relative to the first unit.
    uint64_t group_start = 0;
    uint64_t group_length = 0;
    bool group_has_picture = false, group_has_slice = false, group_is_i = false;
    auto close_group = [&] {
        if (group_length > 0 && group_has_picture)
            index.pictures.push_back(
                {group_start, static_cast<uint32_t>(group_length), group_is_i});
        else if (group_length > 0 && !index.pictures.empty())
            index.pictures.back().length += static_cast<uint32_t>(group_length);  // trailing units
        group_start += group_length;
        group_length = 0;
        group_has_picture = group_has_slice = group_is_i = false;
    };
    while (reader.next()) {
        const uint8_t* unit = reader.data();
        uint32_t length = reader.unit_length();
        avs::AvsUnitType type = avs::classify_unit(unit, length);
        if (type == avs::AvsUnitType::SequenceHeader && !have_header && length > 3) {
            avs::AvsSequenceHeader header;
            avs::decode_sequence_header_fixed(unit, length, header);
            if (avs::frame_rate_table[header.frame_rate_code & 15] > 0)
                index.frame_rate = avs::frame_rate_table[header.frame_rate_code & 15];
            index.sequence_header.assign(unit + 3, unit + length);
            have_header = true;
        }
        bool opens = (IsPictureHeader(type) || type == avs::AvsUnitType::SequenceHeader ||
                      type == avs::AvsUnitType::VideoEdit) &&
                     group_has_picture;
        bool opens_after_slices =
            (type == avs::AvsUnitType::Extension || type == avs::AvsUnitType::UserData) &&
            group_has_slice;
        if (opens || opens_after_slices) close_group();
        if (IsPictureHeader(type)) {
            group_has_picture = true;
            group_is_i = type == avs::AvsUnitType::IPicture;
        }
        if (type == avs::AvsUnitType::Slice) group_has_slice = true;
        group_length += length;
        units_total += length;
    }
    close_group();
    if (std::ferror(file.get())) {
        if (error) *error = "cannot read " + path;
        return std::nullopt;
    }
    // The reader drops only what lies before the first start code.
    uint64_t skipped = file_size - units_total;
    for (PictureEntry& p : index.pictures) p.offset += skipped;
    if (!have_header || index.pictures.empty()) {
        if (error) *error = path + ": no AVS sequence header or picture found";
        return std::nullopt;
    }
    return index;
}

uint32_t MpegAudioFrameLength(const uint8_t* p, uint32_t* sample_rate, uint32_t* samples) {
    static const uint16_t kBitrates[5][16] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},  // V1 L1
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},     // V1 L2
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},      // V1 L3
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},     // V2 L1
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},          // V2 L2/L3
    };
    static const uint32_t kRates[3] = {44100, 48000, 32000};
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return 0;
    int version = (p[1] >> 3) & 3;  // 0: 2.5, 2: 2, 3: 1
    int layer = (p[1] >> 1) & 3;    // 1: III, 2: II, 3: I
    int bitrate_index = p[2] >> 4;
    int rate_index = (p[2] >> 2) & 3;
    int padding = (p[2] >> 1) & 1;
    if (version == 1 || layer == 0 || bitrate_index == 0 || bitrate_index == 15 || rate_index == 3)
        return 0;
    bool v1 = version == 3;
    int table = v1 ? 3 - layer : (layer == 3 ? 3 : 4);
    uint32_t bitrate = kBitrates[table][bitrate_index] * 1000u;
    uint32_t rate = kRates[rate_index] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    uint32_t n;
    uint32_t length;
    if (layer == 3) {
        n = 384;
        length = (12 * bitrate / rate + padding) * 4;
    } else if (layer == 2 || v1) {
        n = 1152;
        length = 144 * bitrate / rate + padding;
    } else {
        n = 576;
        length = 72 * bitrate / rate + padding;
    }
    if (sample_rate) *sample_rate = rate;
    if (samples) *samples = n;
    return length >= 4 ? length : 0;
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
