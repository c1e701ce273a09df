#include "filesource/branwick_stream.h"

#include <cmath>

#include "filesource/branwick_source.h"

namespace filesource {

int64_t proportional_sample(int64_t start, int64_t stop, int64_t limit) {
    if (stop <= 0) return 1;
    const double k = double(start) / double(stop) * double(limit);
    if (!(k >= 1.0)) return 1;  // also NaN
    if (k >= 9.2e18) return INT64_MAX;
    return static_cast<int64_t>(k);
}

CBranwickStream::CBranwickStream(LPCTSTR object_name, HRESULT* phr, CBranwickSource* filter,
                                 LPCWSTR pin_name)
    : CSeekingSourceStream(object_name, phr, filter, pin_name), filter_(filter) {}

void CBranwickStream::Rewind() {
    next_sample_ = 1;
    time_offset_ = 0;
    unreadable_run_ = 0;
}

void CBranwickStream::Reposition(int64_t k, std::optional<int64_t> offset) {
    auto change = [&] {
        next_sample_ = k;
        unreadable_run_ = 0;
        if (offset) time_offset_ = *offset;
        OnReposition();
    };
    if (ThreadExists()) {
        DeliverBeginFlush();
        Stop();
        change();
        DeliverEndFlush();
        Run();
    } else {
        change();
    }
}

void CBranwickStream::InitSeeking(int64_t duration) {
    {
        CAutoLock lock(CSourceSeeking::m_pLock);
        m_rtStart = 0;
    }
    SetSeekingDuration(duration);
}

void CBranwickStream::SetTimes(IMediaSample* sample, int64_t start, int64_t stop) const {
    const int64_t offset = time_offset_.load();
    REFERENCE_TIME s = start - offset, e = stop - offset;
    sample->SetTime(&s, &e);
}

void CBranwickStream::MakeEmpty(IMediaSample* sample) {
    REFERENCE_TIME zero = 0, zero_stop = 0;
    sample->SetTime(&zero, &zero_stop);
    sample->SetActualDataLength(0);
}

}  // namespace filesource
