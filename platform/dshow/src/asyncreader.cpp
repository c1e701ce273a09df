// The asynchronous file reader: a source filter with one output pin that offers the
// file's bytes through IAsyncReader, for a parser downstream to pull.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "dshow/runtime.h"

namespace avs::dshow {
namespace {

class AsyncReaderFilter;

class AsyncOutputPin final : public CBasePin, public IAsyncReader {
  public:
    AsyncOutputPin(AsyncReaderFilter* filter, CCritSec* lock, HRESULT* phr);

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        CheckPointer(ppv, E_POINTER);
        if (riid == IID_IAsyncReader) return GetInterface(static_cast<IAsyncReader*>(this), ppv);
        return CBasePin::NonDelegatingQueryInterface(riid, ppv);
    }

    HRESULT CheckMediaType(const CMediaType* mt) override {
        return *mt->Type() == MEDIATYPE_Stream ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(int position, CMediaType* mt) override {
        if (position < 0) return E_INVALIDARG;
        if (position > 0) return VFW_S_NO_MORE_ITEMS;
        mt->InitMediaType();
        mt->SetType(&MEDIATYPE_Stream);
        mt->SetSubtype(&MEDIASUBTYPE_NULL);
        mt->SetFormatType(&GUID_NULL);
        return S_OK;
    }
    // The downstream parser pulls; nothing is ever pushed into this pin.
    STDMETHODIMP EndOfStream() override { return E_UNEXPECTED; }

    // IPin and IAsyncReader both have BeginFlush/EndFlush with the same signature; as
    // in the SDK's reader, one implementation serves both: it flushes pending requests.
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;

    // IAsyncReader
    STDMETHODIMP RequestAllocator(IMemAllocator* pPreferred, ALLOCATOR_PROPERTIES* pProps,
                                  IMemAllocator** ppActual) override;
    STDMETHODIMP Request(IMediaSample* pSample, DWORD_PTR dwUser) override;
    STDMETHODIMP WaitForNext(DWORD dwTimeout, IMediaSample** ppSample, DWORD_PTR* pdwUser) override;
    STDMETHODIMP SyncReadAligned(IMediaSample* pSample) override;
    STDMETHODIMP SyncRead(LONGLONG llPosition, LONG lLength, BYTE* pBuffer) override;
    STDMETHODIMP Length(LONGLONG* pTotal, LONGLONG* pAvailable) override;

  private:
    HRESULT ReadInto(IMediaSample* sample);
    AsyncReaderFilter* reader_;
    struct Done {
        IMediaSample* sample;
        DWORD_PTR user;
        HRESULT hr;
    };
    std::mutex mutex_;
    std::condition_variable cond_;
    std::deque<Done> done_;
    bool flushing_ = false;
};

class AsyncReaderFilter final : public CBaseFilter, public IFileSourceFilter {
  public:
    AsyncReaderFilter(LPUNKNOWN outer, HRESULT* phr)
        : CBaseFilter(TEXT("async reader"), outer, &lock_, CLSID_AsyncReader),
          pin_(this, &lock_, phr) {}
    ~AsyncReaderFilter() override {
        if (fd_ >= 0) ::close(fd_);
    }

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        CheckPointer(ppv, E_POINTER);
        if (riid == IID_IFileSourceFilter)
            return GetInterface(static_cast<IFileSourceFilter*>(this), ppv);
        return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
    }

    int GetPinCount() override {
        CAutoLock l(&lock_);
        return fd_ >= 0 ? 1 : 0;
    }
    CBasePin* GetPin(int n) override { return (n == 0 && GetPinCount() == 1) ? &pin_ : nullptr; }

    STDMETHODIMP Load(LPCOLESTR name, const AM_MEDIA_TYPE*) override {
        CheckPointer(name, E_POINTER);
        CAutoLock l(&lock_);
        if (fd_ >= 0) return E_UNEXPECTED;
        std::string path = avs::com::Narrow(name);
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return errno == ENOENT ? HRESULT_FILE_NOT_FOUND : E_FAIL;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
            ::close(fd);
            return E_FAIL;
        }
        fd_ = fd;
        file_ = name;
        IncrementPinVersion();
        return S_OK;
    }
    STDMETHODIMP GetCurFile(LPOLESTR* name, AM_MEDIA_TYPE* mt) override {
        CheckPointer(name, E_POINTER);
        CAutoLock l(&lock_);
        *name = nullptr;
        if (fd_ < 0) return E_FAIL;
        *name = avs::com::CoTaskStrDup(file_.c_str());
        if (*name == nullptr) return E_OUTOFMEMORY;
        if (mt != nullptr) {
            CMediaType t;
            pin_.GetMediaType(0, &t);
            CopyMediaType(mt, &t);
        }
        return S_OK;
    }

    int fd() const { return fd_; }

  private:
    CCritSec lock_;
    AsyncOutputPin pin_;
    int fd_ = -1;  // set once by Load, before any reading
    std::wstring file_;
};

AsyncOutputPin::AsyncOutputPin(AsyncReaderFilter* filter, CCritSec* lock, HRESULT* phr)
    : CBasePin(TEXT("async output"), filter, lock, phr, L"Output", PINDIR_OUTPUT),
      reader_(filter) {}

STDMETHODIMP AsyncOutputPin::BeginFlush() {
    {
        std::lock_guard<std::mutex> g(mutex_);
        flushing_ = true;
    }
    cond_.notify_all();
    return S_OK;
}

STDMETHODIMP AsyncOutputPin::EndFlush() {
    std::lock_guard<std::mutex> g(mutex_);
    flushing_ = false;
    return S_OK;
}

