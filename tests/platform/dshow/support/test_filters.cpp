#include "test_filters.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace avs::test {

// ---------------------------------------------------------------- CTestStream

CTestStream::CTestStream(HRESULT* phr, CTestPushSource* filter, LPCWSTR name,
                         const StreamSpec& spec, BYTE tag)
    : CSourceStream(TEXT("test stream"), phr, filter, name),
      CSourceSeeking(TEXT("MediaSeeking"), static_cast<IPin*>(this), phr, &seek_lock_),
      spec_(spec),
      tag_(tag) {
    m_rtDuration = m_rtStop = spec.duration * spec.samples;
}

STDMETHODIMP CTestStream::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
    return CSourceStream::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CTestStream::GetMediaType(CMediaType* pmt) {
    pmt->InitMediaType();
    pmt->SetType(&MEDIATYPE_TestData);
    pmt->SetSubtype(&GUID_NULL);
    pmt->SetFormatType(&FORMAT_None);
    pmt->SetSampleSize(static_cast<ULONG>(spec_.size));
    return S_OK;
}

HRESULT CTestStream::DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) {
    request->cBuffers = 2;
    request->cbBuffer = spec_.size;
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = alloc->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < spec_.size ? E_FAIL : S_OK;
}

HRESULT CTestStream::FillBuffer(IMediaSample* sample) {
    in_fill_ = true;
    struct Leave {
        std::atomic<bool>& f;
        ~Leave() { f = false; }
    } leave{in_fill_};
    if (spec_.fill_delay_us > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(spec_.fill_delay_us));
    int i = next_.load();
    if (!spec_.endless && i >= spec_.samples) return S_FALSE;
    BYTE* p = nullptr;
    if (FAILED(sample->GetPointer(&p)) || p == nullptr) return S_FALSE;
    std::memset(p, tag_, static_cast<size_t>(spec_.size));
    for (int b = 0; b < 4; ++b) p[b] = static_cast<BYTE>(static_cast<unsigned>(i) >> (8 * b));
    sample->SetActualDataLength(spec_.size);
    REFERENCE_TIME start = i * spec_.duration - offset_.load();
    REFERENCE_TIME stop = start + spec_.duration;
    sample->SetTime(&start, &stop);
    sample->SetSyncPoint(i % spec_.sync_every == 0);
    sample->SetDiscontinuity(discontinuity_.exchange(false));
    next_ = i + 1;
    return S_OK;
}

HRESULT CTestStream::OnThreadStartPlay() {
    ++thread_start_plays;
    discontinuity_ = true;
    REFERENCE_TIME start, stop;
    double rate;
    {
        CAutoLock l(&seek_lock_);
        start = m_rtStart;
        stop = m_rtStop;
        rate = m_dRateSeeking;
    }
    return DeliverNewSegment(start, stop, rate);
}

HRESULT CTestStream::ChangeStart() {
    ++change_start_calls;
    REFERENCE_TIME start;
    {
        CAutoLock l(&seek_lock_);
        start = m_rtStart;
    }
    int k = static_cast<int>(start / spec_.duration);
    offset_ = start;
    Reposition(k);
    return S_OK;
}

void CTestStream::Reposition(int next) {
    if (ThreadExists()) {
        DeliverBeginFlush();
        Stop();
        if (in_fill_) reposition_raced = true;  // the worker must be waiting now
        next_ = next;
        DeliverEndFlush();
        Run();
    } else {
        next_ = next;
    }
}

void CTestStream::Rewind() {
    next_ = 0;
    offset_ = 0;
}

// ---------------------------------------------------------------- CTestPushSource

CTestPushSource::CTestPushSource(LPUNKNOWN outer, HRESULT* phr, const StreamSpec& a,
                                 const StreamSpec& b)
    : CSource(TEXT("test push source"), outer, CLSID_TestPushSource) {
    new CTestStream(phr, this, L"Video", a, 0xA0);
    new CTestStream(phr, this, L"Audio", b, 0xB0);
}

CUnknown* WINAPI CTestPushSource::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
    StreamSpec a, b;
    b.samples = 7;
    b.duration = 260000;
    b.sync_every = 1;
    return new CTestPushSource(outer, phr, a, b);
}

STDMETHODIMP CTestPushSource::Stop() {
    // As the real sources do: a stop rewinds the streams before the workers end.
    for (int i = 0; i < m_iPins; ++i) stream(i)->Rewind();
    return CSource::Stop();
}

// ---------------------------------------------------------------- CTestParser

