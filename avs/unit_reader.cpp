#include "avs/unit_reader.h"

#include <algorithm>
#include <cstring>

#include "avs/start_code.h"

namespace avs {

namespace {
// The source is read in big pieces ahead of the window; the window is moved to the front
// of the storage only when it reaches the end, so dropping a unit is a pointer move.
constexpr size_t kReadChunk = 256 * 1024;
constexpr size_t kMinStorage = 4 * 1024 * 1024;
}  // namespace

void AvsUnitReader::Reset() {
    storage_.reset();
    storage_size_ = 0;
    head_ = 0;
    ahead_ = 0;
    unit_length_ = 0;
    filled_ = 0;
    capacity_ = 0;
    continues_cut_unit_ = false;
    continuation_ = false;
    retaining_ = false;
    retain_pos_ = 0;
}

void AvsUnitReader::Retain() {
    retaining_ = true;
    retain_pos_ = head_;
}

void AvsUnitReader::Release() {
    retaining_ = false;
    retain_pos_ = 0;
}

void AvsUnitReader::EnsureSpace(size_t more) {
    // Bytes from `base` on are kept: the retained units, the window and the read-ahead.
    const size_t base = retaining_ ? retain_pos_ : head_;
    const size_t used = (head_ - base) + filled_ + ahead_;
    if (base + used + more <= storage_size_) return;
    size_t needed = used + more;
    if (storage_size_ < needed + needed / 2) {
        const size_t size = std::max(needed * 2, kMinStorage);
        std::unique_ptr<uint8_t[]> bigger(new uint8_t[size]);
        if (used > 0) std::memcpy(bigger.get(), storage_.get() + base, used);
        storage_ = std::move(bigger);
        storage_size_ = size;
    } else if (used > 0) {
        std::memmove(storage_.get(), storage_.get() + base, used);
    }
    head_ -= base;
    retain_pos_ = 0;
}

// Moves up to `want` bytes from the source (through the read-ahead) into the window.
size_t AvsUnitReader::Take(size_t want) {
    while (ahead_ < want && !source_->AtEnd()) {
        size_t chunk = std::max(want - ahead_, kReadChunk);
        EnsureSpace(chunk);
        size_t got = source_->Read(storage_.get() + head_ + filled_ + ahead_, chunk);
        ahead_ += got;
        if (got == 0) break;
    }
    size_t got = std::min(want, ahead_);
    filled_ += static_cast<uint32_t>(got);
    ahead_ -= got;
    return got;
}

// n > 0 drops the first n bytes; n == 0 grows the buffer by one step (false when every
// byte of the source is already in the window). Then fills the window up to the
// capacity; true when any byte was added.
bool AvsUnitReader::Refill(uint32_t n) {
    if (n > 0) {
        if (n > filled_) n = filled_;
        head_ += n;
        filled_ -= n;
        unit_length_ = 0;
    } else {
        if (ahead_ == 0 && source_->AtEnd()) return false;
        if (capacity_ > max_capacity_ - kGrowStep) return false;
        capacity_ += kGrowStep;
    }
    return Take(capacity_ - filled_) > 0;
}

bool AvsUnitReader::Next() {
    bool cut = continues_cut_unit_;
    continues_cut_unit_ = false;
    if (unit_length_ > 0 || filled_ == 0) {
        if (!Refill(unit_length_) && filled_ == 0) return false;
    }
    // After a unit cut at the size cap the rest of it follows, not leading garbage; unless
    // a prefix stood right at the cut, which starts a unit of its own.
    const bool prefixed = BeginsWithPrefix(Data(), filled_);
    if (!cut && !prefixed) {
        uint32_t k = find_start_code(Data(), filled_);
        if (k > 0) Refill(k);
    }
    continuation_ = cut && !prefixed;
    // Search data()[from, filled) for the next prefix. After growing, the bytes already
    // searched hold no prefix whose 01 byte was examined, so the search resumes six
    // bytes before the old end with the same result as searching again from byte 4. A
    // continuation starts with the last five bytes of the piece before it, so it is
    // searched from its start: a prefix at any offset but 0 lies at byte 4 or later of the
    // unit.
    uint32_t from = continuation_ ? 0 : 4;
    for (;;) {
        if (filled_ > from) {
            uint32_t k = find_start_code(Data() + from, filled_ - from);
            if (k > 0) {
                unit_length_ = from + k;
                return true;
            }
        }
        uint32_t old = filled_;
        if (!Refill(0)) {
            continues_cut_unit_ = ahead_ > 0 || !source_->AtEnd();
            // A prefix whose 01 byte lies among the last three bytes was not found, so
            // the last five bytes begin the next piece, where such a prefix is found.
            // A prefix among them opens the next piece itself, so that the zero of a
            // 00 00 00 01 prefix stays with the unit before, as in a read without a cut.
            if (continues_cut_unit_ && filled_ > 5) {
                uint32_t keep = 5;
                for (uint32_t k = 5; k >= 3; --k) {
                    const uint8_t* p = Data() + filled_ - k;
                    if (p[0] == 0 && p[1] == 0 && p[2] == 1) {
                        keep = k;
                        break;
                    }
                }
                unit_length_ = filled_ - keep;
                return true;
            }
            break;
        }
        from = old >= 10 ? old - 6 : 4;
    }
    unit_length_ = filled_;
    return true;
}

}  // namespace avs
