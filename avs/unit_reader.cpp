#include "avs/unit_reader.h"

#include <cstring>

#include "avs/start_code.h"

namespace avs {

namespace {
// Spare room behind the window so that dropping a unit is a pointer move; the window is
// moved to the front only when it reaches the end of the storage.
constexpr size_t kSlack = 256 * 1024;
}  // namespace

void AvsUnitReader::reset() {
    storage_.clear();
    storage_.shrink_to_fit();
    head_ = 0;
    unit_length_ = 0;
    filled_ = 0;
    capacity_ = 0;
    continues_cut_unit_ = false;
}

void AvsUnitReader::make_room() {
    if (head_ + capacity_ <= storage_.size()) return;
    if (storage_.size() < size_t{capacity_} + kSlack) {
        std::vector<uint8_t> bigger(size_t{capacity_} * 2 + kSlack);
        if (filled_ > 0) std::memcpy(bigger.data(), storage_.data() + head_, filled_);
        storage_.swap(bigger);
    } else if (filled_ > 0) {
        std::memmove(storage_.data(), storage_.data() + head_, filled_);
    }
    head_ = 0;
}

// n > 0 drops the first n bytes; n == 0 grows the buffer by one step (false at the end
// of the source). Then reads as many bytes as fit; true when any byte was read.
bool AvsUnitReader::refill(uint32_t n) {
    if (n > 0) {
        if (n > filled_) n = filled_;
        head_ += n;
        filled_ -= n;
        unit_length_ = 0;
        if (filled_ == 0) head_ = 0;
    } else {
        if (source_->at_end()) return false;
        if (capacity_ > max_capacity_ - kGrowStep) return false;
        capacity_ += kGrowStep;
    }
    make_room();
    size_t got = source_->read(storage_.data() + head_ + filled_, capacity_ - filled_);
    filled_ += static_cast<uint32_t>(got);
    return got > 0;
}

bool AvsUnitReader::next() {
    bool cut = continues_cut_unit_;
    continues_cut_unit_ = false;
    if (unit_length_ > 0 || filled_ == 0) {
        if (!refill(unit_length_) && filled_ == 0) return false;
    }
    // After a unit cut at the size cap the rest of it follows, not leading garbage.
    if (!cut && !begins_with_prefix(data(), filled_)) {
        uint32_t k = find_start_code(data(), filled_);
        if (k > 0) refill(k);
    }
    // Search data()[from, filled) for the next prefix. After growing, the bytes already
    // searched hold no prefix whose 01 byte was examined, so the search resumes six
    // bytes before the old end with the same result as searching again from byte 4.
    uint32_t from = 4;
    for (;;) {
        if (filled_ > from) {
            uint32_t k = find_start_code(data() + from, filled_ - from);
            if (k > 0) {
                unit_length_ = from + k;
                return true;
            }
        }
        uint32_t old = filled_;
        if (!refill(0)) {
            continues_cut_unit_ = !source_->at_end();
            break;
        }
        from = old >= 10 ? old - 6 : 4;
    }
    unit_length_ = filled_;
    return true;
}

}  // namespace avs
