#include "sync/sync.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "sync/forever.h"
#include "trace_output.h"

namespace {

thread_local DWORD t_last_error = 0;
thread_local int t_current_priority = THREAD_PRIORITY_NORMAL;

// The one condition every kernel object waits on; simple, and waits on several handles
// at once come for free.
std::mutex& KernelMutex() {
    static auto* m = avs::Forever(new std::mutex);
    return *m;
}
std::condition_variable& KernelCond() {
    static auto* c = avs::Forever(new std::condition_variable);
    return *c;
}

struct KernelObject {
    enum class Kind { kEvent, kThread };
    explicit KernelObject(Kind k) : kind(k) {}
    virtual ~KernelObject() = default;
    Kind kind;
    std::atomic<int> refs{1};
    bool signalled = false;  // guarded by KernelMutex()
};

struct Event : KernelObject {
    Event(bool manual_reset, bool initial, std::string n)
        : KernelObject(Kind::kEvent), manual(manual_reset), name(std::move(n)) {
        signalled = initial;
    }
    bool manual;
    std::string name;
};

struct Thread : KernelObject {
    Thread() : KernelObject(Kind::kThread) {}
    std::atomic<pid_t> tid{0};
    DWORD exit_code = STILL_ACTIVE;  // guarded by KernelMutex()
    std::atomic<int> priority{THREAD_PRIORITY_NORMAL};
    LPTHREAD_START_ROUTINE start = nullptr;
    LPVOID parameter = nullptr;
    // Suspended creation: the thread waits for this flag.
    bool released = true;
    // Joined by the last CloseHandle from another thread once the start routine has
    // returned, so that nothing of the thread still runs when the caller goes on (a module
    // unloaded right after closing its worker must not have code left executing).
    std::thread runner;
    std::mutex runner_mutex;
    ~Thread() override {
        if (runner.joinable()) runner.detach();
    }
};

std::map<std::string, Event*>& NamedEvents() {  // guarded by KernelMutex()
    static auto* m = avs::Forever(new std::map<std::string, Event*>);
    return *m;
}

void AddRef(KernelObject* o) {
    o->refs.fetch_add(1);
}

void Unref(KernelObject* o) {
    if (o->refs.fetch_sub(1) != 1) return;
    if (o->kind == KernelObject::Kind::kEvent) {
        auto* e = static_cast<Event*>(o);
        if (!e->name.empty()) {
            std::lock_guard<std::mutex> lock(KernelMutex());
            auto it = NamedEvents().find(e->name);
            if (it != NamedEvents().end() && it->second == e) NamedEvents().erase(it);
        }
    }
    delete o;
}

KernelObject* Obj(HANDLE h) {
    return static_cast<KernelObject*>(h);
}

// Takes one signal from an auto-reset event; caller holds KernelMutex().
bool Consume(KernelObject* o) {
    if (!o->signalled) return false;
    if (o->kind == KernelObject::Kind::kEvent && !static_cast<Event*>(o)->manual)
        o->signalled = false;
    return true;
}

std::mutex& BoxMutex() {
    static auto* m = avs::Forever(new std::mutex);
    return *m;
}
std::function<void(const std::string&, const std::string&)>& BoxSink() {
    static auto* f = avs::Forever(new std::function<void(const std::string&, const std::string&)>);
    return *f;
}

void ApplyPriority(Thread* t) {
    pid_t tid = t->tid.load();
    if (tid == 0) return;
    // Nice values run the other way round; raising may need privileges and just fails.
    int nice = -t->priority.load();
    if (nice < -20) nice = -20;
    if (nice > 19) nice = 19;
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice);
}

}  // namespace

HANDLE CreateEventA(LPVOID, BOOL manualReset, BOOL initialState, LPCSTR name) {
    std::string n = name ? name : "";
    std::lock_guard<std::mutex> lock(KernelMutex());
    if (!n.empty()) {
        auto it = NamedEvents().find(n);
        if (it != NamedEvents().end()) {
            AddRef(it->second);
            t_last_error = ERROR_ALREADY_EXISTS;
            return it->second;
        }
    }
    auto* e = new Event(manualReset != FALSE, initialState != FALSE, n);
    if (!n.empty()) NamedEvents()[n] = e;
    t_last_error = 0;
    return e;
}

