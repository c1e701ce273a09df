// Locks, events and the worker thread with its command handshake.
#pragma once

#include <mutex>

#include "com/objbase.h"
#include "sync/sync.h"

// Recursive lock, as a Win32 critical section.
class CCritSec {
  public:
    CCritSec() = default;
    CCritSec(const CCritSec&) = delete;
    CCritSec& operator=(const CCritSec&) = delete;
    void Lock() { mutex_.lock(); }
    void Unlock() { mutex_.unlock(); }

  private:
    std::recursive_mutex mutex_;
};

// Holds a CCritSec for the lifetime of the object.
class CAutoLock {
  public:
    explicit CAutoLock(CCritSec* lock) : lock_(lock) { lock_->Lock(); }
    ~CAutoLock() { lock_->Unlock(); }
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;

  private:
    CCritSec* lock_;
};

// An unnamed event; auto-reset unless asked otherwise.
class CAMEvent {
  public:
    explicit CAMEvent(BOOL fManualReset = FALSE, HRESULT* phr = nullptr);
    ~CAMEvent();
    CAMEvent(const CAMEvent&) = delete;
    CAMEvent& operator=(const CAMEvent&) = delete;
    operator HANDLE() const { return m_hEvent; }
    void Set() { SetEvent(m_hEvent); }
    void Reset() { ResetEvent(m_hEvent); }
    BOOL Wait(DWORD dwTimeout = INFINITE) {
        return WaitForSingleObject(m_hEvent, dwTimeout) == WAIT_OBJECT_0;
    }
    // Tests without waiting (consumes the signal of an auto-reset event).
    BOOL Check() { return Wait(0); }

  protected:
    HANDLE m_hEvent;
};

// A worker thread that takes commands one at a time: CallWorker sends a command and
// waits for the worker's Reply; the worker takes commands with GetRequest (blocking) or
// CheckRequest (polling, leaving the command pending until it is replied to).
class CAMThread {
  public:
    explicit CAMThread(HRESULT* phr = nullptr);
    virtual ~CAMThread();
    CAMThread(const CAMThread&) = delete;
    CAMThread& operator=(const CAMThread&) = delete;

    CCritSec m_AccessLock;  // serialises callers of CallWorker
    CCritSec m_WorkerLock;  // for the worker's own use

    static DWORD WINAPI InitialThreadProc(LPVOID pv);
    BOOL Create();
    DWORD CallWorker(DWORD dwParam);
    void Close();
    BOOL ThreadExists() const;
    DWORD GetRequest();
    BOOL CheckRequest(DWORD* pParam);
    void Reply(DWORD dw);
    HANDLE GetRequestHandle() const { return m_EventSend; }
    DWORD GetRequestParam() const { return m_dwParam; }
    static HRESULT CoInitializeHelper() { return S_OK; }

    virtual DWORD ThreadProc() = 0;

  private:
    CAMEvent m_EventSend;      // manual reset: set while a command is pending
    CAMEvent m_EventComplete;  // auto reset: the worker replied
    DWORD m_dwParam = 0;
    DWORD m_dwReturnVal = 0;
    HANDLE m_hThread = nullptr;
    mutable std::mutex m_stateMutex;  // guards m_hThread, m_dwParam, m_dwReturnVal
};
