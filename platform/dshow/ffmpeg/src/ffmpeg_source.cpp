#include "dshow/ffmpeg/ffmpeg_source.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "pcm_decoder.h"

namespace avs::dshow {
namespace {

using media::FormatPtr;

constexpr unsigned kMostPcmChannels = 2;

// {F6E8003F-AC70-4722-B2AD-E2225410145F}
constexpr CLSID CLSID_FfmpegSource = {
    0xf6e8003f, 0xac70, 0x4722, {0xb2, 0xad, 0xe2, 0x22, 0x54, 0x10, 0x14, 0x5f}};

class CFfmpegSource final : public CSource {
  public:
    CFfmpegSource(std::string path, std::int64_t origin)
        : CSource(TEXT("FFmpeg source"), nullptr, CLSID_FfmpegSource),
          path_(std::move(path)),
          origin_(origin) {}
    const std::string& path() const { return path_; }
    std::int64_t origin() const { return origin_; }

  private:
    std::string path_;
    std::int64_t origin_;
};

// Decodes its stream to PCM; one media sample per decoded frame where the frame fits.
class CAudioStream final : public CSourceStream {
  public:
    CAudioStream(HRESULT* phr, CFfmpegSource* filter, LPCWSTR name, int index, unsigned channels,
                 unsigned rate)
        : CSourceStream(TEXT("FFmpeg audio"), phr, filter, name),
          source_(filter),
          index_(index),
          channels_(channels),
          rate_(rate) {}

  protected:
    HRESULT GetMediaType(CMediaType* mt) override {
        media::MakePcmType(channels_, rate_, mt);
        return mt->Format() != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override {
        // A second of sound holds the largest frame any common codec gives.
        const LONG block = static_cast<LONG>(channels_ * 2);
        request->cBuffers = std::max<LONG>(request->cBuffers, 4);
        request->cbBuffer = std::max<LONG>(request->cbBuffer, static_cast<LONG>(rate_) * block);
        request->cbAlign = std::max<LONG>(request->cbAlign, 1);
        ALLOCATOR_PROPERTIES actual{};
        HRESULT hr = alloc->SetProperties(request, &actual);
        if (FAILED(hr)) return hr;
        return actual.cbBuffer < block ? E_FAIL : S_OK;
    }
    HRESULT OnThreadCreate() override {
        decoder_ = std::make_unique<media::PcmDecoder>();
        pos_ = 0;
        if (!decoder_->Open(source_->path(), index_, channels_, rate_, source_->origin()))
            return E_FAIL;
        return S_OK;
    }
    HRESULT OnThreadDestroy() override {
        decoder_.reset();
        return S_OK;
    }
    HRESULT FillBuffer(IMediaSample* sample) override {
        while (pos_ >= decoder_->pcm().size()) {
            if (!decoder_->Next()) return S_FALSE;
            pos_ = 0;
        }
        BYTE* p = nullptr;
        if (FAILED(sample->GetPointer(&p)) || p == nullptr) return E_FAIL;
        const std::size_t block = channels_ * 2;
        const std::size_t room = static_cast<std::size_t>(sample->GetSize()) / block * block;
        const std::size_t n = std::min(room, decoder_->pcm().size() - pos_);
        std::memcpy(p, decoder_->pcm().data() + pos_, n);
        sample->SetActualDataLength(static_cast<LONG>(n));
        REFERENCE_TIME start = decoder_->start() + TimeOf(pos_ / block);
        REFERENCE_TIME stop = decoder_->start() + TimeOf((pos_ + n) / block);
        sample->SetTime(&start, &stop);
        sample->SetSyncPoint(TRUE);
        pos_ += n;
        return S_OK;
    }

  private:
    REFERENCE_TIME TimeOf(std::size_t frames) const {
        return static_cast<REFERENCE_TIME>(frames) * 10'000'000 / rate_;
    }

    CFfmpegSource* source_;
    int index_;
    unsigned channels_;
    unsigned rate_;
    std::unique_ptr<media::PcmDecoder> decoder_;  // the worker's own
    std::size_t pos_ = 0;
};

// Delivers the stream's coded packets; a packet larger than a buffer goes in pieces, the
// first carrying its times.
class CVideoStream final : public CSourceStream {
  public:
    CVideoStream(HRESULT* phr, CFfmpegSource* filter, LPCWSTR name, int index, const AVStream* st)
        : CSourceStream(TEXT("FFmpeg video"), phr, filter, name), source_(filter), index_(index) {
        media::MakeVideoType(st, &type_);
        const std::int64_t pixels = std::int64_t{st->codecpar->width} * st->codecpar->height;
        buffer_size_ = static_cast<LONG>(std::clamp<std::int64_t>(pixels * 3, 1 << 20, 32 << 20));
    }

