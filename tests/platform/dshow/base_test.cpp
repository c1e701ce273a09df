// Base classes on their own: media types, the allocator and its samples, the worker
// command handshake, CSourceSeeking's position rules and the file reader's IAsyncReader.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <thread>

#include "dshow/runtime.h"
#include "support/temp_registry.h"

using avs::com::ComPtr;

TEST(MediaTypeTest, CopiesOwnTheirFormatAndMatchPartially) {
    CMediaType a(&MEDIATYPE_Audio);
    a.SetSubtype(&MEDIASUBTYPE_MPEG1AudioPayload);
    a.SetFormatType(&FORMAT_WaveFormatEx);
    BYTE* f = a.AllocFormatBuffer(40);
    ASSERT_NE(nullptr, f);
    for (int i = 0; i < 40; ++i) f[i] = static_cast<BYTE>(i);
    CMediaType b(a);
    EXPECT_NE(a.Format(), b.Format());
    EXPECT_TRUE(a == b);
    b.Format()[3] = 99;
    EXPECT_FALSE(a == b);
    CMediaType partial;
    partial.InitMediaType();
    partial.SetType(&MEDIATYPE_Audio);
    EXPECT_TRUE(partial.IsPartiallySpecified());
    EXPECT_TRUE(a.MatchesPartial(&partial));
    partial.SetSubtype(&MEDIASUBTYPE_PCM);
    EXPECT_FALSE(a.MatchesPartial(&partial));
    AM_MEDIA_TYPE* heap = CreateMediaType(&a);
    ASSERT_NE(nullptr, heap);
    EXPECT_EQ(40u, heap->cbFormat);
    EXPECT_EQ(0, std::memcmp(heap->pbFormat, a.Format(), 40));
    DeleteMediaType(heap);
    a.ResetFormatBuffer();
    EXPECT_EQ(0u, a.FormatLength());
    EXPECT_EQ(nullptr, a.Format());
}

TEST(AllocatorTest, HandsOutBuffersWaitsForThemAndStopsOnDecommit) {
    ComPtr<IMemAllocator> alloc;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IMemAllocator, alloc.PutVoid()));
    ALLOCATOR_PROPERTIES req{2, 1000, 16, 0}, actual{};
    ASSERT_EQ(S_OK, alloc->SetProperties(&req, &actual));
    EXPECT_EQ(2, actual.cBuffers);
    EXPECT_GE(actual.cbBuffer, 1000);
    IMediaSample* s1 = nullptr;
    EXPECT_EQ(VFW_E_NOT_COMMITTED, alloc->GetBuffer(&s1, nullptr, nullptr, 0));
    ASSERT_EQ(S_OK, alloc->Commit());
    IMediaSample* s2 = nullptr;
    ASSERT_EQ(S_OK, alloc->GetBuffer(&s1, nullptr, nullptr, 0));
    ASSERT_EQ(S_OK, alloc->GetBuffer(&s2, nullptr, nullptr, 0));
    BYTE* p = nullptr;
    s1->GetPointer(&p);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(p) % 16);
    EXPECT_EQ(1000, s1->GetSize());
    IMediaSample* s3 = nullptr;
    EXPECT_EQ(VFW_E_TIMEOUT, alloc->GetBuffer(&s3, nullptr, nullptr, AM_GBF_NOWAIT));
    EXPECT_EQ(VFW_E_ALREADY_COMMITTED, alloc->SetProperties(&req, &actual));

    // Sample properties and their reset on reuse.
    REFERENCE_TIME t0 = 0, t1 = 0;
    EXPECT_EQ(VFW_E_SAMPLE_TIME_NOT_SET, s1->GetTime(&t0, &t1));
    REFERENCE_TIME a = 100, b = 200;
    s1->SetTime(&a, &b);
    s1->SetSyncPoint(TRUE);
    s1->SetDiscontinuity(TRUE);
    EXPECT_EQ(VFW_E_BUFFER_OVERFLOW, s1->SetActualDataLength(1001));
    EXPECT_EQ(S_OK, s1->SetActualDataLength(10));
    EXPECT_EQ(S_OK, s1->GetTime(&t0, &t1));
    EXPECT_EQ(100, t0);
    s1->SetTime(&a, nullptr);
    EXPECT_EQ(VFW_S_NO_STOP_TIME, s1->GetTime(&t0, &t1));
    EXPECT_EQ(101, t1);

    // A blocked GetBuffer wakes when a sample comes back.
    std::thread releaser([&] {
        Sleep(20);
        s1->Release();
    });
    ASSERT_EQ(S_OK, alloc->GetBuffer(&s3, nullptr, nullptr, 0));
    releaser.join();
    EXPECT_EQ(S_FALSE, s3->IsSyncPoint());
    EXPECT_EQ(S_FALSE, s3->IsDiscontinuity());
    EXPECT_EQ(VFW_E_SAMPLE_TIME_NOT_SET, s3->GetTime(&t0, &t1));

    // Decommit wakes a waiter with VFW_E_NOT_COMMITTED; samples still out stay valid.
    HRESULT waited = S_OK;
    std::thread waiter([&] {
        IMediaSample* s = nullptr;
        waited = alloc->GetBuffer(&s, nullptr, nullptr, 0);
    });
    Sleep(20);
    ASSERT_EQ(S_OK, alloc->Decommit());
    waiter.join();
    EXPECT_EQ(VFW_E_NOT_COMMITTED, waited);
    EXPECT_EQ(VFW_E_BUFFERS_OUTSTANDING, alloc->SetProperties(&req, &actual));
    s2->GetPointer(&p);
    p[999] = 1;  // still ours until released
    s2->Release();
    s3->Release();
    ASSERT_EQ(S_OK, alloc->SetProperties(&req, &actual));
}

