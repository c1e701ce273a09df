// The filter's parts on their own: media type blocks byte by byte, the sync
// test, the queue under two threads, the bit-rate log, the pin's hold-one rule.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "avs/sequence_header.h"
#include "avs/tables.h"
#include "filtermodule/module_ids.h"
#include "rtspstream/bitrate_log.h"
#include "rtspstream/rtsp_video_stream.h"
#include "rtspstream/sample_queue.h"
#include "rtspstream/stream_media_types.h"
#include "tests/rtspstream/graph_harness.h"

namespace {

using namespace rtspstream;
using Bytes = std::vector<uint8_t>;

template <typename T>
T At(const BYTE* block, size_t offset) {
    T v;
    std::memcpy(&v, block + offset, sizeof v);
    return v;
}

TEST(TallowmereMediaTypes, VideoBlockFromTheSequenceHeader) {
    Bytes file = rtspstreamtest::ReadRange(rtspstreamtest::SampleAvs(), 0, 64);
    avs::AvsSequenceHeader header;
    ASSERT_TRUE(avs::DecodeSequenceHeaderFixed(file.data(), file.size(), header));
    CMediaType mt;
    ASSERT_EQ(BuildVideoMediaType(header, &mt), S_OK);
    EXPECT_EQ(*mt.Type(), MEDIATYPE_Video);
    EXPECT_EQ(mt.subtype.Data1, 0x76C8D32Eu);
    EXPECT_EQ(mt.formattype.Data1, 0x1DE03E23u);
    ASSERT_EQ(mt.FormatLength(), 122u);
    const BYTE* b = mt.Format();
    EXPECT_EQ(At<int32_t>(b, 0), 0);
    EXPECT_EQ(At<int32_t>(b, 8), 352);  // rcSource.right
    EXPECT_EQ(At<int32_t>(b, 12), 288);
    EXPECT_EQ(At<uint32_t>(b, 32), 500u);   // the sample says 200 kbit/s, in 400 bit/s units
    EXPECT_EQ(At<int64_t>(b, 40), 400000);  // 25 pictures/s
    EXPECT_EQ(At<uint32_t>(b, 48), 40u);
    EXPECT_EQ(At<int32_t>(b, 52), 352);
    EXPECT_EQ(At<int32_t>(b, 56), 288);
    EXPECT_EQ(At<uint16_t>(b, 60), 1);
    EXPECT_EQ(At<uint16_t>(b, 62), 16);
    EXPECT_EQ(At<uint32_t>(b, 64), 0u);
    EXPECT_EQ(At<int32_t>(b, 72), 2000);
    EXPECT_EQ(At<int32_t>(b, 76),
              MulDiv(2000, avs::kPelAspectTable[header.aspect_ratio_information], 10000));
    EXPECT_EQ(At<uint32_t>(b, 88), 0u);
    EXPECT_EQ(At<uint32_t>(b, 92), 18u);
    EXPECT_EQ(Bytes(b + 96, b + 114), Bytes(file.begin(), file.begin() + 18));
    EXPECT_EQ(Bytes(b + 114, b + 122), Bytes(8, 0));
    EXPECT_EQ(CheckVideoMediaType(&mt), S_OK);
    mt.subtype = MEDIASUBTYPE_AVS2;
    EXPECT_EQ(CheckVideoMediaType(&mt), E_INVALIDARG);

    // A zeroed header still gives a well-formed block.
    ASSERT_EQ(BuildVideoMediaType(avs::AvsSequenceHeader{}, &mt), S_OK);
    EXPECT_EQ(At<int64_t>(mt.Format(), 40), 0);
}

TEST(TallowmereMediaTypes, AudioBlock) {
    AudioFormatRecord record;
    record.w_format_tag = 0;
    record.n_samples_per_sec = 90000;
    record.n_avg_bytes_per_sec = 16000;
    CMediaType mt;
    ASSERT_EQ(BuildAudioMediaType(record, &mt), S_OK);
    EXPECT_EQ(*mt.Type(), MEDIATYPE_Audio);
    EXPECT_EQ(mt.subtype, MEDIASUBTYPE_MPEG1AudioPayload);
    EXPECT_EQ(*mt.FormatType(), FORMAT_WaveFormatEx);
    ASSERT_EQ(mt.FormatLength(), 40u);
    const BYTE* b = mt.Format();
    EXPECT_EQ(At<uint16_t>(b, 0), 0x50);
    EXPECT_EQ(At<uint16_t>(b, 2), 2);
    EXPECT_EQ(At<uint32_t>(b, 4), 90000u);
    EXPECT_EQ(At<uint32_t>(b, 8), 16000u);
    EXPECT_EQ(At<uint16_t>(b, 12), 1);
    EXPECT_EQ(At<uint16_t>(b, 14), 0);
    EXPECT_EQ(At<uint16_t>(b, 16), 22);
    EXPECT_EQ(At<uint16_t>(b, 18), 2);
    EXPECT_EQ(At<uint32_t>(b, 20), 128000u);
    EXPECT_EQ(At<uint16_t>(b, 24), 1);
    EXPECT_EQ(At<uint16_t>(b, 26), 16);
    EXPECT_EQ(At<uint16_t>(b, 28), 1);
    EXPECT_EQ(At<uint16_t>(b, 30), 0x18);
    EXPECT_EQ(At<uint64_t>(b, 32), 0u);
    EXPECT_EQ(CheckAudioMediaType(&mt, 0x50), S_OK);
    EXPECT_EQ(CheckAudioMediaType(&mt, 0x55), E_INVALIDARG);
}

TEST(TallowmereParts, IntraPictureMustStartFiveBytesBeforeTheEnd) {
    const Bytes at_start{0, 0, 1, 0xB3, 9};
    const Bytes too_late{9, 0, 0, 1, 0xB3};
    const Bytes p_picture{0, 0, 1, 0xB6, 9, 0, 0, 1, 0xB3};
    const Bytes later{7, 7, 0, 0, 1, 0xB3, 1, 2};
    EXPECT_TRUE(HoldsIntraPicture(at_start.data(), 5));
    EXPECT_FALSE(HoldsIntraPicture(too_late.data(), 5));
    EXPECT_FALSE(HoldsIntraPicture(at_start.data(), 4));
    EXPECT_FALSE(HoldsIntraPicture(p_picture.data(), 9));
    EXPECT_TRUE(HoldsIntraPicture(later.data(), 8));

    // Buffers dense in 00, 01 and B3 against a plain search over every position.
    std::mt19937 random(7);
    const uint8_t alphabet[] = {0x00, 0x01, 0xB3, 0x42};
    for (int round = 0; round < 20000; ++round) {
        Bytes bytes(1 + random() % 24);
        for (auto& b : bytes) b = alphabet[random() % 4];
        bool expected = false;
        for (size_t i = 0; i + 5 <= bytes.size(); ++i)
            expected = expected || (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 &&
                                    bytes[i + 3] == 0xB3);
        ASSERT_EQ(HoldsIntraPicture(bytes.data(), static_cast<uint32_t>(bytes.size())), expected)
            << "round " << round;
    }
}

// A producer and a consumer on one queue: every sample once, in order, and
// the byte total back at 0 (ThreadSanitizer watches the locking).
TEST(TallowmereParts, QueueBetweenTwoThreads) {
    SampleQueue queue;
    constexpr int kCount = 20000;
    std::thread producer([&] {
        for (int i = 0; i < kCount; ++i) {
            auto s = std::make_unique<QueuedSample>();
            s->bytes.assign(1 + i % 7, static_cast<uint8_t>(i));
            s->start = i;
            queue.Push(std::move(s));
        }
    });
    int next = 0;
    while (next < kCount) {
        auto s = queue.Pop();
        if (!s) {
            std::this_thread::yield();
            continue;
        }
        ASSERT_EQ(s->start, next);
        ASSERT_EQ(s->bytes.size(), static_cast<size_t>(1 + next % 7));
        ++next;
    }
    producer.join();
    EXPECT_EQ(queue.TotalBytes(), 0u);
    EXPECT_EQ(queue.Count(), 0u);
    auto s = std::make_unique<QueuedSample>();
    s->bytes.resize(100);
    queue.Push(std::move(s));
    EXPECT_EQ(queue.TotalBytes(), 100u);
    queue.Flush();
    EXPECT_EQ(queue.TotalBytes(), 0u);
    EXPECT_FALSE(queue.Pop());
}

namespace {

std::unique_ptr<QueuedSample> SampleOf(size_t size, int64_t start) {
    auto s = std::make_unique<QueuedSample>();
    s->bytes.assign(size, static_cast<uint8_t>(start));
    s->start = start;
    return s;
}

double SecondsSince(std::chrono::steady_clock::time_point began) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
}

}  // namespace