  protected:
    HRESULT GetMediaType(CMediaType* mt) override { return mt->Set(type_); }
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override {
        request->cBuffers = std::max<LONG>(request->cBuffers, 2);
        request->cbBuffer = std::max<LONG>(request->cbBuffer, buffer_size_);
        request->cbAlign = std::max<LONG>(request->cbAlign, 1);
        ALLOCATOR_PROPERTIES actual{};
        HRESULT hr = alloc->SetProperties(request, &actual);
        if (FAILED(hr)) return hr;
        return actual.cbBuffer <= 0 ? E_FAIL : S_OK;
    }
    HRESULT OnThreadCreate() override {
        reader_ = std::make_unique<media::StreamReader>();
        packet_ = nullptr;
        return reader_->Open(source_->path(), index_) ? S_OK : E_FAIL;
    }
    HRESULT OnThreadDestroy() override {
        packet_ = nullptr;
        reader_.reset();
        return S_OK;
    }
    HRESULT FillBuffer(IMediaSample* sample) override {
        if (packet_ == nullptr || pos_ >= packet_->size) {
            packet_ = reader_->NextPacket();
            pos_ = 0;
            if (packet_ == nullptr) return S_FALSE;
        }
        BYTE* p = nullptr;
        if (FAILED(sample->GetPointer(&p)) || p == nullptr) return E_FAIL;
        const int n = std::min(sample->GetSize(), packet_->size - pos_);
        std::memcpy(p, packet_->data + pos_, static_cast<std::size_t>(n));
        sample->SetActualDataLength(n);
        if (pos_ == 0 && packet_->pts != AV_NOPTS_VALUE) {
            const AVRational tb = reader_->stream()->time_base;
            REFERENCE_TIME start = media::ReferenceTime(packet_->pts, tb, source_->origin());
            REFERENCE_TIME stop = start + media::ReferenceTime(packet_->duration, tb, 0);
            sample->SetTime(&start, &stop);
        } else {
            sample->SetTime(nullptr, nullptr);
        }
        sample->SetSyncPoint(pos_ == 0 && (packet_->flags & AV_PKT_FLAG_KEY) != 0);
        pos_ += n;
        return S_OK;
    }

  private:
    CFfmpegSource* source_;
    int index_;
    CMediaType type_;
    LONG buffer_size_;
    std::unique_ptr<media::StreamReader> reader_;  // the worker's own
    const AVPacket* packet_ = nullptr;
    int pos_ = 0;
};

}  // namespace

HRESULT CreateFfmpegSource(LPCWSTR file, IBaseFilter** out) {
    CheckPointer(file, E_POINTER);
    CheckPointer(out, E_POINTER);
    *out = nullptr;
    const std::string path = avs::com::Narrow(file);
    FormatPtr fmt;
    HRESULT hr = media::OpenMediaFile(path, fmt);
    if (FAILED(hr)) return hr;

    auto* filter = new (std::nothrow) CFfmpegSource(path, media::OriginOf(fmt.get()));
    if (filter == nullptr) return E_OUTOFMEMORY;
    filter->NonDelegatingAddRef();
    hr = S_OK;
    int audio = 0, video = 0;
    for (unsigned i = 0; i < fmt->nb_streams && SUCCEEDED(hr); ++i) {
        const AVStream* st = fmt->streams[i];
        if (!media::IsMediaStream(st)) continue;
        const int index = static_cast<int>(i);
        if (media::IsAudio(st)) {
            const AVCodecParameters* par = st->codecpar;
            // A stream nothing here can decode gets no pin, as no decoder would connect.
            if (avcodec_find_decoder(par->codec_id) == nullptr || par->sample_rate <= 0 ||
                par->ch_layout.nb_channels <= 0)
                continue;
            const std::wstring name = audio++ == 0 ? L"Audio" : L"Audio " + std::to_wstring(audio);
            // Sources of more than two channels are offered mixed down to stereo, so that a
            // consumer carrying at most two channels loses none of their sound.
            const auto channels =
                std::min(static_cast<unsigned>(par->ch_layout.nb_channels), kMostPcmChannels);
            new CAudioStream(&hr, filter, name.c_str(), index, channels,
                             static_cast<unsigned>(par->sample_rate));
        } else {
            const std::wstring name = video++ == 0 ? L"Video" : L"Video " + std::to_wstring(video);
            new CVideoStream(&hr, filter, name.c_str(), index, st);
        }
    }
    if (SUCCEEDED(hr) && filter->GetPinCount() == 0) hr = VFW_E_UNKNOWN_FILE_TYPE;
    if (SUCCEEDED(hr))
        hr = filter->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(out));
    filter->NonDelegatingRelease();
    return hr;
}

}  // namespace avs::dshow