namespace {

class Worker final : public CAMThread {
  public:
    DWORD ThreadProc() override {
        for (;;) {
            DWORD c = GetRequest();
            handled.push_back(c);
            Reply(c * 10);
            if (c == 0) return 0;
        }
    }
    std::vector<DWORD> handled;
};

class Seeker final : public CSourceSeeking {
  public:
    Seeker() : CSourceSeeking(TEXT("seek"), nullptr, nullptr, &lock_) {
        m_rtDuration = m_rtStop = 1000;
        NonDelegatingAddRef();
    }
    HRESULT ChangeStart() override {
        ++starts;
        return S_OK;
    }
    HRESULT ChangeStop() override {
        ++stops;
        return S_OK;
    }
    HRESULT ChangeRate() override { return m_dRateSeeking <= 0 ? E_INVALIDARG : S_OK; }
    int starts = 0, stops = 0;

  private:
    CCritSec lock_;
};

}  // namespace

TEST(ThreadHandshakeTest, CallWorkerWaitsForTheReply) {
    Worker w;
    EXPECT_EQ(static_cast<DWORD>(E_FAIL), w.CallWorker(1));  // no thread yet
    ASSERT_TRUE(w.Create());
    EXPECT_FALSE(w.Create());
    EXPECT_EQ(30u, w.CallWorker(3));
    EXPECT_EQ(70u, w.CallWorker(7));
    EXPECT_EQ(0u, w.CallWorker(0));
    w.Close();
    EXPECT_FALSE(w.ThreadExists());
    EXPECT_EQ((std::vector<DWORD>{3, 7, 0}), w.handled);
}

TEST(SourceSeekingTest, PositionFlagsAndNotifications) {
    Seeker s;
    LONGLONG cur = 100, stop = 900;
    EXPECT_EQ(S_OK, s.SetPositions(&cur, AM_SEEKING_AbsolutePositioning, &stop,
                                   AM_SEEKING_AbsolutePositioning));
    EXPECT_EQ(1, s.starts);
    EXPECT_EQ(1, s.stops);
    LONGLONG c = 0, t = 0;
    s.GetPositions(&c, &t);
    EXPECT_EQ(100, c);
    EXPECT_EQ(900, t);
    cur = 50;
    EXPECT_EQ(S_OK, s.SetPositions(&cur, AM_SEEKING_RelativePositioning, nullptr,
                                   AM_SEEKING_NoPositioning));
    stop = 10;
    EXPECT_EQ(S_OK, s.SetPositions(nullptr, AM_SEEKING_NoPositioning, &stop,
                                   AM_SEEKING_IncrementalPositioning));
    s.GetPositions(&c, &t);
    EXPECT_EQ(150, c);
    EXPECT_EQ(160, t);
    EXPECT_EQ(2, s.starts);  // only calls that moved the start
    EXPECT_EQ(E_INVALIDARG, s.SetPositions(&cur, AM_SEEKING_IncrementalPositioning, nullptr, 0));
    EXPECT_EQ(E_POINTER, s.SetPositions(nullptr, AM_SEEKING_AbsolutePositioning, nullptr, 0));
    EXPECT_EQ(E_INVALIDARG, s.SetPositions(nullptr, 0, &stop,
                                           AM_SEEKING_AbsolutePositioning | AM_SEEKING_Segment));
    DWORD caps = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanPlayBackwards;
    EXPECT_EQ(S_FALSE, s.CheckCapabilities(&caps));
    EXPECT_EQ(static_cast<DWORD>(AM_SEEKING_CanSeekAbsolute), caps);
    GUID frames = {0x7b785570, 0x8c82, 0x11cf, {0xbc, 0x0c, 0x00, 0xaa, 0x00, 0xac, 0x74, 0xf6}};
    EXPECT_EQ(E_INVALIDARG, s.SetTimeFormat(&frames));
    EXPECT_EQ(S_FALSE, s.IsFormatSupported(&frames));
    LONGLONG out = 0;
    EXPECT_EQ(E_INVALIDARG, s.ConvertTimeFormat(&out, &frames, 5, &TIME_FORMAT_MEDIA_TIME));
    EXPECT_EQ(E_INVALIDARG, s.SetRate(-1.0));
}