// The queue as the receive thread and a worker meet it: a push waits for room,
// a pop waits for a frame, and a stop or a flush ends either wait at once. Every
// wait below is far longer than a wake should take, so a lost wake-up fails it.
TEST(TallowmereParts, BlockingQueueWaitsAndWakes) {
    using namespace std::chrono_literals;
    constexpr auto kLong = 20s;

    // A small limit against a fast producer: every frame once, in order, and
    // the push never went past the limit by more than the one frame it added.
    {
        SampleQueue queue(16);
        constexpr int kCount = 5000;
        std::atomic<uint64_t> worst{0};
        std::thread producer([&] {
            for (int i = 0; i < kCount; ++i) {
                ASSERT_TRUE(queue.Push(SampleOf(1 + i % 5, i)));
                uint64_t now = queue.TotalBytes();
                if (now > worst) worst = now;
            }
        });
        for (int next = 0; next < kCount; ++next) {
            auto s = queue.WaitPop(kLong);
            ASSERT_TRUE(s) << "no frame " << next;
            ASSERT_EQ(s->start, next);
            ASSERT_EQ(s->bytes.size(), static_cast<size_t>(1 + next % 5));
        }
        producer.join();
        EXPECT_LT(worst.load(), 16u + 5u);
        EXPECT_EQ(queue.TotalBytes(), 0u);
    }

    // A push on a full queue waits; a stop releases it with the frame dropped.
    {
        SampleQueue queue(10);
        ASSERT_TRUE(queue.Push(SampleOf(10, 0)));
        std::atomic<bool> returned{false};
        bool pushed = true;
        std::thread pusher([&] {
            pushed = queue.Push(SampleOf(3, 1));
            returned = true;
        });
        std::this_thread::sleep_for(100ms);
        EXPECT_FALSE(returned.load()) << "a push on a full queue must wait";
        auto began = std::chrono::steady_clock::now();
        queue.Stop();
        pusher.join();
        EXPECT_LT(SecondsSince(began), 2.0);
        EXPECT_FALSE(pushed);
        EXPECT_EQ(queue.Count(), 1u);
        EXPECT_EQ(queue.TotalBytes(), 10u);
        // Stopped, a push with room still queues (the pin decides what it takes).
        queue.Flush();
        EXPECT_TRUE(queue.Push(SampleOf(4, 2)));
        EXPECT_EQ(queue.Count(), 1u);
        // Started again, a full queue makes a push wait again; a pop gives it room.
        queue.Start();
        ASSERT_TRUE(queue.Push(SampleOf(8, 3)));
        std::thread again([&] { pushed = queue.Push(SampleOf(1, 4)); });
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(queue.Count(), 2u);
        EXPECT_EQ(queue.Pop()->start, 2);
        again.join();
        EXPECT_TRUE(pushed);
        EXPECT_EQ(queue.Pop()->start, 3);
        EXPECT_EQ(queue.Pop()->start, 4);
    }

    // A flush releases a waiting push by making room: only the new frame is left.
    {
        SampleQueue queue(10);
        ASSERT_TRUE(queue.Push(SampleOf(12, 0)));
        bool pushed = false;
        std::thread pusher([&] { pushed = queue.Push(SampleOf(3, 1)); });
        std::this_thread::sleep_for(50ms);
        queue.Flush();
        pusher.join();
        EXPECT_TRUE(pushed);
        EXPECT_EQ(queue.Count(), 1u);
        EXPECT_EQ(queue.TotalBytes(), 3u);
        EXPECT_EQ(queue.Pop()->start, 1);
    }

    // A waiting pop wakes on a push, and a flush or a stop ends it empty-handed.
    {
        SampleQueue queue;
        HANDLE wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        ASSERT_NE(wake, nullptr);
        queue.SetWakeEvent(wake);
        std::unique_ptr<QueuedSample> got;
        std::thread popper([&] { got = queue.WaitPop(kLong); });
        std::this_thread::sleep_for(50ms);
        auto began = std::chrono::steady_clock::now();
        ASSERT_TRUE(queue.Push(SampleOf(5, 7)));
        popper.join();
        EXPECT_LT(SecondsSince(began), 2.0);
        ASSERT_TRUE(got);
        EXPECT_EQ(got->start, 7);
        // The push also set the worker's event, which waits with its commands.
        EXPECT_EQ(WaitForSingleObject(wake, 0), WAIT_OBJECT_0);

        std::thread flushed([&] { got = queue.WaitPop(kLong); });
        std::this_thread::sleep_for(50ms);
        began = std::chrono::steady_clock::now();
        queue.Flush();
        flushed.join();
        EXPECT_LT(SecondsSince(began), 2.0);
        EXPECT_FALSE(got);
        EXPECT_EQ(WaitForSingleObject(wake, 0), WAIT_OBJECT_0);

        std::thread stopped([&] { got = queue.WaitPop(kLong); });
        std::this_thread::sleep_for(50ms);
        began = std::chrono::steady_clock::now();
        queue.Stop();
        stopped.join();
        EXPECT_LT(SecondsSince(began), 2.0);
        EXPECT_FALSE(got);
        EXPECT_TRUE(queue.Stopped());
        EXPECT_EQ(WaitForSingleObject(wake, 0), WAIT_OBJECT_0);

        // Nothing comes: the pop gives up at its time-out, not before.
        queue.Start();
        began = std::chrono::steady_clock::now();
        EXPECT_FALSE(queue.WaitPop(100ms));
        EXPECT_GE(SecondsSince(began), 0.09);
        CloseHandle(wake);
    }
}

