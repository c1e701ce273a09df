#include "dshow/ffmpeg/media_det.h"

#include <string>
#include <vector>

#include "media_file.h"

namespace avs::dshow {
namespace {

// Like the Windows object, one detector serves one file and one thread at a time.
class CMediaDet final : public CUnknown, public IMediaDet {
  public:
    explicit CMediaDet(LPUNKNOWN outer) : CUnknown(TEXT("MediaDet"), outer) {}

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        CheckPointer(ppv, E_POINTER);
        if (riid == IID_IMediaDet) return GetInterface(static_cast<IMediaDet*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }

    STDMETHODIMP put_Filename(BSTR name) override {
        CheckPointer(name, E_POINTER);
        fmt_.reset();
        streams_.clear();
        current_ = 0;
        filename_ = name;
        HRESULT hr = media::OpenMediaFile(avs::com::Narrow(filename_), fmt_);
        if (FAILED(hr)) return hr;
        for (unsigned i = 0; i < fmt_->nb_streams; ++i)
            if (media::IsMediaStream(fmt_->streams[i])) streams_.push_back(fmt_->streams[i]);
        return S_OK;
    }
    STDMETHODIMP get_Filename(BSTR* out) override {
        CheckPointer(out, E_POINTER);
        *out = ::SysAllocString(filename_.c_str());
        return *out == nullptr ? E_OUTOFMEMORY : S_OK;
    }
    STDMETHODIMP get_OutputStreams(LONG* out) override {
        CheckPointer(out, E_POINTER);
        if (!fmt_) return E_INVALIDARG;
        *out = static_cast<LONG>(streams_.size());
        return S_OK;
    }
    STDMETHODIMP get_CurrentStream(LONG* out) override {
        CheckPointer(out, E_POINTER);
        *out = current_;
        return S_OK;
    }
    STDMETHODIMP put_CurrentStream(LONG n) override {
        if (!fmt_ || n < 0 || n >= static_cast<LONG>(streams_.size())) return E_INVALIDARG;
        current_ = n;
        return S_OK;
    }
    STDMETHODIMP get_StreamType(GUID* out) override {
        CheckPointer(out, E_POINTER);
        const AVStream* st = Current();
        if (st == nullptr) return E_INVALIDARG;
        *out = media::IsAudio(st) ? MEDIATYPE_Audio : MEDIATYPE_Video;
        return S_OK;
    }
    STDMETHODIMP get_StreamTypeB(BSTR* out) override {
        CheckPointer(out, E_POINTER);
        GUID type;
        HRESULT hr = get_StreamType(&type);
        if (FAILED(hr)) return hr;
        *out = ::SysAllocString(avs::com::GuidToWString(type).c_str());
        return *out == nullptr ? E_OUTOFMEMORY : S_OK;
    }
    STDMETHODIMP get_StreamMediaType(AM_MEDIA_TYPE* out) override {
        CheckPointer(out, E_POINTER);
        const AVStream* st = Current();
        if (st == nullptr) return E_INVALIDARG;
        CMediaType mt;
        if (media::IsAudio(st))
            media::MakeStoredAudioType(st, &mt);
        else
            media::MakeVideoType(st, &mt);
        if (mt.Format() == nullptr) return E_OUTOFMEMORY;
        return CopyMediaType(out, &mt);
    }
    STDMETHODIMP get_StreamLength(double* out) override {
        CheckPointer(out, E_POINTER);
        const AVStream* st = Current();
        if (st == nullptr) return E_INVALIDARG;
        *out = media::StreamSeconds(st, fmt_.get());
        return S_OK;
    }
    STDMETHODIMP get_FrameRate(double* out) override {
        CheckPointer(out, E_POINTER);
        const AVStream* st = Current();
        if (st == nullptr) return E_INVALIDARG;
        *out = media::IsAudio(st) ? 0 : media::FrameRate(st);
        return S_OK;
    }

    // Frame grabbing and filter access are not offered.
    STDMETHODIMP get_Filter(IUnknown**) override { return E_NOTIMPL; }
    STDMETHODIMP put_Filter(IUnknown*) override { return E_NOTIMPL; }
    STDMETHODIMP GetBitmapBits(double, LONG*, char*, LONG, LONG) override { return E_NOTIMPL; }
    STDMETHODIMP WriteBitmapBits(double, LONG, LONG, BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP GetSampleGrabber(ISampleGrabber**) override { return E_NOTIMPL; }
    STDMETHODIMP EnterBitmapGrabMode(double) override { return E_NOTIMPL; }

  private:
    const AVStream* Current() const {
        if (!fmt_ || current_ < 0 || current_ >= static_cast<LONG>(streams_.size())) return nullptr;
        return streams_[static_cast<std::size_t>(current_)];
    }

    std::wstring filename_;
    media::FormatPtr fmt_;
    std::vector<const AVStream*> streams_;
    LONG current_ = 0;
};

}  // namespace

HRESULT CreateMediaDetInstance(IUnknown* outer, REFIID riid, void** ppv) {
    return HandOutNewObject(new (std::nothrow) CMediaDet(outer), S_OK, riid, ppv);
}

}  // namespace avs::dshow
