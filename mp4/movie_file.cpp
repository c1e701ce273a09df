#include "mp4/movie_file.h"

#include <cstring>
#include <string>

#include "mp4/error.h"

namespace mp4 {

namespace {
constexpr int kMaxDepth = 16;
// Header and table boxes are read whole; nothing sane comes near this.
constexpr uint64_t kMaxPayload = 512ull << 20;

uint32_t Be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// Walks the boxes of [begin, end): containers are descended into, boxes the
// factory knows are read and parsed, everything else (mdat included) skipped.
void Walk(ByteSource& source, Box& parent, uint64_t begin, uint64_t end, const BoxFactory& factory,
          int depth) {
    uint64_t pos = begin;
    while (end - pos >= 8) {
        uint8_t head[16];
        ReadExactAt(source, pos, head, 8);
        BoxHeader header;
        header.offset = pos;
        header.type.assign(reinterpret_cast<const char*>(head + 4), 4);
        uint64_t size = Be32(head);
        if (size == 1) {
            if (end - pos < 16)
                throw Mp4Error("box '" + PrintableType(header.type) + "' is cut short");
            ReadExactAt(source, pos + 8, head + 8, 8);
            size = uint64_t{Be32(head + 8)} << 32 | Be32(head + 12);
            header.header_size = 16;
        } else if (size == 0) {
            size = end - pos;  // runs to the end of its parent
        }
        if (size < header.header_size || size > end - pos)
            throw Mp4Error("box '" + PrintableType(header.type) + "' at offset " +
                           std::to_string(pos) + " runs past its parent");
        header.size = size;

        auto box = factory.Create(header.type);
        box->SetHeader(header);
        const uint64_t payload_start = pos + header.header_size;
        const uint64_t payload_size = size - header.header_size;
        if (box->IsContainer()) {
            if (depth >= kMaxDepth) throw Mp4Error("boxes are nested too deeply");
            Walk(source, *box, payload_start, pos + size, factory, depth + 1);
        } else if (factory.Knows(header.type)) {
            if (payload_size > kMaxPayload)
                throw Mp4Error("box '" + PrintableType(header.type) + "' is too large");
            auto bytes = ReadExactAt(source, payload_start, static_cast<size_t>(payload_size));
            Cursor payload(bytes, PrintableType(header.type));
            box->Parse(payload, factory);
            // Parsed boxes may point into their payload; they keep no such
            // pointers, so the bytes can go now.
        }
        parent.AddChild(std::move(box));
        pos += size;
    }
}
}  // namespace

std::unique_ptr<MovieFile> MovieFile::Open(ByteSource& source, const BoxFactory& factory) {
    std::unique_ptr<MovieFile> file(new MovieFile(source));
    file->file_size_ = source.Size();
    file->root_ = std::make_unique<ContainerBox>();
    Walk(source, *file->root_, 0, file->file_size_, factory, 0);

    const Box* moov = file->root_->Child("moov");
    if (!moov) throw Mp4Error("missing mandatory box 'moov'");
    file->mvhd_ = moov->ChildAs<MovieHeaderBox>("mvhd");
    if (!file->mvhd_) throw Mp4Error("missing mandatory box 'mvhd'");
    if (file->mvhd_->timescale == 0) throw Mp4Error("the movie has time scale 0");
    for (const auto& child : moov->Children())
        if (child->Type() == "trak") file->tracks_.emplace_back(*child);
    return file;
}

void MovieFile::CheckTablesFit() const {
    for (const auto& t : tracks_) {
        try {
            t.Samples().CheckFits(file_size_);
        } catch (const Mp4Error& e) {
            throw Mp4Error("track " + std::to_string(t.Id()) + ": " + e.what());
        }
    }
}

const Track* MovieFile::FindTrack(uint32_t id) const {
    for (const auto& t : tracks_)
        if (t.Id() == id) return &t;
    return nullptr;
}

SampleInfo MovieFile::InfoOf(const Track& track, uint64_t number) const {
    SampleInfo info = track.Samples().Lookup(number);
    track.ReadableEntry(info.description_index);
    if (info.offset > file_size_ || info.size > file_size_ - info.offset)
        throw Mp4Error("sample " + std::to_string(number) + " lies past the end of the file");
    return info;
}

std::vector<uint8_t> MovieFile::ReadSample(const Track& track, uint64_t number,
                                           SampleInfo* info) const {
    SampleInfo where = InfoOf(track, number);
    if (info) *info = where;
    return ReadExactAt(source_, where.offset, where.size);
}

size_t MovieFile::ReadSampleInto(const Track& track, uint64_t number, std::span<uint8_t> buffer,
                                 SampleInfo* info) const {
    SampleInfo where = InfoOf(track, number);
    if (info) *info = where;
    if (where.size > buffer.size())
        throw Mp4Error("sample " + std::to_string(number) + " needs " + std::to_string(where.size) +
                       " bytes, the buffer holds " + std::to_string(buffer.size()));
    ReadExactAt(source_, where.offset, buffer.data(), where.size);
    return where.size;
}

}  // namespace mp4
