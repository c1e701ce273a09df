#include "dshow/base/amfilter.h"

#include <cstring>
#include <cwchar>

#include "dshow/base/amalloc.h"

namespace {

WCHAR* CopyName(LPCWSTR name) {
    if (name == nullptr) return nullptr;
    size_t n = std::wcslen(name) + 1;
    auto* p = new WCHAR[n];
    std::wmemcpy(p, name, n);
    return p;
}

void CopyTruncated(WCHAR* dst, size_t cap, LPCWSTR src) {
    size_t n = src ? std::wcslen(src) : 0;
    if (n >= cap) n = cap - 1;
    if (n > 0) std::wmemcpy(dst, src, n);
    dst[n] = 0;
}

}  // namespace

// ---------------------------------------------------------------- CBaseFilter

CBaseFilter::CBaseFilter(LPCTSTR pName, LPUNKNOWN pUnk, CCritSec* pLock, REFCLSID clsid)
    : CUnknown(pName, pUnk), m_clsid(clsid), m_pLock(pLock) {}

CBaseFilter::CBaseFilter(LPCTSTR pName, LPUNKNOWN pUnk, CCritSec* pLock, REFCLSID clsid, HRESULT*)
    : CBaseFilter(pName, pUnk, pLock, clsid) {}

CBaseFilter::~CBaseFilter() {
    delete[] m_pName;
    if (m_pClock != nullptr) m_pClock->Release();
}

STDMETHODIMP CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IBaseFilter) return GetInterface(static_cast<IBaseFilter*>(this), ppv);
    if (riid == IID_IMediaFilter) return GetInterface(static_cast<IMediaFilter*>(this), ppv);
    if (riid == IID_IPersist) return GetInterface(static_cast<IPersist*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CBaseFilter::GetClassID(CLSID* pClsID) {
    CheckPointer(pClsID, E_POINTER);
    *pClsID = m_clsid;
    return NOERROR;
}

STDMETHODIMP CBaseFilter::GetState(DWORD, FILTER_STATE* State) {
    CheckPointer(State, E_POINTER);
    *State = m_State;
    return S_OK;
}

STDMETHODIMP CBaseFilter::SetSyncSource(IReferenceClock* pClock) {
    CAutoLock lock(m_pLock);
    if (pClock != nullptr) pClock->AddRef();
    if (m_pClock != nullptr) m_pClock->Release();
    m_pClock = pClock;
    return NOERROR;
}

STDMETHODIMP CBaseFilter::GetSyncSource(IReferenceClock** pClock) {
    CheckPointer(pClock, E_POINTER);
    CAutoLock lock(m_pLock);
    if (m_pClock != nullptr) m_pClock->AddRef();
    *pClock = m_pClock;
    return NOERROR;
}

STDMETHODIMP CBaseFilter::Stop() {
    CAutoLock lock(m_pLock);
    HRESULT hr = NOERROR;
    if (m_State != State_Stopped) {
        int n = GetPinCount();
        for (int i = 0; i < n; ++i) {
            CBasePin* pin = GetPin(i);
            if (pin != nullptr && pin->IsConnected()) {
                HRESULT h = pin->Inactive();
                if (FAILED(h) && SUCCEEDED(hr)) hr = h;
            }
        }
    }
    m_State = State_Stopped;
    return hr;
}

STDMETHODIMP CBaseFilter::Pause() {
    CAutoLock lock(m_pLock);
    if (m_State == State_Stopped) {
        int n = GetPinCount();
        for (int i = 0; i < n; ++i) {
            CBasePin* pin = GetPin(i);
            if (pin != nullptr && pin->IsConnected()) {
                HRESULT hr = pin->Active();
                if (FAILED(hr)) return hr;
            }
        }
    }
    m_State = State_Paused;
    return S_OK;
}

STDMETHODIMP CBaseFilter::Run(REFERENCE_TIME tStart) {
    CAutoLock lock(m_pLock);
    m_tStart = tStart;
    if (m_State == State_Stopped) {
        HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    if (m_State != State_Running) {
        int n = GetPinCount();
        for (int i = 0; i < n; ++i) {
            CBasePin* pin = GetPin(i);
            if (pin != nullptr && pin->IsConnected()) {
                HRESULT hr = pin->Run(tStart);
                if (FAILED(hr)) return hr;
            }
        }
    }
    m_State = State_Running;
    return S_OK;
}

HRESULT CBaseFilter::StreamTime(REFERENCE_TIME& rtStream) {
    if (m_pClock == nullptr) return VFW_E_NO_CLOCK;
    HRESULT hr = m_pClock->GetTime(&rtStream);
    if (FAILED(hr)) return hr;
    rtStream -= m_tStart;
    return S_OK;
}

STDMETHODIMP CBaseFilter::EnumPins(IEnumPins** ppEnum) {
    CheckPointer(ppEnum, E_POINTER);
    *ppEnum = new CEnumPins(this, nullptr);
    return NOERROR;
}

STDMETHODIMP CBaseFilter::FindPin(LPCWSTR Id, IPin** ppPin) {
    CheckPointer(ppPin, E_POINTER);
    CheckPointer(Id, E_POINTER);
    CAutoLock lock(m_pLock);
    int n = GetPinCount();
    for (int i = 0; i < n; ++i) {
        CBasePin* pin = GetPin(i);
        if (pin != nullptr && pin->Name() != nullptr && std::wcscmp(pin->Name(), Id) == 0) {
            *ppPin = pin;
            pin->AddRef();
            return S_OK;
        }
    }
    *ppPin = nullptr;
    return VFW_E_NOT_FOUND;
}

STDMETHODIMP CBaseFilter::QueryFilterInfo(FILTER_INFO* pInfo) {
    CheckPointer(pInfo, E_POINTER);
    CopyTruncated(pInfo->achName, MAX_FILTER_NAME, m_pName);
    pInfo->pGraph = m_pGraph;
    if (m_pGraph != nullptr) m_pGraph->AddRef();
    return NOERROR;
}

STDMETHODIMP CBaseFilter::JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) {
    CAutoLock lock(m_pLock);
    m_pGraph = pGraph;
    m_pSink = nullptr;
    if (pGraph != nullptr) {
        // Kept without a reference, as the graph holds the filter.
        HRESULT hr =
            pGraph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&m_pSink));
        if (SUCCEEDED(hr)) m_pSink->Release();
    }
    delete[] m_pName;
    m_pName = CopyName(pName);
    return NOERROR;
}