namespace {

class ParserStream final : public CSourceStream {
  public:
    ParserStream(HRESULT* phr, CTestParser* parser)
        : CSourceStream(TEXT("parser out"), phr, parser, L"Out"), parser_(parser) {}
    HRESULT GetMediaType(CMediaType* pmt) override {
        pmt->InitMediaType();
        pmt->SetType(&MEDIATYPE_TestData);
        pmt->SetSubtype(&MEDIASUBTYPE_NULL);
        pmt->SetFormatType(&FORMAT_None);
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override {
        request->cBuffers = 2;
        request->cbBuffer = 100;
        ALLOCATOR_PROPERTIES actual{};
        return alloc->SetProperties(request, &actual);
    }
    HRESULT OnThreadCreate() override {
        pos_ = 0;
        return S_OK;
    }
    HRESULT FillBuffer(IMediaSample* sample) override {
        LONGLONG total = 0;
        if (FAILED(parser_->reader()->Length(&total, nullptr)) || pos_ >= total) return S_FALSE;
        LONG n = static_cast<LONG>(std::min<LONGLONG>(100, total - pos_));
        BYTE* p = nullptr;
        sample->GetPointer(&p);
        if (parser_->reader()->SyncRead(pos_, n, p) != S_OK) return E_FAIL;
        sample->SetActualDataLength(n);
        REFERENCE_TIME start = pos_, stop = pos_ + n;
        sample->SetTime(&start, &stop);
        sample->SetSyncPoint(TRUE);
        pos_ += n;
        return S_OK;
    }

  private:
    CTestParser* parser_;
    LONGLONG pos_ = 0;
};

}  // namespace

class CTestParser::InputPin final : public CBasePin {
  public:
    InputPin(CTestParser* parser, HRESULT* phr)
        : CBasePin(TEXT("parser in"), parser, parser->pStateLock(), phr, L"Input", PINDIR_INPUT),
          parser_(parser) {}
    HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
    HRESULT CheckConnect(IPin* pin) override {
        HRESULT hr = CBasePin::CheckConnect(pin);
        if (FAILED(hr)) return hr;
        IAsyncReader* r = nullptr;
        hr = pin->QueryInterface(IID_IAsyncReader, reinterpret_cast<void**>(&r));
        if (FAILED(hr)) return E_NOINTERFACE;
        r->Release();
        return S_OK;
    }
    HRESULT CompleteConnect(IPin* pin) override {
        IAsyncReader* r = nullptr;
        if (FAILED(pin->QueryInterface(IID_IAsyncReader, reinterpret_cast<void**>(&r))))
            return E_NOINTERFACE;
        HRESULT hr = parser_->Load(r);
        r->Release();
        return hr;
    }
    STDMETHODIMP BeginFlush() override { return E_UNEXPECTED; }
    STDMETHODIMP EndFlush() override { return E_UNEXPECTED; }

  private:
    CTestParser* parser_;
};

CTestParser::CTestParser(LPUNKNOWN outer, HRESULT* phr, const CLSID& clsid, std::string signature)
    : CSource(TEXT("test parser"), outer, clsid), signature_(std::move(signature)) {
    input_ = new InputPin(this, phr);
}

CTestParser::~CTestParser() {
    delete input_;
    if (reader_ != nullptr) reader_->Release();
}

int CTestParser::GetPinCount() {
    return 1 + CSource::GetPinCount();
}

CBasePin* CTestParser::GetPin(int n) {
    if (n == 0) return input_;
    return CSource::GetPin(n - 1);
}

HRESULT CTestParser::Load(IAsyncReader* reader) {
    if (CSource::GetPinCount() > 0) return VFW_E_ALREADY_CONNECTED;
    if (!signature_.empty()) {
        std::string head(signature_.size(), '\0');
        if (reader->SyncRead(0, static_cast<LONG>(head.size()),
                             reinterpret_cast<BYTE*>(head.data())) != S_OK ||
            head != signature_)
            return E_ABORT;
    }
    reader->AddRef();
    if (reader_ != nullptr) reader_->Release();
    reader_ = reader;
    HRESULT hr = S_OK;
    new ParserStream(&hr, this);
    return hr;
}

CUnknown* WINAPI CTestParser::CreateA(LPUNKNOWN outer, HRESULT* phr) {
    return new CTestParser(outer, phr, CLSID_TestParserA, "AAAA");
}
CUnknown* WINAPI CTestParser::CreateB(LPUNKNOWN outer, HRESULT* phr) {
    return new CTestParser(outer, phr, CLSID_TestParserB, "BBBB");
}
CUnknown* WINAPI CTestParser::CreateAny(LPUNKNOWN outer, HRESULT* phr) {
    return new CTestParser(outer, phr, CLSID_TestParserAny, "");
}

}  // namespace avs::test