TEST(TallowmereParts, BitRateLogOnceAMinute) {
    std::string dir = ::testing::TempDir() + "bitrate_log/sub";
    std::filesystem::remove_all(::testing::TempDir() + "bitrate_log");
    std::string path = dir + "/VideoBitRate.log";
    BitRateLog log(path);
    log.Add(60000, 1000);  // starts the minute; its bytes count
    log.Add(75000, 30000);
    log.Add(10, 60999);  // not yet past 59999 ms
    log.Add(20, 61001);  // 135010 bytes in the minute: 18 kbit/s
    log.Add(7500, 100000);
    log.Add(0, 121002);  // 7520 bytes: 1 kbit/s, appended
    std::ifstream f(path);
    std::string text((std::istreambuf_iterator<char>(f)), {});
    EXPECT_EQ(text, "18\n1\n");

    BitRateLog nowhere("/proc/no/such/VideoBitRate.log");
    nowhere.Add(100, 1);
    nowhere.Add(100, 70000);  // cannot be opened: nothing written, no failure

    setenv("AVS_BITRATE_LOG", path.c_str(), 1);
    EXPECT_EQ(BitRateLogPath(), path);
    unsetenv("AVS_BITRATE_LOG");
    setenv("XDG_STATE_HOME", "/tmp/state", 1);
    EXPECT_EQ(BitRateLogPath(), "/tmp/state/avs-toolset/VideoBitRate.log");
}