STDMETHODIMP CBaseFilter::QueryVendorInfo(LPWSTR*) {
    return E_NOTIMPL;
}

HRESULT CBaseFilter::NotifyEvent(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) {
    IMediaEventSink* sink = m_pSink;
    if (sink == nullptr) return E_NOTIMPL;
    if (EventCode == EC_COMPLETE)
        EventParam2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
    return sink->Notify(EventCode, EventParam1, EventParam2);
}

// ---------------------------------------------------------------- CEnumPins

CEnumPins::CEnumPins(CBaseFilter* pFilter, CEnumPins* pEnumPins) : m_pFilter(pFilter) {
    m_pFilter->AddRef();
    if (pEnumPins != nullptr) {
        m_Position = pEnumPins->m_Position;
        m_PinCount = pEnumPins->m_PinCount;
    } else {
        m_PinCount = m_pFilter->GetPinCount();
    }
}

CEnumPins::~CEnumPins() {
    m_pFilter->Release();
}

STDMETHODIMP CEnumPins::Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) {
    CheckPointer(ppPins, E_POINTER);
    if (pcFetched == nullptr && cPins > 1) return E_INVALIDARG;
    ULONG fetched = 0;
    while (fetched < cPins && m_Position < m_PinCount) {
        CBasePin* pin = m_pFilter->GetPin(m_Position++);
        if (pin == nullptr) continue;
        ppPins[fetched++] = pin;
        pin->AddRef();
    }
    if (pcFetched != nullptr) *pcFetched = fetched;
    return fetched == cPins ? S_OK : S_FALSE;
}

