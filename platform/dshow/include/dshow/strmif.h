// DirectShow interfaces and structures with the Windows SDK's names, method order and
// signatures (strmif.h, control.h, qnetwork.h), for the parts this tool set uses.
#pragma once

#ifdef _WIN32
// Windows has these: the SDK's headers take the place of this one.
#include "dshow/sdk_compat.h"
#else
#include "com/objbase.h"

struct IPin;
struct IBaseFilter;
struct IFilterGraph;
struct IEnumPins;
struct IEnumMediaTypes;
struct IEnumFilters;
struct IMediaSample;
struct IMemAllocator;
struct IReferenceClock;
struct IMoniker;
struct IEnumMoniker;

using OAEVENT = LONG_PTR;
using OAFilterState = LONG;

struct AM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    ULONG lSampleSize;
    GUID formattype;
    IUnknown* pUnk;
    ULONG cbFormat;
    BYTE* pbFormat;
};

enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

constexpr int MAX_PIN_NAME = 128;
constexpr int MAX_FILTER_NAME = 128;

struct PIN_INFO {
    IBaseFilter* pFilter;
    PIN_DIRECTION dir;
    WCHAR achName[MAX_PIN_NAME];
};

struct FILTER_INFO {
    WCHAR achName[MAX_FILTER_NAME];
    IFilterGraph* pGraph;
};

enum FILTER_STATE { State_Stopped = 0, State_Paused = 1, State_Running = 2 };

struct ALLOCATOR_PROPERTIES {
    LONG cBuffers;
    LONG cbBuffer;
    LONG cbAlign;
    LONG cbPrefix;
};

enum QualityMessageType { Famine = 0, Flood = 1 };
struct Quality {
    QualityMessageType Type;
    LONG Proportion;
    REFERENCE_TIME Late;
    REFERENCE_TIME TimeStamp;
};

struct IPin : public IUnknown {
    STDMETHOD(Connect)(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) PURE;
    STDMETHOD(ReceiveConnection)(IPin* pConnector, const AM_MEDIA_TYPE* pmt) PURE;
    STDMETHOD(Disconnect)() PURE;
    STDMETHOD(ConnectedTo)(IPin** pPin) PURE;
    STDMETHOD(ConnectionMediaType)(AM_MEDIA_TYPE* pmt) PURE;
    STDMETHOD(QueryPinInfo)(PIN_INFO* pInfo) PURE;
    STDMETHOD(QueryDirection)(PIN_DIRECTION* pPinDir) PURE;
    STDMETHOD(QueryId)(LPWSTR* Id) PURE;
    STDMETHOD(QueryAccept)(const AM_MEDIA_TYPE* pmt) PURE;
    STDMETHOD(EnumMediaTypes)(IEnumMediaTypes** ppEnum) PURE;
    STDMETHOD(QueryInternalConnections)(IPin** apPin, ULONG* nPin) PURE;
    STDMETHOD(EndOfStream)() PURE;
    STDMETHOD(BeginFlush)() PURE;
    STDMETHOD(EndFlush)() PURE;
    STDMETHOD(NewSegment)(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) PURE;
};

struct IEnumPins : public IUnknown {
    STDMETHOD(Next)(ULONG cPins, IPin** ppPins, ULONG* pcFetched) PURE;
    STDMETHOD(Skip)(ULONG cPins) PURE;
    STDMETHOD(Reset)() PURE;
    STDMETHOD(Clone)(IEnumPins** ppEnum) PURE;
};

struct IEnumMediaTypes : public IUnknown {
    STDMETHOD(Next)(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) PURE;
    STDMETHOD(Skip)(ULONG cMediaTypes) PURE;
    STDMETHOD(Reset)() PURE;
    STDMETHOD(Clone)(IEnumMediaTypes** ppEnum) PURE;
};

struct IFilterGraph : public IUnknown {
    STDMETHOD(AddFilter)(IBaseFilter* pFilter, LPCWSTR pName) PURE;
    STDMETHOD(RemoveFilter)(IBaseFilter* pFilter) PURE;
    STDMETHOD(EnumFilters)(IEnumFilters** ppEnum) PURE;
    STDMETHOD(FindFilterByName)(LPCWSTR pName, IBaseFilter** ppFilter) PURE;
    STDMETHOD(ConnectDirect)(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) PURE;
    STDMETHOD(Reconnect)(IPin* ppin) PURE;
    STDMETHOD(Disconnect)(IPin* ppin) PURE;
    STDMETHOD(SetDefaultSyncSource)() PURE;
};

