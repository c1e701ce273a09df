#include "frontend/child_command_lines.h"

#include <gtest/gtest.h>

#include "frontend/video_options.h"
#include "process/command_line.h"

namespace avs::frontend {
namespace {

TEST(SourceNames, BaseBesideTheSourceOrInTheOutputFolder) {
    SourceNames beside = DeriveSourceNames("/v/clip.avi", "");
    EXPECT_EQ(beside.name, "clip.avi");
    EXPECT_EQ(beside.base, "/v/clip.avi");
    EXPECT_EQ(beside.Avs(), "/v/clip.avi.avs");
    EXPECT_EQ(beside.Mp3(), "/v/clip.avi.mp3");
    EXPECT_EQ(beside.Dat(), "/v/clip.avi.dat");
    EXPECT_EQ(beside.Asm(), "/v/clip.avi.asm");
    EXPECT_EQ(beside.AvsTs(), "/v/clip.avi.avsts");

    EXPECT_EQ(DeriveSourceNames("/v/clip.avi", "/out").base, "/out/clip.avi");
    // Used as typed: a trailing separator doubles, a name without one is taken whole.
    EXPECT_EQ(DeriveSourceNames("/v/clip.avi", "/out/").base, "/out//clip.avi");
    EXPECT_EQ(DeriveSourceNames("clip.avi", "/out").base, "/out/clip.avi");
    // Same file name in two folders: the same output base.
    EXPECT_EQ(DeriveSourceNames("/a/x.avi", "/o").base, DeriveSourceNames("/b/x.avi", "/o").base);
}

TEST(ChildCommandLines, ExactTextOfEveryStage) {
    const SourceNames n = DeriveSourceNames("/v/clip.avi", "/out");
    const std::string dir = "/opt/tools";
    EXPECT_EQ(
        VideoCommandLine(dir, n, BuildVideoOptions({})),
        R"("/opt/tools/Harrowgate" "/v/clip.avi" "/out/clip.avi.avs"  -c 1 -p 1 -g 18 -q 24 -b 2 -a 0 -f 3 -o 0 -m 32 -t 1 -l 1 -n 24.000000)");
    EXPECT_EQ(AudioCommandLine(dir, n), R"("/opt/tools/Quenby" "/v/clip.avi" "/out/clip.avi.mp3")");
    EXPECT_EQ(ContainerVideoCommandLine(dir, n),
              R"("/opt/tools/Lindqvale" "/out/clip.avi.avs" "/out/clip.avi.asm" -f)");
    EXPECT_EQ(ContainerAudioCommandLine(dir, n),
              R"("/opt/tools/Lindqvale" "/out/clip.avi.mp3" "/out/clip.avi.asm")");
    EXPECT_EQ(
        MultiplexCommandLine(dir, n),
        R"("/opt/tools/Korvel" "/out/clip.avi.avs" "/out/clip.avi.mp3" "/out/clip.avi.dat" "/out/clip.avi.avsts")");
}

TEST(ChildCommandLines, PathsWithBlanksSurviveTheSplit) {
    const SourceNames n = DeriveSourceNames("/my media/a clip.avi", "");
    const auto args = process::SplitCommandLine(MultiplexCommandLine("/my tools", n));
    ASSERT_EQ(args.size(), 5u);
    EXPECT_EQ(args[0], "/my tools/Korvel");
    EXPECT_EQ(args[1], "/my media/a clip.avi.avs");
    EXPECT_EQ(args[4], "/my media/a clip.avi.avsts");
}

}  // namespace
}  // namespace avs::frontend
