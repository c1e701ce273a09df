#include "filesource/branwick_video_stream.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "filesource/branwick_audio_stream.h"
#include "filesource/branwick_source.h"
#include "filesource/media_types.h"
#include "filesource/unpack.h"
#include "filtermodule/module_ids.h"

namespace filesource {

namespace {
// The start-code value of a P or B picture header: such a sample is no seek point.
constexpr uint8_t kPbPicture = 0xB6;
}  // namespace

CBranwickVideoStream::CBranwickVideoStream(HRESULT* phr, CBranwickSource* filter)
    : CBranwickStream(TEXT("CBranwickVideoStream"), phr, filter, L"Video") {}

int CBranwickVideoStream::SetupTrack(AvsContainer* container) {
    container_ = container;
    header_ = avs::AvsSequenceHeader{};
    track_ = container->first_track_id(kVideoHandler);
    const std::optional<std::string> entry = container->sample_entry_type(track_);
    if (!entry || !is_avs_sample_entry(*entry)) return -1;

    TrackSample first;
    if (!container->read_track_sample(track_, 1, first)) return -1;
    avs::DecodeSequenceHeaderFixed(first.bytes.data(), first.bytes.size(), header_);

    sample_limit_ = static_cast<int64_t>(container->sample_count(track_));
    timescale_ = container->track_timescale(track_);
    InitSeeking(container->duration_100ns());
    return 0;
}

HRESULT CBranwickVideoStream::GetMediaType(CMediaType* type) {
    return make_video_media_type(header_, type);
}

HRESULT CBranwickVideoStream::CheckMediaType(const CMediaType* type) {
    CheckPointer(type, E_POINTER);
    if (*type->Type() == MEDIATYPE_Video && *type->Subtype() == MEDIASUBTYPE_AVS2 &&
        *type->FormatType() == FORMAT_AvsVideo)
        return S_OK;
    return E_INVALIDARG;
}

HRESULT CBranwickVideoStream::Active() {
    filter_->video_new_segment_pending() = true;
    send_header_first_ = true;
    return CBranwickStream::Active();
}

HRESULT CBranwickVideoStream::FillBuffer(IMediaSample* sample) {
    BYTE* buffer = nullptr;
    if (sample == nullptr || FAILED(sample->GetPointer(&buffer)) || buffer == nullptr) {
        AvsTrace("CBranwickVideoStream::FillBuffer() Failed to get sample pointer");
        return S_FALSE;
    }
    int64_t next = next_sample_.load();
    // Samples 1 to N are delivered; past N the stream ends.
    if (next > sample_limit_.load()) return S_FALSE;
    if (next < 1) next_sample_ = next = 1;
    const size_t room = static_cast<size_t>(std::max<LONG>(0, sample->GetSize()));

    if (send_header_first_.exchange(false)) {
        const size_t n = std::min(
            {static_cast<size_t>(std::max(0, header_.header_length)), avs::kHeaderBytesRoom, room});
        std::memcpy(buffer, header_.header_bytes, n);
        REFERENCE_TIME zero = 0, zero_stop = 0;
        sample->SetTime(&zero, &zero_stop);
        sample->SetActualDataLength(static_cast<LONG>(n));
        return S_OK;
    }

    TrackSample& s = fill_sample_;
    // The stored sample is read straight into the delivery buffer and unpacked
    // there; only one larger than the buffer goes through our own, and is cut.
    const auto read = container_->read_stored_sample_into(track_, static_cast<uint64_t>(next),
                                                          std::span<uint8_t>(buffer, room), s);
    std::optional<size_t> total;
    bool ok = read != AvsContainer::DirectRead::kFailed;
    if (read == AvsContainer::DirectRead::kRead) {
        total = unpack_video_sample_in_place(std::span<uint8_t>(buffer, s.length));
    } else if (read == AvsContainer::DirectRead::kTooLarge) {
        ok = container_->read_stored_sample(track_, static_cast<uint64_t>(next), s);
        if (ok) total = unpacked_video_size(s.stored);
        if (total && *total > 0) {
            s.bytes.resize(*total);
            unpack_video_sample_into(s.stored, s.bytes.data());
            total = std::min(*total, room);
            std::memcpy(buffer, s.bytes.data(), *total);
        }
    }
    // An unreadable sample is passed on once as an empty sample and skipped, so
    // the stream still reaches its end; a long run of them ends it at once.
    next_sample_ = next + 1;
    if (!total || *total == 0) {
        if (ok) AvsTrace("CBranwickVideoStream: sample %lld does not unpack", (long long)next);
        if (EndsAfterUnreadable()) return S_FALSE;
        MakeEmpty(sample);
        return S_OK;
    }
    CountReadable();
    const size_t n = *total;
    sample->SetActualDataLength(static_cast<LONG>(n));
    if (filter_->video_new_segment_pending().exchange(false)) {
        DeliverNewSegment(0, kOpenSegmentStop, 1.0);
        sample->SetDiscontinuity(TRUE);
    }
    SetTimes(sample, s.start, s.stop);
    sample->SetSyncPoint(TRUE);
    return S_OK;
}

HRESULT CBranwickVideoStream::ChangeStart() {
    CopySegment();
    CBranwickAudioStream* audio = filter_->audio_stream();
    int64_t k = 0, audio_target = 0;
    std::optional<int64_t> offset;
    {
        CAutoLock lock(&stream_lock_);
        REFERENCE_TIME start = 0, stop = 0;
        SeekingPositions(start, stop);
        const int64_t limit = sample_limit_.load();
        k = proportional_sample(start, stop, limit);
        // The nearest sample at or after k that does not begin with a P or B picture.
        for (; k <= limit; ++k) {
            TrackSample s;
            if (!container_->read_track_sample(track_, static_cast<uint64_t>(k), s)) {
                if (s.length != kInvalidSampleLength) return S_FALSE;  // nothing moves
                offset = s.start;  // units that do not fit end the search there
                break;
            }
            if (s.bytes.size() <= 3 || s.bytes[3] != kPbPicture) {
                offset = s.start;
                break;
            }
        }
        if (k <= limit) {
            if (audio != nullptr)
                audio_target = proportional_sample(*offset, stop, audio->sample_limit());
        } else {
            // Only P and B pictures from here on: both streams end at once.
            k = limit + 1;
            offset.reset();
            if (audio != nullptr) audio_target = audio->sample_limit() + 1;
        }
    }
    Reposition(k, offset);
    if (audio != nullptr) audio->Reposition(audio_target, offset);
    return S_OK;
}

}  // namespace filesource