HANDLE CreateEventW(LPVOID sa, BOOL manualReset, BOOL initialState, LPCWSTR name) {
    std::string n;
    // Event names are plain ASCII in practice; other characters keep their low byte
    // pattern as UTF-8 would not matter for a process-local name table.
    for (const WCHAR* p = name; p != nullptr && *p != 0; ++p) {
        auto c = static_cast<std::uint32_t>(*p);
        if (c < 0x80) {
            n.push_back(static_cast<char>(c));
        } else {
            n += "\\u" + std::to_string(c);
        }
    }
    return CreateEventA(sa, manualReset, initialState, name ? n.c_str() : nullptr);
}

BOOL SetEvent(HANDLE h) {
    if (h == nullptr || Obj(h)->kind != KernelObject::Kind::kEvent) {
        t_last_error = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    {
        std::lock_guard<std::mutex> lock(KernelMutex());
        Obj(h)->signalled = true;
    }
    KernelCond().notify_all();
    return TRUE;
}

BOOL ResetEvent(HANDLE h) {
    if (h == nullptr || Obj(h)->kind != KernelObject::Kind::kEvent) {
        t_last_error = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(KernelMutex());
    Obj(h)->signalled = false;
    return TRUE;
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms) {
    if (count == 0 || handles == nullptr || waitAll) return WAIT_FAILED;
    for (DWORD i = 0; i < count; ++i)
        if (handles[i] == nullptr) return WAIT_FAILED;
    std::unique_lock<std::mutex> lock(KernelMutex());
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        for (DWORD i = 0; i < count; ++i)
            if (Consume(Obj(handles[i]))) return WAIT_OBJECT_0 + i;
        if (ms == 0) return WAIT_TIMEOUT;
        if (ms == INFINITE) {
            KernelCond().wait(lock);
        } else if (KernelCond().wait_until(lock, deadline) == std::cv_status::timeout) {
            for (DWORD i = 0; i < count; ++i)
                if (Consume(Obj(handles[i]))) return WAIT_OBJECT_0 + i;
            return WAIT_TIMEOUT;
        }
    }
}

DWORD WaitForSingleObject(HANDLE h, DWORD ms) {
    return WaitForMultipleObjects(1, &h, FALSE, ms);
}

BOOL CloseHandle(HANDLE h) {
    if (h == nullptr) {
        t_last_error = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if (Obj(h)->kind == KernelObject::Kind::kThread) {
        auto* t = static_cast<Thread*>(Obj(h));
        bool finished;
        {
            std::lock_guard<std::mutex> lock(KernelMutex());
            finished = t->signalled;
        }
        std::lock_guard<std::mutex> lock(t->runner_mutex);
        if (finished && t->runner.joinable() && t->runner.get_id() != std::this_thread::get_id())
            t->runner.join();
    }
    Unref(Obj(h));
    return TRUE;
}

DWORD GetLastError() {
    return t_last_error;
}
void SetLastError(DWORD e) {
    t_last_error = e;
}

HANDLE CreateThread(LPVOID, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                    DWORD* threadId) {
    if (start == nullptr) return nullptr;
    auto* t = new Thread;
    t->start = start;
    t->parameter = parameter;
    t->released = (flags & CREATE_SUSPENDED) == 0;
    AddRef(t);  // the running thread's own reference
    try {
        std::lock_guard<std::mutex> runner_lock(t->runner_mutex);
        t->runner = std::thread([t] {
            t->tid.store(static_cast<pid_t>(::syscall(SYS_gettid)));
            {
                std::unique_lock<std::mutex> lock(KernelMutex());
                KernelCond().wait(lock, [t] { return t->released; });
            }
            if (t->priority.load() != THREAD_PRIORITY_NORMAL) ApplyPriority(t);
            DWORD code = t->start(t->parameter);
            {
                std::lock_guard<std::mutex> lock(KernelMutex());
                t->exit_code = code;
                t->signalled = true;
            }
            KernelCond().notify_all();
            Unref(t);
        });
    } catch (...) {
        delete t;
        return nullptr;
    }
    if (threadId != nullptr) *threadId = static_cast<DWORD>(reinterpret_cast<uintptr_t>(t));
    return t;
}

BOOL SetThreadPriority(HANDLE h, int priority) {
    if (h == GetCurrentThread()) {
        // The pseudo-handle names the calling thread, which may not be one of ours.
        t_current_priority = priority;
        int nice = -priority;
        if (nice < -20) nice = -20;
        if (nice > 19) nice = 19;
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), nice);
        return TRUE;
    }
    if (h == nullptr || Obj(h)->kind != KernelObject::Kind::kThread) return FALSE;
    auto* t = static_cast<Thread*>(Obj(h));
    t->priority.store(priority);
    ApplyPriority(t);
    return TRUE;
}