TEST(AsyncReaderTest, ReadsSynchronouslyAndThroughRequests) {
    avs::test::TempRegistry tmp;
    std::string path = tmp.Dir() + "/bytes.bin";
    std::string content(300, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
    std::ofstream(path, std::ios::binary) << content;

    ComPtr<IBaseFilter> reader;
    ASSERT_EQ(S_OK, avs::dshow::CreateAsyncFileReader(reader.Put()));
    EXPECT_EQ(0u, avs::dshow::FilterPins(reader.Get()).size());  // no pin before Load
    auto fs = reader.As<IFileSourceFilter>(IID_IFileSourceFilter);
    EXPECT_EQ(HRESULT_FILE_NOT_FOUND, fs->Load(avs::com::Widen(path + ".none").c_str(), nullptr));
    ASSERT_EQ(S_OK, fs->Load(avs::com::Widen(path).c_str(), nullptr));
    LPOLESTR name = nullptr;
    ASSERT_EQ(S_OK, fs->GetCurFile(&name, nullptr));
    EXPECT_EQ(avs::com::Widen(path), name);
    CoTaskMemFree(name);
    auto pin = avs::dshow::FirstPin(reader.Get(), PINDIR_OUTPUT);
    auto async = pin.As<IAsyncReader>(IID_IAsyncReader);
    ASSERT_TRUE(async);
    LONGLONG total = 0, avail = 0;
    ASSERT_EQ(S_OK, async->Length(&total, &avail));
    EXPECT_EQ(300, total);
    BYTE buf[64];
    ASSERT_EQ(S_OK, async->SyncRead(10, 25, buf));
    EXPECT_EQ(0, std::memcmp(buf, content.data() + 10, 25));
    EXPECT_EQ(S_FALSE, async->SyncRead(290, 20, buf));  // short read at the end
    EXPECT_EQ(0, std::memcmp(buf, content.data() + 290, 10));
    EXPECT_EQ(E_INVALIDARG, async->SyncRead(-1, 4, buf));

    ALLOCATOR_PROPERTIES props{2, 64, 1, 0};
    ComPtr<IMemAllocator> alloc;
    ASSERT_EQ(S_OK, async->RequestAllocator(nullptr, &props, alloc.Put()));
    ASSERT_EQ(S_OK, alloc->Commit());
    IMediaSample* s = nullptr;
    ASSERT_EQ(S_OK, alloc->GetBuffer(&s, nullptr, nullptr, 0));
    REFERENCE_TIME start = 100 * UNITS, stop = 164 * UNITS;
    s->SetTime(&start, &stop);
    ASSERT_EQ(S_OK, async->Request(s, 77));
    IMediaSample* done = nullptr;
    DWORD_PTR user = 0;
    ASSERT_EQ(S_OK, async->WaitForNext(1000, &done, &user));
    EXPECT_EQ(s, done);
    EXPECT_EQ(77u, user);
    BYTE* p = nullptr;
    done->GetPointer(&p);
    EXPECT_EQ(64, done->GetActualDataLength());
    EXPECT_EQ(0, std::memcmp(p, content.data() + 100, 64));
    EXPECT_EQ(VFW_E_TIMEOUT, async->WaitForNext(10, &done, &user));
    async->BeginFlush();
    EXPECT_EQ(VFW_E_WRONG_STATE, async->Request(s, 1));
    EXPECT_EQ(VFW_E_WRONG_STATE, async->WaitForNext(INFINITE, &done, &user));
    async->EndFlush();
    s->Release();
    alloc->Decommit();
}