// Frames of 4 bytes are ignored, 5 bytes are taken; each frame is queued when
// the next arrives, ending at its start; too long or stopped frames are refused.
TEST(TallowmereParts, VideoPinHoldsOneFrame) {
    rtspstreamtest::Player p;
    ASSERT_EQ(p.Load(rtspstreamtest::SampleAvs()), S_OK);
    p.Render();
    CRtspVideoStream* pin = p.filter->video_pin();
    ASSERT_TRUE(pin);
    pin->PrepareForPlay();
    const Bytes five{0, 0, 1, 0xB3, 1}, four{0, 0, 1, 0xB6};
    EXPECT_EQ(p.filter->Deliver(true, nullptr, 5, 0), -1);
    EXPECT_EQ(p.filter->Deliver(true, four.data(), 4, 0), 0);
    EXPECT_EQ(p.filter->Deliver(true, five.data(), 5, 0), 0);
    EXPECT_EQ(pin->queued_count(), 0u);
    EXPECT_EQ(p.filter->Deliver(true, five.data(), 5, 400000), 0);
    EXPECT_EQ(p.filter->Deliver(true, four.data(), 4, 600000), 0);
    EXPECT_EQ(p.filter->Deliver(true, five.data(), 5, 800000), 0);
    EXPECT_EQ(pin->queued_count(), 2u);
    EXPECT_EQ(pin->queued_bytes(), 10u);
    Bytes huge(kMaxFrameBytes + 1);
    EXPECT_EQ(p.filter->Deliver(true, huge.data(), static_cast<uint32_t>(huge.size()), 900000), 0);
    EXPECT_EQ(pin->queued_count(), 2u);
    EXPECT_EQ(p.filter->Deliver(false, five.data(), 5, 0), 0);  // no audio pin
    pin->StopDelivery();
    EXPECT_EQ(pin->queued_bytes(), 0u);
    EXPECT_EQ(p.filter->Deliver(true, five.data(), 5, 1200000), 0);
    EXPECT_EQ(pin->queued_count(), 0u);
}

}  // namespace
