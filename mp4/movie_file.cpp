#include "mp4/movie_file.h"

#include <cstring>
#include <string>

#include "mp4/error.h"

namespace mp4 {

namespace {
constexpr int kMaxDepth = 16;
// Header and table boxes are read whole; nothing sane comes near this.
constexpr uint64_t kMaxPayload = 512ull << 20;

uint32_t be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// Walks the boxes of [begin, end): containers are descended into, boxes the
// factory knows are read and parsed, everything else (mdat included) skipped.
void walk(ByteSource& source, Box& parent, uint64_t begin, uint64_t end, const BoxFactory& factory,
          int depth) {
    uint64_t pos = begin;
    while (end - pos >= 8) {
        uint8_t head[16];
        read_exact_at(source, pos, head, 8);
        BoxHeader header;
        header.offset = pos;
        header.type.assign(reinterpret_cast<const char*>(head + 4), 4);
        uint64_t size = be32(head);
        if (size == 1) {
            if (end - pos < 16)
                throw Mp4Error("box '" + printable_type(header.type) + "' is cut short");
            read_exact_at(source, pos + 8, head + 8, 8);
            size = uint64_t{be32(head + 8)} << 32 | be32(head + 12);
            header.header_size = 16;
        } else if (size == 0) {
            size = end - pos;  // runs to the end of its parent
        }
        if (size < header.header_size || size > end - pos)
            throw Mp4Error("box '" + printable_type(header.type) + "' at offset " +
                           std::to_string(pos) + " runs past its parent");
        header.size = size;

        auto box = factory.create(header.type);
        box->set_header(header);
        const uint64_t payload_start = pos + header.header_size;
        const uint64_t payload_size = size - header.header_size;
        if (box->is_container()) {
            if (depth >= kMaxDepth) throw Mp4Error("boxes are nested too deeply");
            walk(source, *box, payload_start, pos + size, factory, depth + 1);
        } else if (factory.knows(header.type)) {
            if (payload_size > kMaxPayload)
                throw Mp4Error("box '" + printable_type(header.type) + "' is too large");
            auto bytes = read_exact_at(source, payload_start, static_cast<size_t>(payload_size));
            Cursor payload(bytes, printable_type(header.type));
            box->parse(payload, factory);
            // Parsed boxes may point into their payload; they keep no such
            // pointers, so the bytes can go now.
        }
        parent.add_child(std::move(box));
        pos += size;
    }
}
}  // namespace

std::unique_ptr<MovieFile> MovieFile::open(ByteSource& source, const BoxFactory& factory) {
    std::unique_ptr<MovieFile> file(new MovieFile(source));
    file->file_size_ = source.size();
    file->root_ = std::make_unique<ContainerBox>();
    walk(source, *file->root_, 0, file->file_size_, factory, 0);

    const Box* moov = file->root_->child("moov");
    if (!moov) throw Mp4Error("missing mandatory box 'moov'");
    file->mvhd_ = moov->child_as<MovieHeaderBox>("mvhd");
    if (!file->mvhd_) throw Mp4Error("missing mandatory box 'mvhd'");
    if (file->mvhd_->timescale == 0) throw Mp4Error("the movie has time scale 0");
    for (const auto& child : moov->children())
        if (child->type() == "trak") file->tracks_.emplace_back(*child);
    return file;
}

void MovieFile::check_tables_fit() const {
    for (const auto& t : tracks_) {
        try {
            t.samples().check_fits(file_size_);
        } catch (const Mp4Error& e) {
            throw Mp4Error("track " + std::to_string(t.id()) + ": " + e.what());
        }
    }
}

const Track* MovieFile::find_track(uint32_t id) const {
    for (const auto& t : tracks_)
        if (t.id() == id) return &t;
    return nullptr;
}

SampleInfo MovieFile::sample_info(const Track& track, uint64_t number) const {
    SampleInfo info = track.samples().lookup(number);
    track.readable_entry(info.description_index);
    if (info.offset > file_size_ || info.size > file_size_ - info.offset)
        throw Mp4Error("sample " + std::to_string(number) + " lies past the end of the file");
    return info;
}

std::vector<uint8_t> MovieFile::read_sample(const Track& track, uint64_t number,
                                            SampleInfo* info) const {
    SampleInfo where = sample_info(track, number);
    if (info) *info = where;
    return read_exact_at(source_, where.offset, where.size);
}

size_t MovieFile::read_sample_into(const Track& track, uint64_t number, std::span<uint8_t> buffer,
                                   SampleInfo* info) const {
    SampleInfo where = sample_info(track, number);
    if (info) *info = where;
    if (where.size > buffer.size())
        throw Mp4Error("sample " + std::to_string(number) + " needs " + std::to_string(where.size) +
                       " bytes, the buffer holds " + std::to_string(buffer.size()));
    read_exact_at(source_, where.offset, buffer.data(), where.size);
    return where.size;
}

}  // namespace mp4