struct IEnumFilters : public IUnknown {
    STDMETHOD(Next)(ULONG cFilters, IBaseFilter** ppFilter, ULONG* pcFetched) PURE;
    STDMETHOD(Skip)(ULONG cFilters) PURE;
    STDMETHOD(Reset)() PURE;
    STDMETHOD(Clone)(IEnumFilters** ppEnum) PURE;
};

struct IMediaFilter : public IPersist {
    STDMETHOD(Stop)() PURE;
    STDMETHOD(Pause)() PURE;
    STDMETHOD(Run)(REFERENCE_TIME tStart) PURE;
    STDMETHOD(GetState)(DWORD dwMilliSecsTimeout, FILTER_STATE* State) PURE;
    STDMETHOD(SetSyncSource)(IReferenceClock* pClock) PURE;
    STDMETHOD(GetSyncSource)(IReferenceClock** pClock) PURE;
};

struct IBaseFilter : public IMediaFilter {
    STDMETHOD(EnumPins)(IEnumPins** ppEnum) PURE;
    STDMETHOD(FindPin)(LPCWSTR Id, IPin** ppPin) PURE;
    STDMETHOD(QueryFilterInfo)(FILTER_INFO* pInfo) PURE;
    STDMETHOD(JoinFilterGraph)(IFilterGraph* pGraph, LPCWSTR pName) PURE;
    STDMETHOD(QueryVendorInfo)(LPWSTR* pVendorInfo) PURE;
};

struct IReferenceClock : public IUnknown {
    STDMETHOD(GetTime)(REFERENCE_TIME* pTime) PURE;
    STDMETHOD(AdviseTime)
    (REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
     DWORD_PTR* pdwAdviseCookie) PURE;
    STDMETHOD(AdvisePeriodic)
    (REFERENCE_TIME startTime, REFERENCE_TIME periodTime, HSEMAPHORE hSemaphore,
     DWORD_PTR* pdwAdviseCookie) PURE;
    STDMETHOD(Unadvise)(DWORD_PTR dwAdviseCookie) PURE;
};

struct IMediaSample : public IUnknown {
    STDMETHOD(GetPointer)(BYTE** ppBuffer) PURE;
    STDMETHOD_(LONG, GetSize)() PURE;
    STDMETHOD(GetTime)(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) PURE;
    STDMETHOD(SetTime)(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) PURE;
    STDMETHOD(IsSyncPoint)() PURE;
    STDMETHOD(SetSyncPoint)(BOOL bIsSyncPoint) PURE;
    STDMETHOD(IsPreroll)() PURE;
    STDMETHOD(SetPreroll)(BOOL bIsPreroll) PURE;
    STDMETHOD_(LONG, GetActualDataLength)() PURE;
    STDMETHOD(SetActualDataLength)(LONG length) PURE;
    STDMETHOD(GetMediaType)(AM_MEDIA_TYPE** ppMediaType) PURE;
    STDMETHOD(SetMediaType)(AM_MEDIA_TYPE* pMediaType) PURE;
    STDMETHOD(IsDiscontinuity)() PURE;
    STDMETHOD(SetDiscontinuity)(BOOL bDiscontinuity) PURE;
    STDMETHOD(GetMediaTime)(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) PURE;
    STDMETHOD(SetMediaTime)(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) PURE;
};

// IMemAllocator::GetBuffer flags.
constexpr DWORD AM_GBF_PREVFRAMESKIPPED = 1;
constexpr DWORD AM_GBF_NOTASYNCPOINT = 2;
constexpr DWORD AM_GBF_NOWAIT = 4;

struct IMemAllocator : public IUnknown {
    STDMETHOD(SetProperties)(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) PURE;
    STDMETHOD(GetProperties)(ALLOCATOR_PROPERTIES* pProps) PURE;
    STDMETHOD(Commit)() PURE;
    STDMETHOD(Decommit)() PURE;
    STDMETHOD(GetBuffer)
    (IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime, REFERENCE_TIME* pEndTime,
     DWORD dwFlags) PURE;
    STDMETHOD(ReleaseBuffer)(IMediaSample* pBuffer) PURE;
};