STDMETHODIMP AsyncOutputPin::RequestAllocator(IMemAllocator* pPreferred,
                                              ALLOCATOR_PROPERTIES* pProps,
                                              IMemAllocator** ppActual) {
    CheckPointer(pProps, E_POINTER);
    CheckPointer(ppActual, E_POINTER);
    *ppActual = nullptr;
    ALLOCATOR_PROPERTIES req = *pProps;
    if (req.cbAlign == 0) req.cbAlign = 1;
    ALLOCATOR_PROPERTIES actual{};
    if (pPreferred != nullptr && SUCCEEDED(pPreferred->SetProperties(&req, &actual))) {
        pPreferred->AddRef();
        *ppActual = pPreferred;
        return S_OK;
    }
    HRESULT hr = S_OK;
    auto* alloc = new CMemAllocator(TEXT("reader allocator"), nullptr, &hr);
    IMemAllocator* a = nullptr;
    alloc->NonDelegatingQueryInterface(IID_IMemAllocator, reinterpret_cast<void**>(&a));
    hr = a->SetProperties(&req, &actual);
    if (FAILED(hr)) {
        a->Release();
        return hr;
    }
    *ppActual = a;
    return S_OK;
}

HRESULT AsyncOutputPin::ReadInto(IMediaSample* sample) {
    REFERENCE_TIME start = 0, stop = 0;
    HRESULT hr = sample->GetTime(&start, &stop);
    if (FAILED(hr)) return hr;
    // Sample times carry byte positions times UNITS.
    LONGLONG pos = start / UNITS;
    LONGLONG len = (stop - start) / UNITS;
    if (pos < 0 || len < 0 || len > sample->GetSize()) return E_INVALIDARG;
    BYTE* buffer = nullptr;
    sample->GetPointer(&buffer);
    LONGLONG total = 0;
    Length(&total, nullptr);
    LONG want = static_cast<LONG>(len);
    if (pos + want > total) want = pos >= total ? 0 : static_cast<LONG>(total - pos);
    hr = SyncRead(pos, want, buffer);
    if (FAILED(hr)) return hr;
    sample->SetActualDataLength(want);
    return want == len ? S_OK : S_FALSE;
}

STDMETHODIMP AsyncOutputPin::Request(IMediaSample* pSample, DWORD_PTR dwUser) {
    CheckPointer(pSample, E_POINTER);
    {
        std::lock_guard<std::mutex> g(mutex_);
        if (flushing_) return VFW_E_WRONG_STATE;
    }
    // Local files are read at once; the request completes immediately.
    HRESULT hr = ReadInto(pSample);
    {
        std::lock_guard<std::mutex> g(mutex_);
        done_.push_back({pSample, dwUser, hr});
    }
    cond_.notify_all();
    return S_OK;
}

STDMETHODIMP AsyncOutputPin::WaitForNext(DWORD dwTimeout, IMediaSample** ppSample,
                                         DWORD_PTR* pdwUser) {
    CheckPointer(ppSample, E_POINTER);
    *ppSample = nullptr;
    std::unique_lock<std::mutex> l(mutex_);
    auto ready = [&] { return !done_.empty() || flushing_; };
    if (dwTimeout == INFINITE)
        cond_.wait(l, ready);
    else
        cond_.wait_for(l, std::chrono::milliseconds(dwTimeout), ready);
    if (done_.empty()) return flushing_ ? VFW_E_WRONG_STATE : VFW_E_TIMEOUT;
    Done d = done_.front();
    done_.pop_front();
    *ppSample = d.sample;
    if (pdwUser != nullptr) *pdwUser = d.user;
    // While flushing every pending request comes back failed.
    return flushing_ ? VFW_E_WRONG_STATE : d.hr;
}

STDMETHODIMP AsyncOutputPin::SyncReadAligned(IMediaSample* pSample) {
    CheckPointer(pSample, E_POINTER);
    return ReadInto(pSample);
}

STDMETHODIMP AsyncOutputPin::SyncRead(LONGLONG llPosition, LONG lLength, BYTE* pBuffer) {
    if (llPosition < 0 || lLength < 0) return E_INVALIDARG;
    if (lLength > 0 && pBuffer == nullptr) return E_POINTER;
    int fd = reader_->fd();
    if (fd < 0) return E_UNEXPECTED;
    LONG done = 0;
    while (done < lLength) {
        ssize_t n =
            ::pread(fd, pBuffer + done, static_cast<size_t>(lLength - done), llPosition + done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return E_FAIL;
        }
        if (n == 0) break;
        done += static_cast<LONG>(n);
    }
    return done == lLength ? S_OK : S_FALSE;
}

STDMETHODIMP AsyncOutputPin::Length(LONGLONG* pTotal, LONGLONG* pAvailable) {
    int fd = reader_->fd();
    if (fd < 0) return E_UNEXPECTED;
    struct stat st {};
    if (::fstat(fd, &st) != 0) return E_FAIL;
    if (pTotal != nullptr) *pTotal = st.st_size;
    if (pAvailable != nullptr) *pAvailable = st.st_size;
    return S_OK;
}

}  // namespace

HRESULT CreateAsyncReaderInstance(IUnknown* outer, REFIID riid, void** ppv) {
    HRESULT hr = S_OK;
    auto* f = new AsyncReaderFilter(outer, &hr);
    return HandOutNewObject(f, hr, riid, ppv);
}

HRESULT CreateAsyncFileReader(IBaseFilter** out) {
    CheckPointer(out, E_POINTER);
    return CreateAsyncReaderInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(out));
}

}  // namespace avs::dshow