STDMETHODIMP CEnumPins::Skip(ULONG cPins) {
    if (static_cast<LONG>(cPins) > m_PinCount - m_Position) return S_FALSE;
    m_Position += static_cast<int>(cPins);
    return S_OK;
}

STDMETHODIMP CEnumPins::Reset() {
    m_Position = 0;
    m_PinCount = m_pFilter->GetPinCount();
    return S_OK;
}

STDMETHODIMP CEnumPins::Clone(IEnumPins** ppEnum) {
    CheckPointer(ppEnum, E_POINTER);
    *ppEnum = new CEnumPins(m_pFilter, this);
    return NOERROR;
}

// ---------------------------------------------------------------- CEnumMediaTypes

CEnumMediaTypes::CEnumMediaTypes(CBasePin* pPin, CEnumMediaTypes* pEnum) : m_pPin(pPin) {
    m_pPin->AddRef();
    if (pEnum != nullptr) m_Position = pEnum->m_Position;
}

CEnumMediaTypes::~CEnumMediaTypes() {
    m_pPin->Release();
}

STDMETHODIMP CEnumMediaTypes::Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes,
                                   ULONG* pcFetched) {
    CheckPointer(ppMediaTypes, E_POINTER);
    if (pcFetched == nullptr && cMediaTypes > 1) return E_INVALIDARG;
    ULONG fetched = 0;
    while (fetched < cMediaTypes) {
        CMediaType mt;
        HRESULT hr = m_pPin->GetMediaType(m_Position, &mt);
        if (hr != S_OK) break;  // VFW_S_NO_MORE_ITEMS or a failure ends the list
        ++m_Position;
        AM_MEDIA_TYPE* copy = CreateMediaType(&mt);
        if (copy == nullptr) break;
        ppMediaTypes[fetched++] = copy;
    }
    if (pcFetched != nullptr) *pcFetched = fetched;
    return fetched == cMediaTypes ? S_OK : S_FALSE;
}

STDMETHODIMP CEnumMediaTypes::Skip(ULONG n) {
    while (n-- > 0) {
        CMediaType mt;
        if (m_pPin->GetMediaType(m_Position, &mt) != S_OK) return S_FALSE;
        ++m_Position;
    }
    return S_OK;
}

STDMETHODIMP CEnumMediaTypes::Reset() {
    m_Position = 0;
    return S_OK;
}

STDMETHODIMP CEnumMediaTypes::Clone(IEnumMediaTypes** ppEnum) {
    CheckPointer(ppEnum, E_POINTER);
    *ppEnum = new CEnumMediaTypes(m_pPin, this);
    return NOERROR;
}

// ---------------------------------------------------------------- CBasePin

CBasePin::CBasePin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT*,
                   LPCWSTR pName, PIN_DIRECTION dir)
    : CUnknown(pObjectName, nullptr),
      m_pName(CopyName(pName)),
      m_dir(dir),
      m_pLock(pLock),
      m_pFilter(pFilter) {}

CBasePin::~CBasePin() {
    delete[] m_pName;
}

STDMETHODIMP CBasePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IPin) return GetInterface(static_cast<IPin*>(this), ppv);
    if (riid == IID_IQualityControl) return GetInterface(static_cast<IQualityControl*>(this), ppv);
    if (riid == IID_IUnknown) return GetInterface(static_cast<IPin*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) CBasePin::NonDelegatingAddRef() {
    return m_pFilter->AddRef();
}
STDMETHODIMP_(ULONG) CBasePin::NonDelegatingRelease() {
    return m_pFilter->Release();
}

HRESULT CBasePin::SetMediaType(const CMediaType* pmt) {
    HRESULT hr = m_mt.Set(*pmt);
    return FAILED(hr) ? hr : NOERROR;
}

HRESULT CBasePin::CheckConnect(IPin* pPin) {
    PIN_DIRECTION pd;
    HRESULT hr = pPin->QueryDirection(&pd);
    if (FAILED(hr)) return hr;
    if (pd == m_dir) return VFW_E_INVALID_DIRECTION;
    return NOERROR;
}

