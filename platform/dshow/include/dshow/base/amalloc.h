// Media samples and the memory allocator that hands them out.
#pragma once

#include <condition_variable>
#include <mutex>
#include <vector>

#include "dshow/base/combase.h"
#include "dshow/base/mtype.h"
#include "dshow/uuids.h"

class CBaseAllocator;

class CMediaSample : public IMediaSample {
  public:
    CMediaSample(LPCTSTR pName, CBaseAllocator* pAllocator, HRESULT* phr, BYTE* pBuffer = nullptr,
                 LONG length = 0);
    virtual ~CMediaSample();

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    // At zero references the sample goes back to its allocator.
    STDMETHODIMP_(ULONG) Release() override;

    HRESULT SetPointer(BYTE* ptr, LONG cBytes);
    STDMETHODIMP GetPointer(BYTE** ppBuffer) override;
    STDMETHODIMP_(LONG) GetSize() override;
    STDMETHODIMP GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
    STDMETHODIMP SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
    STDMETHODIMP IsSyncPoint() override;
    STDMETHODIMP SetSyncPoint(BOOL bIsSyncPoint) override;
    STDMETHODIMP IsPreroll() override;
    STDMETHODIMP SetPreroll(BOOL bIsPreroll) override;
    STDMETHODIMP_(LONG) GetActualDataLength() override;
    STDMETHODIMP SetActualDataLength(LONG length) override;
    STDMETHODIMP GetMediaType(AM_MEDIA_TYPE** ppMediaType) override;
    STDMETHODIMP SetMediaType(AM_MEDIA_TYPE* pMediaType) override;
    STDMETHODIMP IsDiscontinuity() override;
    STDMETHODIMP SetDiscontinuity(BOOL bDiscontinuity) override;
    STDMETHODIMP GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;
    STDMETHODIMP SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;

    // Clears times, flags and media type when the allocator hands the sample out again.
    void ResetProperties();

  protected:
    friend class CBaseAllocator;
    enum : DWORD {
        Sample_SyncPoint = 0x01,
        Sample_Preroll = 0x02,
        Sample_Discontinuity = 0x04,
        Sample_TypeChanged = 0x08,
        Sample_TimeValid = 0x10,
        Sample_MediaTimeValid = 0x20,
        Sample_StopValid = 0x100,
    };
    DWORD m_dwFlags = 0;
    BYTE* m_pBuffer;
    LONG m_lActual = 0;
    LONG m_cbBuffer;
    CBaseAllocator* m_pAllocator;
    REFERENCE_TIME m_Start = 0;
    REFERENCE_TIME m_End = 0;
    LONGLONG m_MediaStart = 0;
    LONG m_MediaEnd = 0;
    AM_MEDIA_TYPE* m_pMediaType = nullptr;
    std::atomic<LONG> m_cRef{0};
};

// Allocator bookkeeping: a fixed set of samples, handed out by GetBuffer (which waits
// for a free one) and returned when their last reference goes.
class CBaseAllocator : public CUnknown, public IMemAllocator {
  public:
    CBaseAllocator(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr);
    ~CBaseAllocator() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                               ALLOCATOR_PROPERTIES* pActual) override;
    STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES* pProps) override;
    STDMETHODIMP Commit() override;
    STDMETHODIMP Decommit() override;
    STDMETHODIMP GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime,
                           REFERENCE_TIME* pEndTime, DWORD dwFlags) override;
    STDMETHODIMP ReleaseBuffer(IMediaSample* pBuffer) override;

  protected:
    virtual HRESULT Alloc() = 0;  // creates the samples of m_lCount x m_lSize bytes
    virtual void Free() = 0;      // deletes them (all returned)

    std::mutex m_mutex;
    std::condition_variable m_freed;
    std::vector<CMediaSample*> m_free;  // samples not handed out
    LONG m_lAllocated = 0;              // samples that exist
    LONG m_lCount = 0;
    LONG m_lSize = 0;
    LONG m_lAlignment = 1;
    LONG m_lPrefix = 0;
    bool m_bCommitted = false;
    bool m_bDecommitInProgress = false;
    bool m_bChanged = false;
};

// The allocator of plain memory blocks (CLSID_MemoryAllocator).
class CMemAllocator : public CBaseAllocator {
  public:
    CMemAllocator(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr);
    ~CMemAllocator() override;
    static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
    STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                               ALLOCATOR_PROPERTIES* pActual) override;

  protected:
    HRESULT Alloc() override;
    void Free() override;
    BYTE* m_pBuffer = nullptr;
};