struct IMemInputPin : public IUnknown {
    STDMETHOD(GetAllocator)(IMemAllocator** ppAllocator) PURE;
    STDMETHOD(NotifyAllocator)(IMemAllocator* pAllocator, BOOL bReadOnly) PURE;
    STDMETHOD(GetAllocatorRequirements)(ALLOCATOR_PROPERTIES* pProps) PURE;
    STDMETHOD(Receive)(IMediaSample* pSample) PURE;
    STDMETHOD(ReceiveMultiple)
    (IMediaSample** pSamples, LONG nSamples, LONG* nSamplesProcessed) PURE;
    STDMETHOD(ReceiveCanBlock)() PURE;
};

struct IAsyncReader : public IUnknown {
    STDMETHOD(RequestAllocator)
    (IMemAllocator* pPreferred, ALLOCATOR_PROPERTIES* pProps, IMemAllocator** ppActual) PURE;
    STDMETHOD(Request)(IMediaSample* pSample, DWORD_PTR dwUser) PURE;
    STDMETHOD(WaitForNext)(DWORD dwTimeout, IMediaSample** ppSample, DWORD_PTR* pdwUser) PURE;
    STDMETHOD(SyncReadAligned)(IMediaSample* pSample) PURE;
    STDMETHOD(SyncRead)(LONGLONG llPosition, LONG lLength, BYTE* pBuffer) PURE;
    STDMETHOD(Length)(LONGLONG* pTotal, LONGLONG* pAvailable) PURE;
    STDMETHOD(BeginFlush)() PURE;
    STDMETHOD(EndFlush)() PURE;
};

struct IMediaEventSink : public IUnknown {
    STDMETHOD(Notify)(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) PURE;
};

struct IQualityControl : public IUnknown {
    STDMETHOD(Notify)(IBaseFilter* pSelf, Quality q) PURE;
    STDMETHOD(SetSink)(IQualityControl* piqc) PURE;
};

struct IFileSourceFilter : public IUnknown {
    STDMETHOD(Load)(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) PURE;
    STDMETHOD(GetCurFile)(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) PURE;
};

enum AM_FILTER_MISC_FLAGS {
    AM_FILTER_MISC_FLAGS_IS_RENDERER = 0x1,
    AM_FILTER_MISC_FLAGS_IS_SOURCE = 0x2,
};

struct IAMFilterMiscFlags : public IUnknown {
    STDMETHOD_(ULONG, GetMiscFlags)() PURE;
};

struct IAMOpenProgress : public IUnknown {
    STDMETHOD(QueryProgress)(LONGLONG* pllTotal, LONGLONG* pllCurrent) PURE;
    STDMETHOD(AbortOperation)() PURE;
};

struct IAMMediaContent : public IDispatch {
    STDMETHOD(get_AuthorName)(BSTR* pbstrAuthorName) PURE;
    STDMETHOD(get_Title)(BSTR* pbstrTitle) PURE;
    STDMETHOD(get_Rating)(BSTR* pbstrRating) PURE;
    STDMETHOD(get_Description)(BSTR* pbstrDescription) PURE;
    STDMETHOD(get_Copyright)(BSTR* pbstrCopyright) PURE;
    STDMETHOD(get_BaseURL)(BSTR* pbstrBaseURL) PURE;
    STDMETHOD(get_LogoURL)(BSTR* pbstrLogoURL) PURE;
    STDMETHOD(get_LogoIconURL)(BSTR* pbstrLogoURL) PURE;
    STDMETHOD(get_WatermarkURL)(BSTR* pbstrWatermarkURL) PURE;
    STDMETHOD(get_MoreInfoURL)(BSTR* pbstrMoreInfoURL) PURE;
    STDMETHOD(get_MoreInfoBannerImage)(BSTR* pbstrMoreInfoBannerImage) PURE;
    STDMETHOD(get_MoreInfoBannerURL)(BSTR* pbstrMoreInfoBannerURL) PURE;
    STDMETHOD(get_MoreInfoText)(BSTR* pbstrMoreInfoText) PURE;
};

