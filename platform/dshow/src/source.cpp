#include "dshow/base/source.h"

#include <cwchar>

// ---------------------------------------------------------------- CSource

CSource::CSource(LPCTSTR pName, LPUNKNOWN lpunk, CLSID clsid, HRESULT*)
    : CBaseFilter(pName, lpunk, &m_cStateLock, clsid) {}

CSource::CSource(LPCTSTR pName, LPUNKNOWN lpunk, CLSID clsid)
    : CBaseFilter(pName, lpunk, &m_cStateLock, clsid) {}

CSource::~CSource() {
    // Each stream removes itself from the array in its destructor.
    while (m_iPins != 0) delete m_paStreams[m_iPins - 1];
    delete[] m_paStreams;
}

HRESULT CSource::AddPin(CSourceStream* pStream) {
    CAutoLock lock(&m_cStateLock);
    auto** streams = new (std::nothrow) CSourceStream*[m_iPins + 1];
    if (streams == nullptr) return E_OUTOFMEMORY;
    for (int i = 0; i < m_iPins; ++i) streams[i] = m_paStreams[i];
    streams[m_iPins] = pStream;
    delete[] m_paStreams;
    m_paStreams = streams;
    ++m_iPins;
    IncrementPinVersion();
    return S_OK;
}

HRESULT CSource::RemovePin(CSourceStream* pStream) {
    CAutoLock lock(&m_cStateLock);
    for (int i = 0; i < m_iPins; ++i) {
        if (m_paStreams[i] != pStream) continue;
        for (int j = i + 1; j < m_iPins; ++j) m_paStreams[j - 1] = m_paStreams[j];
        --m_iPins;
        if (m_iPins == 0) {
            delete[] m_paStreams;
            m_paStreams = nullptr;
        }
        IncrementPinVersion();
        return S_OK;
    }
    return S_FALSE;
}

int CSource::GetPinCount() {
    CAutoLock lock(&m_cStateLock);
    return m_iPins;
}

CBasePin* CSource::GetPin(int n) {
    CAutoLock lock(&m_cStateLock);
    if (n >= 0 && n < m_iPins) return m_paStreams[n];
    return nullptr;
}

STDMETHODIMP CSource::FindPin(LPCWSTR Id, IPin** ppPin) {
    CheckPointer(ppPin, E_POINTER);
    CheckPointer(Id, E_POINTER);
    // Pins are found by their number, as the ids these pins report ("1", "2", ...).
    wchar_t* end = nullptr;
    long i = std::wcstol(Id, &end, 10);
    if (end != Id && *end == 0) {
        CBasePin* pin = GetPin(static_cast<int>(i) - 1);
        if (pin != nullptr) {
            *ppPin = pin;
            pin->AddRef();
            return NOERROR;
        }
    }
    return CBaseFilter::FindPin(Id, ppPin);
}

int CSource::FindPinNumber(IPin* iPin) {
    CAutoLock lock(&m_cStateLock);
    for (int i = 0; i < m_iPins; ++i)
        if (static_cast<IPin*>(m_paStreams[i]) == iPin) return i;
    return -1;
}

// ---------------------------------------------------------------- CSourceStream

CSourceStream::CSourceStream(LPCTSTR pObjectName, HRESULT* phr, CSource* ms, LPCWSTR pName)
    : CAMThread(phr), CBaseOutputPin(pObjectName, ms, ms->pStateLock(), phr, pName), m_pFilter(ms) {
    HRESULT hr = m_pFilter->AddPin(this);
    if (phr != nullptr) *phr = hr;
}

CSourceStream::~CSourceStream() {
    m_pFilter->RemovePin(this);
}

STDMETHODIMP CSourceStream::QueryId(LPWSTR* Id) {
    CheckPointer(Id, E_POINTER);
    int i = 1 + m_pFilter->FindPinNumber(this);
    if (i < 1) return VFW_E_NOT_FOUND;
    std::wstring s = std::to_wstring(i);
    *Id = avs::com::CoTaskStrDup(s.c_str());
    return *Id == nullptr ? E_OUTOFMEMORY : NOERROR;
}