int GetThreadPriority(HANDLE h) {
    if (h == GetCurrentThread()) return t_current_priority;
    if (h == nullptr || Obj(h)->kind != KernelObject::Kind::kThread) return 0x7FFFFFFF;
    return static_cast<Thread*>(Obj(h))->priority.load();
}

BOOL GetExitCodeThread(HANDLE h, DWORD* code) {
    if (h == nullptr || code == nullptr || Obj(h)->kind != KernelObject::Kind::kThread)
        return FALSE;
    std::lock_guard<std::mutex> lock(KernelMutex());
    *code = static_cast<Thread*>(Obj(h))->exit_code;
    return TRUE;
}

DWORD ResumeThread(HANDLE h) {
    if (h == nullptr || Obj(h)->kind != KernelObject::Kind::kThread) return 0xFFFFFFFFu;
    auto* t = static_cast<Thread*>(Obj(h));
    DWORD previous;
    {
        std::lock_guard<std::mutex> lock(KernelMutex());
        previous = t->released ? 0 : 1;
        t->released = true;
    }
    KernelCond().notify_all();
    return previous;
}

HANDLE GetCurrentThread() {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2));
}
DWORD GetCurrentThreadId() {
    return static_cast<DWORD>(::syscall(SYS_gettid));
}

void Sleep(DWORD ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

DWORD timeGetTime() {
    using namespace std::chrono;
    return static_cast<DWORD>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}
DWORD GetTickCount() {
    return timeGetTime();
}

int MulDiv(int number, int numerator, int denominator) {
    if (denominator == 0) return -1;
    long long p = static_cast<long long>(number) * numerator;
    // Round half away from zero, as the Win32 function does.
    long long half = (denominator < 0 ? -static_cast<long long>(denominator) : denominator) / 2;
    bool negative = (p < 0) != (denominator < 0);
    long long ap = p < 0 ? -p : p;
    long long ad = denominator < 0 ? -static_cast<long long>(denominator) : denominator;
    long long q = (ap + half) / ad;
    if (negative) q = -q;
    if (q > 0x7FFFFFFFLL || q < -0x80000000LL) return -1;
    return static_cast<int>(q);
}

LONG InterlockedIncrement(LONG volatile* v) {
    return __atomic_add_fetch(v, 1, __ATOMIC_SEQ_CST);
}
LONG InterlockedDecrement(LONG volatile* v) {
    return __atomic_sub_fetch(v, 1, __ATOMIC_SEQ_CST);
}
LONG InterlockedExchange(LONG volatile* t, LONG v) {
    return __atomic_exchange_n(t, v, __ATOMIC_SEQ_CST);
}

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT) {
    std::string t = text ? text : "";
    std::string c = caption ? caption : "Error";
    {
        std::lock_guard<std::mutex> lock(BoxMutex());
        if (BoxSink()) {
            BoxSink()(t, c);
            return IDOK;
        }
    }
    for (char& ch : t)
        if (ch == '\n' || ch == '\r') ch = ' ';
    std::fprintf(stderr, "%s: %s\n", c.c_str(), t.c_str());
    return IDOK;
}

namespace avs::sync {

void WriteTraceLine(const std::string& line) {
    std::fprintf(stderr, "trace: %s\n", line.c_str());
}

}  // namespace avs::sync

void AvsSetMessageBoxSink(std::function<void(const std::string&, const std::string&)> sink) {
    std::lock_guard<std::mutex> lock(BoxMutex());
    BoxSink() = std::move(sink);
}

void InitializeCriticalSection(LPCRITICAL_SECTION cs) {
    cs->impl = new std::recursive_mutex;
}
void EnterCriticalSection(LPCRITICAL_SECTION cs) {
    static_cast<std::recursive_mutex*>(cs->impl)->lock();
}
void LeaveCriticalSection(LPCRITICAL_SECTION cs) {
    static_cast<std::recursive_mutex*>(cs->impl)->unlock();
}
void DeleteCriticalSection(LPCRITICAL_SECTION cs) {
    delete static_cast<std::recursive_mutex*>(cs->impl);
    cs->impl = nullptr;
}
