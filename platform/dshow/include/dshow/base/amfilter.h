// Filter and pin base classes.
#pragma once

#include <atomic>
#include <string>

#include "dshow/base/combase.h"
#include "dshow/base/mtype.h"
#include "dshow/base/wxutil.h"
#include "dshow/evcode.h"
#include "dshow/uuids.h"

class CBasePin;

// IUnknown of the small enumerators: one interface and a count of their own;
// the last Release deletes the enumerator.
template <class Interface, const IID& InterfaceId>
class CCountedEnum : public Interface {
  public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        CheckPointer(ppv, E_POINTER);
        if (riid == InterfaceId || riid == IID_IUnknown) return GetInterface(this, ppv);
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++m_cRef); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG n = --m_cRef;
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }

  protected:
    virtual ~CCountedEnum() = default;

  private:
    std::atomic<LONG> m_cRef{1};
};

class CBaseFilter : public CUnknown, public IBaseFilter {
    friend class CBasePin;

  public:
    CBaseFilter(LPCTSTR pName, LPUNKNOWN pUnk, CCritSec* pLock, REFCLSID clsid);
    CBaseFilter(LPCTSTR pName, LPUNKNOWN pUnk, CCritSec* pLock, REFCLSID clsid, HRESULT* phr);
    ~CBaseFilter() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IPersist
    STDMETHODIMP GetClassID(CLSID* pClsID) override;
    // IMediaFilter
    STDMETHODIMP GetState(DWORD dwMSecs, FILTER_STATE* State) override;
    STDMETHODIMP SetSyncSource(IReferenceClock* pClock) override;
    STDMETHODIMP GetSyncSource(IReferenceClock** pClock) override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME tStart) override;
    // IBaseFilter
    STDMETHODIMP EnumPins(IEnumPins** ppEnum) override;
    STDMETHODIMP FindPin(LPCWSTR Id, IPin** ppPin) override;
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* pInfo) override;
    STDMETHODIMP JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) override;
    STDMETHODIMP QueryVendorInfo(LPWSTR* pVendorInfo) override;

    virtual HRESULT StreamTime(REFERENCE_TIME& rtStream);
    BOOL IsActive() {
        CAutoLock lock(m_pLock);
        return m_State != State_Stopped;
    }
    BOOL IsStopped() { return m_State == State_Stopped; }

    virtual int GetPinCount() = 0;
    virtual CBasePin* GetPin(int n) = 0;
    virtual LONG GetPinVersion() { return m_PinVersion; }
    void IncrementPinVersion() { ++m_PinVersion; }

    // Sends an event to the graph's event sink (EC_COMPLETE carries the filter).
    HRESULT NotifyEvent(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2);
    IFilterGraph* GetFilterGraph() { return m_pGraph; }

  protected:
    std::atomic<FILTER_STATE> m_State{State_Stopped};
    IReferenceClock* m_pClock = nullptr;
    REFERENCE_TIME m_tStart = 0;
    CLSID m_clsid;
    CCritSec* m_pLock;
    WCHAR* m_pName = nullptr;
    IFilterGraph* m_pGraph = nullptr;  // not counted: the graph owns the filter
    IMediaEventSink* m_pSink = nullptr;
    LONG m_PinVersion = 1;
};

class CBasePin : public CUnknown, public IPin, public IQualityControl {
  public:
    CBasePin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
             LPCWSTR pName, PIN_DIRECTION dir);
    ~CBasePin() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    // A pin lives as long as its filter: its references are the filter's.
    STDMETHODIMP_(ULONG) NonDelegatingAddRef() override;
    STDMETHODIMP_(ULONG) NonDelegatingRelease() override;

    // IPin
    STDMETHODIMP Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** pPin) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* pInfo) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* pPinDir) override;
    STDMETHODIMP QueryId(LPWSTR* Id) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
    STDMETHODIMP QueryInternalConnections(IPin** apPin, ULONG* nPin) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;
    // BeginFlush and EndFlush stay pure: every pin kind decides.

    // IQualityControl
    STDMETHODIMP Notify(IBaseFilter* pSender, Quality q) override;
    STDMETHODIMP SetSink(IQualityControl* piqc) override;

    BOOL IsConnected() const { return m_Connected != nullptr; }
    IPin* GetConnected() { return m_Connected; }
    BOOL IsStopped() { return m_pFilter->m_State == State_Stopped; }
    LPWSTR Name() { return m_pName; }
    const CMediaType& CurrentMediaType() { return m_mt; }
    REFERENCE_TIME CurrentStartTime() const { return m_tStart; }
    REFERENCE_TIME CurrentStopTime() const { return m_tStop; }
    double CurrentRate() const { return m_dRate; }

    // Connection steps, overridable.
    virtual HRESULT Active() { return S_OK; }
    virtual HRESULT Inactive() {
        m_bRunTimeError = FALSE;
        return S_OK;
    }
    virtual HRESULT Run(REFERENCE_TIME) { return S_OK; }
    virtual HRESULT CheckMediaType(const CMediaType*) = 0;
    virtual HRESULT SetMediaType(const CMediaType* pmt);
    virtual HRESULT CheckConnect(IPin* pPin);
    virtual HRESULT BreakConnect() { return S_OK; }
    virtual HRESULT CompleteConnect(IPin*) { return S_OK; }
    virtual HRESULT GetMediaType(int iPosition, CMediaType* pMediaType);
    virtual LONG GetMediaTypeVersion() { return m_TypeVersion; }
    void IncrementTypeVersion() { ++m_TypeVersion; }

  protected:
    virtual HRESULT AgreeMediaType(IPin* pReceivePin, const CMediaType* pmt);
    virtual HRESULT AttemptConnection(IPin* pReceivePin, const CMediaType* pmt);
    virtual HRESULT TryMediaTypes(IPin* pReceivePin, const CMediaType* pmt, IEnumMediaTypes* pEnum);
    HRESULT DisconnectInternal();

    WCHAR* m_pName;
    IPin* m_Connected = nullptr;
    PIN_DIRECTION m_dir;
    CCritSec* m_pLock;
    std::atomic<bool> m_bRunTimeError{false};
    bool m_bCanReconnectWhenActive = false;
    bool m_bTryMyTypesFirst = false;
    CBaseFilter* m_pFilter;
    IQualityControl* m_pQSink = nullptr;
    LONG m_TypeVersion = 1;
    CMediaType m_mt;
    REFERENCE_TIME m_tStart = 0;
    REFERENCE_TIME m_tStop = 0x7FFFFFFFFFFFFFFFLL;
    double m_dRate = 1.0;
};

