#include "frontend/progress_stage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace avs::frontend {
namespace {

// Simulates one read into the buffer: its start is overwritten, the rest stays.
size_t Read(ReadBuffer& buffer, const std::string& bytes) {
    std::memcpy(buffer.data(), bytes.data(), bytes.size());
    return bytes.size();
}

std::optional<int> Scan(const std::string& bytes, const ProgressStage& stage) {
    ReadBuffer buffer{};
    const size_t n = Read(buffer, bytes);
    return ScanProgress(buffer, n, stage);
}

TEST(ScanProgress, VideoStage) {
    EXPECT_EQ(Scan("  7%\n", kVideoStage), 6);  // 7 x 0.95 = 6.65, truncated
    EXPECT_EQ(Scan("\t 42%\n", kVideoStage), 39);
    EXPECT_EQ(Scan("100%\n", kVideoStage), 95);
    EXPECT_EQ(Scan("  0%\n", kVideoStage), 0);
    EXPECT_EQ(Scan("50%\n", kVideoStage), std::nullopt);  // 4 bytes: too short to scan
    EXPECT_EQ(Scan(" 101%\n", kVideoStage), std::nullopt);
    EXPECT_EQ(Scan("99999999999999999999%\n", kVideoStage), std::nullopt);  // no overflow
    EXPECT_EQ(Scan("frame 12 done\n", kVideoStage), std::nullopt);
    // A '%' among the first three bytes: the number is read from the buffer's start.
    EXPECT_EQ(Scan("9%abcd\n", kVideoStage), 8);
    EXPECT_EQ(Scan("%abcde", kVideoStage), 0);
    // Only the last '%' of a burst counts.
    EXPECT_EQ(Scan("  10%\n  20%\n  30%\n", kVideoStage), 28);
    // Three characters before the '%' only: "x42" reads as nothing, so 0.
    EXPECT_EQ(Scan("ab x42%\n", kVideoStage), 0);
}

TEST(ScanProgress, AudioStageReadsTwoCharacters) {
    EXPECT_EQ(Scan("\rProgress:\t  42%", kAudioStage), 96);  // 95 + trunc(1.68)
    EXPECT_EQ(Scan("\rProgress:\t  99%", kAudioStage), 98);
    // The final line has no blanks: the two characters before '%' are "00".
    EXPECT_EQ(Scan("\rProgress:\t100%", kAudioStage), 95);
    EXPECT_EQ(Scan("7%\n", kAudioStage), std::nullopt);  // 3 bytes: too short
    EXPECT_EQ(Scan(" 7%\n", kAudioStage), 95);
}

TEST(ScanProgress, TextRunsToTheFirstZeroAndKeepsOlderBytes) {
    ReadBuffer buffer{};
    Read(buffer, "  30%   40%\n");
    // A shorter read leaves the end of the earlier one in place, and that '%' is the last.
    size_t n = Read(buffer, "  20%");
    EXPECT_EQ(ScanProgress(buffer, n, kVideoStage), 38);
    // A zero byte in the output ends the text.
    n = Read(buffer, std::string("  60%\0  80%", 11));
    EXPECT_EQ(ScanProgress(buffer, n, kVideoStage), 57);
    // The last byte always stays zero, so a full 80-byte read is still a bounded text.
    buffer.fill('x');
    buffer[kReadChunk] = 0;
    buffer[50] = '%';
    EXPECT_EQ(ScanProgress(buffer, kReadChunk, kVideoStage), 0);
}

}  // namespace
}  // namespace avs::frontend
