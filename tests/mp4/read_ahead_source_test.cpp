#include "mp4/read_ahead_source.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// Fails the test when asked for bytes past its end; counts reads.
class StrictSource : public mp4::ByteSource {
  public:
    explicit StrictSource(std::vector<uint8_t> b) : bytes_(std::move(b)) {}
    uint64_t Size() override { return bytes_.size(); }
    size_t Read(void* buf, size_t n) override {
        ++reads;
        EXPECT_LE(pos_ + n, bytes_.size()) << "asked past the end";
        const size_t got = pos_ >= bytes_.size() ? 0 : std::min<size_t>(n, bytes_.size() - pos_);
        std::copy_n(bytes_.begin() + pos_, got, static_cast<uint8_t*>(buf));
        pos_ += got;
        return got;
    }
    void Seek(uint64_t p) override { pos_ = p; }
    int reads = 0;

  private:
    std::vector<uint8_t> bytes_;
    uint64_t pos_ = 0;
};

}  // namespace

TEST(ReadAheadSource, ServesReadsLikeItsSourceWithFewerInnerReads) {
    std::vector<uint8_t> bytes(100000);
    std::mt19937 rng(7);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    auto inner = std::make_shared<StrictSource>(bytes);
    mp4::ReadAheadSource src(inner, 4096);
    EXPECT_EQ(src.Size(), bytes.size());

    // Sequential small reads: one inner read per window.
    std::vector<uint8_t> got(100);
    for (size_t pos = 0; pos + 100 <= 40960; pos += 100) {
        src.Seek(pos);
        ASSERT_EQ(src.Read(got.data(), 100), 100u);
        ASSERT_TRUE(std::equal(got.begin(), got.end(), bytes.begin() + pos)) << pos;
    }
    EXPECT_LE(inner->reads, 11);

    // Random reads of every size, also across the end.
    for (int i = 0; i < 2000; ++i) {
        const size_t pos = rng() % (bytes.size() + 10);
        const size_t n = rng() % 6000;
        std::vector<uint8_t> buf(n);
        src.Seek(pos);
        const size_t want = pos >= bytes.size() ? 0 : std::min(n, bytes.size() - pos);
        ASSERT_EQ(src.Read(buf.data(), n), want) << pos << " " << n;
        ASSERT_TRUE(std::equal(buf.begin(), buf.begin() + want, bytes.begin() + pos));
    }
}

TEST(ReadAheadSource, ShortInnerReadsStayShort) {
    // An inner source that delivers nothing (as an upstream reader that failed).
    class Empty : public mp4::ByteSource {
      public:
        uint64_t Size() override { return 5000; }
        size_t Read(void*, size_t) override { return 0; }
        void Seek(uint64_t) override {}
    };
    mp4::ReadAheadSource src(std::make_shared<Empty>(), 1024);
    uint8_t buf[16];
    src.Seek(10);
    EXPECT_EQ(src.Read(buf, 16), 0u);
    EXPECT_EQ(src.Read(buf, 16), 0u);
}
