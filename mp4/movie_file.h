// An ISO base media file opened through a byte source: the box tree of its
// headers and tables (media data is left in place) and sample reading.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "mp4/box.h"
#include "mp4/byte_source.h"
#include "mp4/header_boxes.h"
#include "mp4/track.h"

namespace mp4 {

class MovieFile {
  public:
    // Builds the box tree from the whole file. Throws Mp4Error on any fault;
    // there is no partial result. The source must outlive the MovieFile.
    static std::unique_ptr<MovieFile> Open(ByteSource& source,
                                           const BoxFactory& factory = StandardBoxFactory());

    const Box& Root() const { return *root_; }
    const MovieHeaderBox& MovieHeader() const { return *mvhd_; }
    const std::vector<Track>& Tracks() const { return tracks_; }
    // The track with this id, or null.
    const Track* FindTrack(uint32_t id) const;
    uint64_t FileSize() const { return file_size_; }
    // Throws Mp4Error when a track's tables claim more than the file holds
    // (SampleTable::check_fits), so that a player can refuse the file before
    // it tries billions of samples that are not there. Not part of open: a
    // writer reads back the tables of a file whose data is not in the source.
    void CheckTablesFit() const;

    // Looks a sample up and checks that it is readable: a known sample entry,
    // data in this file, bytes inside the file. Throws otherwise.
    SampleInfo InfoOf(const Track& track, uint64_t number) const;
    // The sample's bytes. Not thread-safe: callers sharing a MovieFile
    // serialise their reads, since they share the source's position.
    std::vector<uint8_t> ReadSample(const Track& track, uint64_t number,
                                    SampleInfo* info = nullptr) const;
    // The sample's bytes straight into `buffer` (no copy of our own); returns
    // the sample's size. Throws, reading nothing, when the sample does not fit
    // `buffer` or cannot be read. Not thread-safe, as read_sample.
    size_t ReadSampleInto(const Track& track, uint64_t number, std::span<uint8_t> buffer,
                          SampleInfo* info = nullptr) const;

  private:
    explicit MovieFile(ByteSource& source) : source_(source) {}

    ByteSource& source_;
    uint64_t file_size_ = 0;
    std::unique_ptr<Box> root_;
    const MovieHeaderBox* mvhd_ = nullptr;
    std::vector<Track> tracks_;
};

}  // namespace mp4