// IMediaSeeking capabilities and positioning flags.
enum AM_SEEKING_SEEKING_CAPABILITIES {
    AM_SEEKING_CanSeekAbsolute = 0x1,
    AM_SEEKING_CanSeekForwards = 0x2,
    AM_SEEKING_CanSeekBackwards = 0x4,
    AM_SEEKING_CanGetCurrentPos = 0x8,
    AM_SEEKING_CanGetStopPos = 0x10,
    AM_SEEKING_CanGetDuration = 0x20,
    AM_SEEKING_CanPlayBackwards = 0x40,
    AM_SEEKING_CanDoSegments = 0x80,
    AM_SEEKING_Source = 0x100,
};
enum AM_SEEKING_SEEKING_FLAGS {
    AM_SEEKING_NoPositioning = 0x0,
    AM_SEEKING_AbsolutePositioning = 0x1,
    AM_SEEKING_RelativePositioning = 0x2,
    AM_SEEKING_IncrementalPositioning = 0x3,
    AM_SEEKING_PositioningBitsMask = 0x3,
    AM_SEEKING_SeekToKeyFrame = 0x4,
    AM_SEEKING_ReturnTime = 0x8,
    AM_SEEKING_Segment = 0x10,
    AM_SEEKING_NoFlush = 0x20,
};

struct IMediaSeeking : public IUnknown {
    STDMETHOD(GetCapabilities)(DWORD* pCapabilities) PURE;
    STDMETHOD(CheckCapabilities)(DWORD* pCapabilities) PURE;
    STDMETHOD(IsFormatSupported)(const GUID* pFormat) PURE;
    STDMETHOD(QueryPreferredFormat)(GUID* pFormat) PURE;
    STDMETHOD(GetTimeFormat)(GUID* pFormat) PURE;
    STDMETHOD(IsUsingTimeFormat)(const GUID* pFormat) PURE;
    STDMETHOD(SetTimeFormat)(const GUID* pFormat) PURE;
    STDMETHOD(GetDuration)(LONGLONG* pDuration) PURE;
    STDMETHOD(GetStopPosition)(LONGLONG* pStop) PURE;
    STDMETHOD(GetCurrentPosition)(LONGLONG* pCurrent) PURE;
    STDMETHOD(ConvertTimeFormat)
    (LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source, const GUID* pSourceFormat) PURE;
    STDMETHOD(SetPositions)
    (LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop, DWORD dwStopFlags) PURE;
    STDMETHOD(GetPositions)(LONGLONG* pCurrent, LONGLONG* pStop) PURE;
    STDMETHOD(GetAvailable)(LONGLONG* pEarliest, LONGLONG* pLatest) PURE;
    STDMETHOD(SetRate)(double dRate) PURE;
    STDMETHOD(GetRate)(double* pdRate) PURE;
    STDMETHOD(GetPreroll)(LONGLONG* pllPreroll) PURE;
};

struct IGraphBuilder : public IFilterGraph {
    STDMETHOD(Connect)(IPin* ppinOut, IPin* ppinIn) PURE;
    STDMETHOD(Render)(IPin* ppinOut) PURE;
    STDMETHOD(RenderFile)(LPCWSTR lpcwstrFile, LPCWSTR lpcwstrPlayList) PURE;
    STDMETHOD(AddSourceFilter)
    (LPCWSTR lpcwstrFileName, LPCWSTR lpcwstrFilterName, IBaseFilter** ppFilter) PURE;
    STDMETHOD(SetLogFile)(DWORD_PTR hFile) PURE;
    STDMETHOD(Abort)() PURE;
    STDMETHOD(ShouldOperationContinue)() PURE;
};

struct IMediaControl : public IDispatch {
    STDMETHOD(Run)() PURE;
    STDMETHOD(Pause)() PURE;
    STDMETHOD(Stop)() PURE;
    STDMETHOD(GetState)(LONG msTimeout, OAFilterState* pfs) PURE;
    STDMETHOD(RenderFile)(BSTR strFilename) PURE;
    STDMETHOD(AddSourceFilter)(BSTR strFilename, IDispatch** ppUnk) PURE;
    STDMETHOD(get_FilterCollection)(IDispatch** ppUnk) PURE;
    STDMETHOD(get_RegFilterCollection)(IDispatch** ppUnk) PURE;
    STDMETHOD(StopWhenReady)() PURE;
};