HRESULT CSourceStream::Active() {
    CAutoLock lock(m_pFilter->pStateLock());
    if (m_pFilter->IsActive()) return S_FALSE;  // already active
    if (!IsConnected()) return NOERROR;
    HRESULT hr = CBaseOutputPin::Active();
    if (FAILED(hr)) return hr;
    if (!Create()) return E_FAIL;
    hr = Init();
    if (FAILED(hr)) return hr;
    return Pause();
}

HRESULT CSourceStream::Inactive() {
    CAutoLock lock(m_pFilter->pStateLock());
    if (!IsConnected()) return NOERROR;
    // Decommitting first releases a worker blocked in GetDeliveryBuffer.
    HRESULT hr = CBaseOutputPin::Inactive();
    if (FAILED(hr)) return hr;
    if (ThreadExists()) {
        hr = Stop();
        if (FAILED(hr)) return hr;
        hr = Exit();
        if (FAILED(hr)) return hr;
        Close();
    }
    return NOERROR;
}

DWORD CSourceStream::ThreadProc() {
    Command com;
    do {
        com = GetRequest();
        if (com != CMD_INIT) Reply(static_cast<DWORD>(E_UNEXPECTED));
    } while (com != CMD_INIT);

    HRESULT hr = OnThreadCreate();
    if (FAILED(hr)) {
        OnThreadDestroy();
        Reply(static_cast<DWORD>(hr));
        return 1;
    }
    Reply(NOERROR);

    Command cmd;
    do {
        cmd = GetRequest();
        switch (cmd) {
            case CMD_EXIT:
                Reply(NOERROR);
                break;
            case CMD_RUN:
            case CMD_PAUSE:
                Reply(NOERROR);
                DoBufferProcessingLoop();
                break;
            case CMD_STOP:
                Reply(NOERROR);
                break;
            default:
                Reply(static_cast<DWORD>(E_NOTIMPL));
                break;
        }
    } while (cmd != CMD_EXIT);

    OnThreadDestroy();
    return 0;
}

HRESULT CSourceStream::DoBufferProcessingLoop() {
    Command com;
    OnThreadStartPlay();
    do {
        while (!CheckRequest(&com)) {
            IMediaSample* pSample = nullptr;
            HRESULT hr = GetDeliveryBuffer(&pSample, nullptr, nullptr, 0);
            if (FAILED(hr)) {
                // Decommitted while stopping: wait for the command that follows.
                Sleep(1);
                continue;
            }
            hr = FillBuffer(pSample);
            if (hr == S_OK) {
                hr = Deliver(pSample);
                pSample->Release();
                if (hr != S_OK) {
                    // Downstream refused (flushing or stopping): wait for a command.
                    DbgLog((LOG_TRACE, 2, TEXT("Deliver() returned %08x; stopping"),
                            static_cast<unsigned>(hr)));
                    return S_OK;
                }
            } else if (hr == S_FALSE) {
                pSample->Release();
                DeliverEndOfStream();
                return S_OK;
            } else {
                pSample->Release();
                DbgLog(
                    (LOG_ERROR, 1, TEXT("Error %08x from FillBuffer"), static_cast<unsigned>(hr)));
                DeliverEndOfStream();
                m_pFilter->NotifyEvent(EC_ERRORABORT, hr, 0);
                return hr;
            }
        }
        // A command is pending: run and pause are answered here and the loop goes on;
        // stop ends the loop and is answered by ThreadProc.
        if (com == CMD_RUN || com == CMD_PAUSE) {
            Reply(NOERROR);
        } else if (com != CMD_STOP) {
            Reply(static_cast<DWORD>(E_UNEXPECTED));
        }
    } while (com != CMD_STOP);
    return S_FALSE;
}

HRESULT CSourceStream::CheckMediaType(const CMediaType* pMediaType) {
    CAutoLock lock(m_pFilter->pStateLock());
    CMediaType mt;
    GetMediaType(&mt);
    return mt == *pMediaType ? NOERROR : E_FAIL;
}

HRESULT CSourceStream::GetMediaType(int iPosition, CMediaType* pMediaType) {
    CAutoLock lock(m_pFilter->pStateLock());
    if (iPosition < 0) return E_INVALIDARG;
    if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
    return GetMediaType(pMediaType);
}

HRESULT CSourceStream::GetMediaType(CMediaType*) {
    return E_UNEXPECTED;
}
