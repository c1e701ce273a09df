// The container reader's byte source when the filter plays: the upstream pin's
// IAsyncReader, read synchronously at a position of our own.
#pragma once

#include <cstdint>

#include "dshow/streams.h"
#include "mp4/byte_source.h"

namespace filesource {

class UpstreamReader : public mp4::ByteSource {
  public:
    // Keeps a counted reference to `reader` until the byte source goes.
    explicit UpstreamReader(IAsyncReader* reader);
    ~UpstreamReader() override;
    UpstreamReader(const UpstreamReader&) = delete;
    UpstreamReader& operator=(const UpstreamReader&) = delete;

    // The total length IAsyncReader::Length reports; 0 when it fails.
    uint64_t Size() override;
    // SyncRead at the position. A short read (S_FALSE) delivers nothing and
    // leaves the position; so does a failed one, which would otherwise count
    // bytes that never arrived. Large reads go up in pieces a LONG can carry.
    size_t Read(void* buffer, size_t n) override;
    void Seek(uint64_t position) override { position_ = position; }

  private:
    IAsyncReader* reader_;
    uint64_t position_ = 0;
};

}  // namespace filesource