struct IMediaEvent : public IDispatch {
    STDMETHOD(GetEventHandle)(OAEVENT* hEvent) PURE;
    STDMETHOD(GetEvent)
    (LONG* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2, LONG msTimeout) PURE;
    STDMETHOD(WaitForCompletion)(LONG msTimeout, LONG* pEvCode) PURE;
    STDMETHOD(CancelDefaultHandling)(LONG lEvCode) PURE;
    STDMETHOD(RestoreDefaultHandling)(LONG lEvCode) PURE;
    STDMETHOD(FreeEventParams)(LONG lEvCode, LONG_PTR lParam1, LONG_PTR lParam2) PURE;
};

// Filter registration through the mapper.
constexpr DWORD MERIT_PREFERRED = 0x800000;
constexpr DWORD MERIT_NORMAL = 0x600000;
constexpr DWORD MERIT_UNLIKELY = 0x400000;
constexpr DWORD MERIT_DO_NOT_USE = 0x200000;
constexpr DWORD MERIT_SW_COMPRESSOR = 0x100000;
constexpr DWORD MERIT_HW_COMPRESSOR = 0x100050;

struct REGPINTYPES {
    const CLSID* clsMajorType;
    const CLSID* clsMinorType;
};

struct REGFILTERPINS {
    LPWSTR strName;
    BOOL bRendered;
    BOOL bOutput;
    BOOL bZero;
    BOOL bMany;
    const CLSID* clsConnectsToFilter;
    const WCHAR* strConnectsToPin;
    UINT nMediaTypes;
    const REGPINTYPES* lpMediaType;
};

struct REGPINMEDIUM {
    CLSID clsMedium;
    DWORD dw1;
    DWORD dw2;
};

struct REGFILTERPINS2 {
    DWORD dwFlags;
    UINT cInstances;
    UINT nMediaTypes;
    const REGPINTYPES* lpMediaType;
    UINT nMediums;
    const REGPINMEDIUM* lpMedium;
    const CLSID* clsPinCategory;
};

struct REGFILTER2 {
    DWORD dwVersion;
    DWORD dwMerit;
    union {
        struct {
            ULONG cPins;
            const REGFILTERPINS* rgPins;
        };
        struct {
            ULONG cPins2;
            const REGFILTERPINS2* rgPins2;
        };
    };
};

struct IFilterMapper2 : public IUnknown {
    STDMETHOD(CreateCategory)
    (REFCLSID clsidCategory, DWORD dwCategoryMerit, LPCWSTR Description) PURE;
    STDMETHOD(UnregisterFilter)
    (const CLSID* pclsidCategory, LPCOLESTR szInstance, REFCLSID Filter) PURE;
    STDMETHOD(RegisterFilter)
    (REFCLSID clsidFilter, LPCWSTR Name, IMoniker** ppMoniker, const CLSID* pclsidCategory,
     LPCOLESTR szInstance, const REGFILTER2* prf2) PURE;
    STDMETHOD(EnumMatchingFilters)
    (IEnumMoniker** ppEnum, DWORD dwFlags, BOOL bExactMatch, DWORD dwMerit, BOOL bInputNeeded,
     DWORD cInputTypes, const GUID* pInputTypes, const REGPINMEDIUM* pMedIn,
     const CLSID* pPinCategoryIn, BOOL bRender, BOOL bOutputNeeded, DWORD cOutputTypes,
     const GUID* pOutputTypes, const REGPINMEDIUM* pMedOut, const CLSID* pPinCategoryOut) PURE;
};

// Setup data of the base classes' registration (the same records under their
// AMOVIESETUP names).
using AMOVIESETUP_MEDIATYPE = REGPINTYPES;
using LPAMOVIESETUP_MEDIATYPE = REGPINTYPES*;
using AMOVIESETUP_PIN = REGFILTERPINS;
using LPAMOVIESETUP_PIN = REGFILTERPINS*;
struct AMOVIESETUP_FILTER {
    const CLSID* clsID;
    const WCHAR* strName;
    DWORD dwMerit;
    UINT nPins;
    const AMOVIESETUP_PIN* lpPin;
};
using LPAMOVIESETUP_FILTER = AMOVIESETUP_FILTER*;

// Reference times are in 100 ns units.
constexpr LONGLONG UNITS = 10000000;
constexpr LONGLONG MILLISECONDS = 10000;
#endif  // _WIN32