HRESULT CBasePin::GetMediaType(int, CMediaType*) {
    return E_UNEXPECTED;
}

STDMETHODIMP CBasePin::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) {
    CheckPointer(pReceivePin, E_POINTER);
    CAutoLock lock(m_pLock);
    if (m_Connected != nullptr) return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped() && !m_bCanReconnectWhenActive) return VFW_E_NOT_STOPPED;
    CMediaType partial;
    if (pmt != nullptr) partial = *pmt;
    HRESULT hr = AgreeMediaType(pReceivePin, &partial);
    if (FAILED(hr)) return hr;
    return NOERROR;
}

HRESULT CBasePin::AttemptConnection(IPin* pReceivePin, const CMediaType* pmt) {
    CAutoLock lock(m_pLock);
    HRESULT hr = CheckConnect(pReceivePin);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    hr = CheckMediaType(pmt);
    if (hr != NOERROR) {
        BreakConnect();
        return SUCCEEDED(hr) ? VFW_E_TYPE_NOT_ACCEPTED : hr;
    }
    m_Connected = pReceivePin;
    m_Connected->AddRef();
    hr = SetMediaType(pmt);
    if (SUCCEEDED(hr)) {
        hr = pReceivePin->ReceiveConnection(static_cast<IPin*>(this), pmt);
        if (SUCCEEDED(hr)) {
            hr = CompleteConnect(pReceivePin);
            if (SUCCEEDED(hr)) return hr;
            pReceivePin->Disconnect();
        }
    }
    BreakConnect();
    if (m_Connected != nullptr) {
        m_Connected->Release();
        m_Connected = nullptr;
    }
    // Keep the peer's reason when it is a real failure, so callers can tell why.
    return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CBasePin::TryMediaTypes(IPin* pReceivePin, const CMediaType* pmt, IEnumMediaTypes* pEnum) {
    HRESULT hr = pEnum->Reset();
    if (FAILED(hr)) return hr;
    HRESULT hrFailure = VFW_E_NO_ACCEPTABLE_TYPES;
    for (;;) {
        AM_MEDIA_TYPE* pMediaType = nullptr;
        ULONG fetched = 0;
        hr = pEnum->Next(1, &pMediaType, &fetched);
        if (hr != S_OK || fetched != 1) return hrFailure;
        CMediaType candidate(*pMediaType);
        DeleteMediaType(pMediaType);
        if (pmt == nullptr || candidate.MatchesPartial(pmt)) {
            hr = AttemptConnection(pReceivePin, &candidate);
            if (SUCCEEDED(hr)) return hr;
            // Remember the most telling reason: anything beats "no acceptable types".
            if (hr != E_FAIL && hr != E_INVALIDARG && hr != VFW_E_TYPE_NOT_ACCEPTED)
                hrFailure = hr;
            else if (hrFailure == VFW_E_NO_ACCEPTABLE_TYPES)
                hrFailure = hr;
        }
    }
}

HRESULT CBasePin::AgreeMediaType(IPin* pReceivePin, const CMediaType* pmt) {
    // A complete type is tried as it is.
    if (pmt != nullptr && !pmt->IsPartiallySpecified()) return AttemptConnection(pReceivePin, pmt);
    HRESULT hrFailure = VFW_E_NO_ACCEPTABLE_TYPES;
    for (int i = 0; i < 2; ++i) {
        IEnumMediaTypes* pEnum = nullptr;
        HRESULT hr;
        bool mine = (i == 0) == m_bTryMyTypesFirst;
        if (mine)
            hr = EnumMediaTypes(&pEnum);
        else
            hr = pReceivePin->EnumMediaTypes(&pEnum);
        if (SUCCEEDED(hr) && pEnum != nullptr) {
            hr = TryMediaTypes(pReceivePin, pmt, pEnum);
            pEnum->Release();
            if (SUCCEEDED(hr)) return NOERROR;
            if (hr != VFW_E_NO_ACCEPTABLE_TYPES) hrFailure = hr;
        }
    }
    return hrFailure;
}

STDMETHODIMP CBasePin::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) {
    CheckPointer(pConnector, E_POINTER);
    CheckPointer(pmt, E_POINTER);
    CAutoLock lock(m_pLock);
    if (m_Connected != nullptr) return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped() && !m_bCanReconnectWhenActive) return VFW_E_NOT_STOPPED;
    HRESULT hr = CheckConnect(pConnector);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    CMediaType mt(*pmt);
    hr = CheckMediaType(&mt);
    if (hr != NOERROR) {
        BreakConnect();
        return SUCCEEDED(hr) ? VFW_E_TYPE_NOT_ACCEPTED : hr;
    }
    m_Connected = pConnector;
    m_Connected->AddRef();
    hr = SetMediaType(&mt);
    if (SUCCEEDED(hr)) {
        hr = CompleteConnect(pConnector);
        if (SUCCEEDED(hr)) return NOERROR;
    }
    m_Connected->Release();
    m_Connected = nullptr;
    BreakConnect();
    return hr;
}