// Enumerates a filter's pins (a snapshot taken at creation and on Reset).
class CEnumPins final : public CCountedEnum<IEnumPins, IID_IEnumPins> {
  public:
    CEnumPins(CBaseFilter* pFilter, CEnumPins* pEnumPins);
    STDMETHODIMP Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) override;
    STDMETHODIMP Skip(ULONG cPins) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumPins** ppEnum) override;

  private:
    ~CEnumPins() override;
    CBaseFilter* m_pFilter;
    int m_Position = 0;
    int m_PinCount = 0;
};

// Enumerates the media types a pin offers through GetMediaType.
class CEnumMediaTypes final : public CCountedEnum<IEnumMediaTypes, IID_IEnumMediaTypes> {
  public:
    CEnumMediaTypes(CBasePin* pPin, CEnumMediaTypes* pEnumMediaTypes);
    STDMETHODIMP Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) override;
    STDMETHODIMP Skip(ULONG cMediaTypes) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumMediaTypes** ppEnum) override;

  private:
    ~CEnumMediaTypes() override;
    CBasePin* m_pPin;
    int m_Position = 0;
};

// An output pin that pushes samples into a peer's IMemInputPin.
class CBaseOutputPin : public CBasePin {
  public:
    CBaseOutputPin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                   LPCWSTR pName);
    ~CBaseOutputPin() override;

    HRESULT CompleteConnect(IPin* pReceivePin) override;
    virtual HRESULT DecideAllocator(IMemInputPin* pPin, IMemAllocator** pAlloc);
    virtual HRESULT DecideBufferSize(IMemAllocator* pAlloc,
                                     ALLOCATOR_PROPERTIES* ppropInputRequest) = 0;
    virtual HRESULT InitAllocator(IMemAllocator** ppAlloc);
    virtual HRESULT GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime,
                                      REFERENCE_TIME* pEndTime, DWORD dwFlags);
    virtual HRESULT Deliver(IMediaSample* pSample);
    virtual HRESULT DeliverEndOfStream();
    virtual HRESULT DeliverBeginFlush();
    virtual HRESULT DeliverEndFlush();
    virtual HRESULT DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);

    HRESULT Active() override;
    HRESULT Inactive() override;
    HRESULT CheckConnect(IPin* pPin) override;
    HRESULT BreakConnect() override;

    // Nothing is ever pushed into an output pin.
    STDMETHODIMP EndOfStream() override { return E_UNEXPECTED; }
    STDMETHODIMP BeginFlush() override { return E_UNEXPECTED; }
    STDMETHODIMP EndFlush() override { return E_UNEXPECTED; }

  protected:
    IMemAllocator* m_pAllocator = nullptr;
    IMemInputPin* m_pInputPin = nullptr;
};

// An input pin that takes samples through IMemInputPin.
class CBaseInputPin : public CBasePin, public IMemInputPin {
  public:
    CBaseInputPin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                  LPCWSTR pName);
    ~CBaseInputPin() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IMemInputPin
    STDMETHODIMP GetAllocator(IMemAllocator** ppAllocator) override;
    STDMETHODIMP NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override;
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override;
    // Checks the pin's state; a derived class calls it first and then uses the sample.
    STDMETHODIMP Receive(IMediaSample* pSample) override;
    STDMETHODIMP ReceiveMultiple(IMediaSample** pSamples, LONG nSamples,
                                 LONG* nSamplesProcessed) override;
    STDMETHODIMP ReceiveCanBlock() override { return S_OK; }

    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP EndOfStream() override { return CheckStreaming(); }

    HRESULT BreakConnect() override;
    HRESULT Inactive() override;
    BOOL IsReadOnly() const { return m_bReadOnly; }
    BOOL IsFlushing() const { return m_bFlushing.load(); }
    virtual HRESULT CheckStreaming();

  protected:
    IMemAllocator* m_pAllocator = nullptr;
    BOOL m_bReadOnly = FALSE;
    std::atomic<bool> m_bFlushing{false};
};
