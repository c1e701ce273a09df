// Push source: a filter whose output pins each run a worker thread that fills and
// delivers samples.
#pragma once

#include "dshow/base/amfilter.h"

class CSourceStream;

class CSource : public CBaseFilter {
  public:
    CSource(LPCTSTR pName, LPUNKNOWN lpunk, CLSID clsid, HRESULT* phr);
    CSource(LPCTSTR pName, LPUNKNOWN lpunk, CLSID clsid);
    ~CSource() override;

    int GetPinCount() override;
    CBasePin* GetPin(int n) override;
    CCritSec* pStateLock() { return &m_cStateLock; }

    HRESULT AddPin(CSourceStream*);
    HRESULT RemovePin(CSourceStream*);
    STDMETHODIMP FindPin(LPCWSTR Id, IPin** ppPin) override;
    int FindPinNumber(IPin* iPin);

  protected:
    int m_iPins = 0;
    CSourceStream** m_paStreams = nullptr;
    CCritSec m_cStateLock;
};

class CSourceStream : public CAMThread, public CBaseOutputPin {
  public:
    CSourceStream(LPCTSTR pObjectName, HRESULT* phr, CSource* pms, LPCWSTR pName);
    ~CSourceStream() override;

  protected:
    CSource* m_pFilter;

    // Fills one sample; S_OK delivers it, S_FALSE ends the stream, a failure aborts it.
    virtual HRESULT FillBuffer(IMediaSample* pSamp) = 0;
    virtual HRESULT OnThreadCreate() { return NOERROR; }
    virtual HRESULT OnThreadDestroy() { return NOERROR; }
    virtual HRESULT OnThreadStartPlay() { return NOERROR; }

    HRESULT Active() override;
    HRESULT Inactive() override;

  public:
    enum Command { CMD_INIT, CMD_PAUSE, CMD_RUN, CMD_STOP, CMD_EXIT };
    HRESULT Init() { return static_cast<HRESULT>(CallWorker(CMD_INIT)); }
    HRESULT Exit() { return static_cast<HRESULT>(CallWorker(CMD_EXIT)); }
    HRESULT Run() { return static_cast<HRESULT>(CallWorker(CMD_RUN)); }
    HRESULT Pause() { return static_cast<HRESULT>(CallWorker(CMD_PAUSE)); }
    HRESULT Stop() { return static_cast<HRESULT>(CallWorker(CMD_STOP)); }
    using CBasePin::Run;

  protected:
    Command GetRequest() { return static_cast<Command>(CAMThread::GetRequest()); }
    BOOL CheckRequest(Command* pCom) {
        DWORD c = 0;
        BOOL got = CAMThread::CheckRequest(&c);
        if (got && pCom != nullptr) *pCom = static_cast<Command>(c);
        return got;
    }

    DWORD ThreadProc() override;
    virtual HRESULT DoBufferProcessingLoop();

    HRESULT CheckMediaType(const CMediaType* pMediaType) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    virtual HRESULT GetMediaType(CMediaType* pMediaType);

  public:
    STDMETHODIMP QueryId(LPWSTR* Id) override;
};