HRESULT CBasePin::DisconnectInternal() {
    if (m_Connected == nullptr) return S_FALSE;
    HRESULT hr = BreakConnect();
    if (FAILED(hr)) return hr;
    m_Connected->Release();
    m_Connected = nullptr;
    return S_OK;
}

STDMETHODIMP CBasePin::Disconnect() {
    CAutoLock lock(m_pLock);
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    return DisconnectInternal();
}

STDMETHODIMP CBasePin::ConnectedTo(IPin** pPin) {
    CheckPointer(pPin, E_POINTER);
    CAutoLock lock(m_pLock);
    *pPin = m_Connected;
    if (m_Connected == nullptr) return VFW_E_NOT_CONNECTED;
    m_Connected->AddRef();
    return S_OK;
}

STDMETHODIMP CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
    CheckPointer(pmt, E_POINTER);
    CAutoLock lock(m_pLock);
    if (m_Connected == nullptr) {
        std::memset(pmt, 0, sizeof(*pmt));
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(pmt, &m_mt);
}

STDMETHODIMP CBasePin::QueryPinInfo(PIN_INFO* pInfo) {
    CheckPointer(pInfo, E_POINTER);
    pInfo->pFilter = m_pFilter;
    if (m_pFilter != nullptr) m_pFilter->AddRef();
    CopyTruncated(pInfo->achName, MAX_PIN_NAME, m_pName);
    pInfo->dir = m_dir;
    return NOERROR;
}

STDMETHODIMP CBasePin::QueryDirection(PIN_DIRECTION* pPinDir) {
    CheckPointer(pPinDir, E_POINTER);
    *pPinDir = m_dir;
    return NOERROR;
}

STDMETHODIMP CBasePin::QueryId(LPWSTR* Id) {
    CheckPointer(Id, E_POINTER);
    *Id = avs::com::CoTaskStrDup(m_pName ? m_pName : L"");
    return *Id == nullptr ? E_OUTOFMEMORY : S_OK;
}

STDMETHODIMP CBasePin::QueryAccept(const AM_MEDIA_TYPE* pmt) {
    CheckPointer(pmt, E_POINTER);
    CMediaType mt(*pmt);
    HRESULT hr = CheckMediaType(&mt);
    return (FAILED(hr) || hr == S_FALSE) ? S_FALSE : S_OK;
}

STDMETHODIMP CBasePin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
    CheckPointer(ppEnum, E_POINTER);
    *ppEnum = new CEnumMediaTypes(this, nullptr);
    return NOERROR;
}

STDMETHODIMP CBasePin::QueryInternalConnections(IPin**, ULONG*) {
    return E_NOTIMPL;
}

STDMETHODIMP CBasePin::EndOfStream() {
    return S_OK;
}

STDMETHODIMP CBasePin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    m_tStart = tStart;
    m_tStop = tStop;
    m_dRate = dRate;
    return S_OK;
}

STDMETHODIMP CBasePin::Notify(IBaseFilter*, Quality) {
    return E_NOTIMPL;
}

STDMETHODIMP CBasePin::SetSink(IQualityControl* piqc) {
    CAutoLock lock(m_pLock);
    m_pQSink = piqc;
    return NOERROR;
}

