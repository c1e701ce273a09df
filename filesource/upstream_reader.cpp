#include "filesource/upstream_reader.h"

#include <algorithm>
#include <limits>

namespace filesource {

namespace {
// Largest piece per SyncRead: its length is a 32-bit LONG.
constexpr size_t kMaxPiece = size_t{1} << 30;
}  // namespace

UpstreamReader::UpstreamReader(IAsyncReader* reader) : reader_(reader) {
    if (reader_ != nullptr) reader_->AddRef();
}

UpstreamReader::~UpstreamReader() {
    if (reader_ != nullptr) reader_->Release();
}

uint64_t UpstreamReader::Size() {
    LONGLONG total = 0, available = 0;
    if (reader_ == nullptr || FAILED(reader_->Length(&total, &available)) || total < 0) return 0;
    return static_cast<uint64_t>(total);
}

size_t UpstreamReader::Read(void* buffer, size_t n) {
    if (reader_ == nullptr) return 0;
    auto* out = static_cast<BYTE*>(buffer);
    size_t done = 0;
    while (done < n) {
        const uint64_t at = position_ + done;
        if (at > static_cast<uint64_t>(std::numeric_limits<LONGLONG>::max())) break;
        const size_t piece = std::min(n - done, kMaxPiece);
        const HRESULT hr =
            reader_->SyncRead(static_cast<LONGLONG>(at), static_cast<LONG>(piece), out + done);
        if (hr != S_OK) break;
        done += piece;
    }
    position_ += done;
    return done;
}

}  // namespace filesource
