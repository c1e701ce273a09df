// Events, threads, timing, MulDiv, the trace hook and the message box.
#include "sync/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

TEST(EventTest, NamedEventsAreSharedByNameWhileOpen) {
    HANDLE a = CreateEventA(nullptr, FALSE, FALSE, "RtspVideoStream");
    ASSERT_NE(nullptr, a);
    EXPECT_EQ(0u, GetLastError());
    HANDLE b = CreateEventW(nullptr, TRUE, FALSE, L"RtspVideoStream");
    EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
    HANDLE other = CreateEventA(nullptr, FALSE, FALSE, "RtspAudioStream");
    SetEvent(a);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(other, 0));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(b, 0));  // the same event
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(a, 0));   // auto-reset: taken
    CloseHandle(a);
    CloseHandle(b);
    CloseHandle(other);
    HANDLE fresh = CreateEventA(nullptr, FALSE, FALSE, "RtspVideoStream");
    EXPECT_EQ(0u, GetLastError());
    CloseHandle(fresh);
}

TEST(EventTest, ManualResetTimeoutsAndWaitingOnSeveral) {
    HANDLE m = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(m, 0));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(m, 0));  // stays set
    ResetEvent(m);
    DWORD t0 = timeGetTime();
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(m, 30));
    EXPECT_GE(timeGetTime() - t0, 29u);
    HANDLE e = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE both[2] = {m, e};
    std::thread setter([&] {
        Sleep(10);
        SetEvent(e);
    });
    EXPECT_EQ(WAIT_OBJECT_0 + 1, WaitForMultipleObjects(2, both, FALSE, 5000));
    setter.join();
    EXPECT_FALSE(SetEvent(nullptr));
    CloseHandle(m);
    CloseHandle(e);
}

namespace {
std::atomic<int> g_ran{0};
DWORD WINAPI Worker(LPVOID p) {
    g_ran += *static_cast<int*>(p);
    return 42;
}
}  // namespace

TEST(ThreadTest, RunsWaitsReportsExitCodeAndPriority) {
    int arg = 5;
    HANDLE t = CreateThread(nullptr, 0, Worker, &arg, CREATE_SUSPENDED, nullptr);
    ASSERT_NE(nullptr, t);
    EXPECT_TRUE(SetThreadPriority(t, THREAD_PRIORITY_BELOW_NORMAL));
    EXPECT_EQ(THREAD_PRIORITY_BELOW_NORMAL, GetThreadPriority(t));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(t, 20));  // suspended
    EXPECT_EQ(0, g_ran.load());
    ResumeThread(t);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(t, 5000));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(t, 0));  // an ended thread stays signalled
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(t, &code));
    EXPECT_EQ(42u, code);
    EXPECT_EQ(5, g_ran.load());
    CloseHandle(t);
}

namespace {
// Thread-exit work that runs after the start routine has returned (and the thread's
// handle is signalled), slow enough to be seen if CloseHandle did not wait for it.
std::atomic<bool> g_exit_finished{false};
struct SlowThreadExit {
    ~SlowThreadExit() {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        g_exit_finished = true;
    }
};
DWORD WINAPI ReturnAtOnce(LPVOID) {
    static thread_local SlowThreadExit exit_work;
    (void)exit_work;
    return 3;
}
DWORD WINAPI RaiseOwnPriority(LPVOID) {
    // The pseudo-handle names the calling thread; it must not be taken for an object.
    if (!SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL)) return 1;
    return GetThreadPriority(GetCurrentThread()) == THREAD_PRIORITY_TIME_CRITICAL ? 0 : 2;
}
}  // namespace

TEST(ThreadTest, ClosingAFinishedThreadLeavesNothingOfItRunning) {
    // A module may be unloaded right after it closed its worker: no part of the thread may
    // still be executing then.
    for (int i = 0; i < 5; ++i) {
        g_exit_finished = false;
        HANDLE t = CreateThread(nullptr, 0, ReturnAtOnce, nullptr, 0, nullptr);
        ASSERT_NE(nullptr, t);
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(t, INFINITE));
        CloseHandle(t);
        ASSERT_TRUE(g_exit_finished) << "round " << i;
    }
}

TEST(ThreadTest, CurrentThreadPseudoHandleSetsTheCallersPriority) {
    HANDLE t = CreateThread(nullptr, 0, RaiseOwnPriority, nullptr, 0, nullptr);
    ASSERT_NE(nullptr, t);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(t, INFINITE));
    DWORD code = 99;
    ASSERT_TRUE(GetExitCodeThread(t, &code));
    EXPECT_EQ(0u, code);
    CloseHandle(t);
}

TEST(ThreadTest, CriticalSectionIsRecursiveAndExcludesOtherThreads) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    // The read and the write are split by a yield, so without the lock the
    // threads would lose increments on almost every run.
    volatile int counter = 0;
    constexpr int kPerThread = 20000;
    auto work = [&] {
        for (int i = 0; i < kPerThread; ++i) {
            EnterCriticalSection(&cs);
            EnterCriticalSection(&cs);  // the owner may enter again
            int seen = counter;
            if (i % 16 == 0) std::this_thread::yield();
            counter = seen + 1;
            LeaveCriticalSection(&cs);
            LeaveCriticalSection(&cs);
        }
    };
    std::thread a(work), b(work), c(work), d(work);
    a.join();
    b.join();
    c.join();
    d.join();
    EXPECT_EQ(4 * kPerThread, counter);
    DeleteCriticalSection(&cs);
}

TEST(TimingTest, MulDivRoundsAndRejectsOverflow) {
    EXPECT_EQ(78740, MulDiv(2000, 393700, 10000));
    EXPECT_EQ(53031, MulDiv(2000, 265156, 10000));
    EXPECT_EQ(1, MulDiv(1, 1, 2));    // half rounds away from zero
    EXPECT_EQ(-1, MulDiv(-1, 1, 2));  // likewise
    EXPECT_EQ(-1, MulDiv(5, 5, 0));
    EXPECT_EQ(-1, MulDiv(0x7FFFFFFF, 4, 1));
    EXPECT_EQ(0x7FFFFFFF, MulDiv(0x7FFFFFFF, 3, 3));
    DWORD a = timeGetTime();
    Sleep(20);
    EXPECT_GE(timeGetTime() - a, 19u);
}

TEST(DiagnosticsTest, TraceIsSilentUnlessAskedForAndMessageBoxIsOneLine) {
    ::unsetenv("AVS_TRACE");
    testing::internal::CaptureStderr();
    AvsTrace("CBranwickSource::GetMiscFlags()");
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
    ::setenv("AVS_TRACE", "1", 1);
    testing::internal::CaptureStderr();
    AvsTrace("CTallowmere::Load(%s)", "rtsp://x/a.asm");
    EXPECT_EQ("trace: CTallowmere::Load(rtsp://x/a.asm)\n", testing::internal::GetCapturedStderr());
    ::setenv("AVS_TRACE", "0", 1);
    EXPECT_FALSE(AvsTraceEnabled());
    std::string seen;
    AvsSetTraceSink([&](const std::string& line) { seen = line; });
    AvsTrace("Video Start Buffering (%d)...\n", 12);
    EXPECT_EQ("Video Start Buffering (12)...", seen);
    AvsSetTraceSink({});
    ::unsetenv("AVS_TRACE");

    testing::internal::CaptureStderr();
    EXPECT_EQ(IDOK, MessageBoxA(nullptr, "Failed to connect\nrtsp://host/a", "Tallowmere", MB_OK));
    EXPECT_EQ("Tallowmere: Failed to connect rtsp://host/a\n",
              testing::internal::GetCapturedStderr());
}