// ---------------------------------------------------------------- CBaseOutputPin

CBaseOutputPin::CBaseOutputPin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock,
                               HRESULT* phr, LPCWSTR pName)
    : CBasePin(pObjectName, pFilter, pLock, phr, pName, PINDIR_OUTPUT) {}

CBaseOutputPin::~CBaseOutputPin() {
    if (m_pAllocator != nullptr) m_pAllocator->Release();
    if (m_pInputPin != nullptr) m_pInputPin->Release();
}

HRESULT CBaseOutputPin::CompleteConnect(IPin*) {
    return DecideAllocator(m_pInputPin, &m_pAllocator);
}

HRESULT CBaseOutputPin::CheckConnect(IPin* pPin) {
    HRESULT hr = CBasePin::CheckConnect(pPin);
    if (FAILED(hr)) return hr;
    hr = pPin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&m_pInputPin));
    if (FAILED(hr)) return hr;
    return NOERROR;
}

HRESULT CBaseOutputPin::BreakConnect() {
    if (m_pAllocator != nullptr) {
        HRESULT hr = m_pAllocator->Decommit();
        if (FAILED(hr)) return hr;
        m_pAllocator->Release();
        m_pAllocator = nullptr;
    }
    if (m_pInputPin != nullptr) {
        m_pInputPin->Release();
        m_pInputPin = nullptr;
    }
    return NOERROR;
}

HRESULT CBaseOutputPin::InitAllocator(IMemAllocator** ppAlloc) {
    HRESULT hr = S_OK;
    CMemAllocator* alloc = new CMemAllocator(TEXT("output allocator"), nullptr, &hr);
    if (FAILED(hr)) {
        delete alloc;
        return hr;
    }
    return alloc->NonDelegatingQueryInterface(IID_IMemAllocator, reinterpret_cast<void**>(ppAlloc));
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc) {
    *ppAlloc = nullptr;
    ALLOCATOR_PROPERTIES prop{};
    pPin->GetAllocatorRequirements(&prop);
    if (prop.cbAlign == 0) prop.cbAlign = 1;

    HRESULT hr = pPin->GetAllocator(ppAlloc);
    if (SUCCEEDED(hr)) {
        hr = DecideBufferSize(*ppAlloc, &prop);
        if (SUCCEEDED(hr)) {
            hr = pPin->NotifyAllocator(*ppAlloc, FALSE);
            if (SUCCEEDED(hr)) return NOERROR;
        }
    }
    if (*ppAlloc != nullptr) {
        (*ppAlloc)->Release();
        *ppAlloc = nullptr;
    }
    hr = InitAllocator(ppAlloc);
    if (SUCCEEDED(hr)) {
        hr = DecideBufferSize(*ppAlloc, &prop);
        if (SUCCEEDED(hr)) {
            hr = pPin->NotifyAllocator(*ppAlloc, FALSE);
            if (SUCCEEDED(hr)) return NOERROR;
        }
    }
    if (*ppAlloc != nullptr) {
        (*ppAlloc)->Release();
        *ppAlloc = nullptr;
    }
    return hr;
}

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime,
                                          REFERENCE_TIME* pEndTime, DWORD dwFlags) {
    if (m_pAllocator == nullptr) return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->GetBuffer(ppSample, pStartTime, pEndTime, dwFlags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* pSample) {
    if (m_pInputPin == nullptr) return VFW_E_NOT_CONNECTED;
    return m_pInputPin->Receive(pSample);
}

HRESULT CBaseOutputPin::DeliverEndOfStream() {
    if (m_Connected == nullptr) return VFW_E_NOT_CONNECTED;
    return m_Connected->EndOfStream();
}

HRESULT CBaseOutputPin::DeliverBeginFlush() {
    if (m_Connected == nullptr) return VFW_E_NOT_CONNECTED;
    return m_Connected->BeginFlush();
}

HRESULT CBaseOutputPin::DeliverEndFlush() {
    if (m_Connected == nullptr) return VFW_E_NOT_CONNECTED;
    return m_Connected->EndFlush();
}

HRESULT CBaseOutputPin::DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop,
                                          double dRate) {
    if (m_Connected == nullptr) return VFW_E_NOT_CONNECTED;
    return m_Connected->NewSegment(tStart, tStop, dRate);
}

