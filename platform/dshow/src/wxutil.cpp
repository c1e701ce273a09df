#include "dshow/base/wxutil.h"

CAMEvent::CAMEvent(BOOL fManualReset, HRESULT* phr) {
    m_hEvent = CreateEventA(nullptr, fManualReset, FALSE, nullptr);
    if (m_hEvent == nullptr && phr != nullptr) *phr = E_OUTOFMEMORY;
}

CAMEvent::~CAMEvent() {
    if (m_hEvent != nullptr) CloseHandle(m_hEvent);
}

CAMThread::CAMThread(HRESULT* phr) : m_EventSend(TRUE, phr), m_EventComplete(FALSE, phr) {}

CAMThread::~CAMThread() {
    Close();
}

DWORD WINAPI CAMThread::InitialThreadProc(LPVOID pv) {
    return static_cast<CAMThread*>(pv)->ThreadProc();
}

BOOL CAMThread::Create() {
    CAutoLock lock(&m_AccessLock);
    std::lock_guard<std::mutex> state(m_stateMutex);
    if (m_hThread != nullptr) return FALSE;
    m_hThread = CreateThread(nullptr, 0, InitialThreadProc, this, 0, nullptr);
    return m_hThread != nullptr;
}

BOOL CAMThread::ThreadExists() const {
    std::lock_guard<std::mutex> state(m_stateMutex);
    return m_hThread != nullptr;
}

DWORD CAMThread::CallWorker(DWORD dwParam) {
    CAutoLock lock(&m_AccessLock);
    if (!ThreadExists()) return static_cast<DWORD>(E_FAIL);
    {
        std::lock_guard<std::mutex> state(m_stateMutex);
        m_dwParam = dwParam;
    }
    m_EventSend.Set();
    m_EventComplete.Wait();
    std::lock_guard<std::mutex> state(m_stateMutex);
    return m_dwReturnVal;
}

void CAMThread::Close() {
    HANDLE thread;
    {
        std::lock_guard<std::mutex> state(m_stateMutex);
        thread = m_hThread;
        m_hThread = nullptr;
    }
    if (thread != nullptr) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
}

DWORD CAMThread::GetRequest() {
    m_EventSend.Wait();
    std::lock_guard<std::mutex> state(m_stateMutex);
    return m_dwParam;
}

BOOL CAMThread::CheckRequest(DWORD* pParam) {
    // m_EventSend is manual-reset: looking does not take the command away.
    if (!m_EventSend.Check()) return FALSE;
    if (pParam != nullptr) {
        std::lock_guard<std::mutex> state(m_stateMutex);
        *pParam = m_dwParam;
    }
    return TRUE;
}

void CAMThread::Reply(DWORD dw) {
    {
        std::lock_guard<std::mutex> state(m_stateMutex);
        m_dwReturnVal = dw;
    }
    m_EventSend.Reset();
    m_EventComplete.Set();
}