HRESULT CBaseOutputPin::Active() {
    if (m_pAllocator == nullptr) return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->Commit();
}

HRESULT CBaseOutputPin::Inactive() {
    m_bRunTimeError = FALSE;
    if (m_pAllocator == nullptr) return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->Decommit();
}

// ---------------------------------------------------------------- CBaseInputPin

CBaseInputPin::CBaseInputPin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock,
                             HRESULT* phr, LPCWSTR pName)
    : CBasePin(pObjectName, pFilter, pLock, phr, pName, PINDIR_INPUT) {}

CBaseInputPin::~CBaseInputPin() {
    if (m_pAllocator != nullptr) m_pAllocator->Release();
}

STDMETHODIMP CBaseInputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IMemInputPin) return GetInterface(static_cast<IMemInputPin*>(this), ppv);
    return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CBaseInputPin::GetAllocator(IMemAllocator** ppAllocator) {
    CheckPointer(ppAllocator, E_POINTER);
    CAutoLock lock(m_pLock);
    if (m_pAllocator == nullptr) {
        HRESULT hr = S_OK;
        auto* alloc = new CMemAllocator(TEXT("input allocator"), nullptr, &hr);
        if (FAILED(hr)) {
            delete alloc;
            return hr;
        }
        hr = alloc->NonDelegatingQueryInterface(IID_IMemAllocator,
                                                reinterpret_cast<void**>(&m_pAllocator));
        if (FAILED(hr)) return hr;
    }
    *ppAllocator = m_pAllocator;
    m_pAllocator->AddRef();
    return NOERROR;
}

STDMETHODIMP CBaseInputPin::NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) {
    CheckPointer(pAllocator, E_POINTER);
    CAutoLock lock(m_pLock);
    IMemAllocator* old = m_pAllocator;
    pAllocator->AddRef();
    m_pAllocator = pAllocator;
    if (old != nullptr) old->Release();
    m_bReadOnly = bReadOnly;
    return NOERROR;
}

STDMETHODIMP CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) {
    return E_NOTIMPL;
}

HRESULT CBaseInputPin::CheckStreaming() {
    if (IsStopped()) return VFW_E_WRONG_STATE;
    if (m_bFlushing.load()) return S_FALSE;
    if (m_bRunTimeError) return VFW_E_RUNTIME_ERROR;
    return S_OK;
}

STDMETHODIMP CBaseInputPin::Receive(IMediaSample* pSample) {
    CheckPointer(pSample, E_POINTER);
    return CheckStreaming();
}

STDMETHODIMP CBaseInputPin::ReceiveMultiple(IMediaSample** pSamples, LONG nSamples,
                                            LONG* nSamplesProcessed) {
    CheckPointer(pSamples, E_POINTER);
    HRESULT hr = S_OK;
    LONG done = 0;
    while (nSamples-- > 0) {
        hr = Receive(pSamples[done]);
        if (hr != S_OK) break;
        ++done;
    }
    if (nSamplesProcessed != nullptr) *nSamplesProcessed = done;
    return hr;
}

STDMETHODIMP CBaseInputPin::BeginFlush() {
    m_bFlushing.store(true);
    return S_OK;
}

STDMETHODIMP CBaseInputPin::EndFlush() {
    m_bFlushing.store(false);
    m_bRunTimeError = FALSE;
    return S_OK;
}

HRESULT CBaseInputPin::BreakConnect() {
    if (m_pAllocator != nullptr) {
        m_pAllocator->Decommit();
        m_pAllocator->Release();
        m_pAllocator = nullptr;
    }
    return S_OK;
}

HRESULT CBaseInputPin::Inactive() {
    m_bRunTimeError = FALSE;
    m_bFlushing.store(false);
    if (m_pAllocator != nullptr) return m_pAllocator->Decommit();
    return S_OK;
}
