#include "process/command_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace avs::process {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(SplitCommandLine, BlanksSeparateAndQuotesGroup) {
    EXPECT_THAT(SplitCommandLine(""), IsEmpty());
    EXPECT_THAT(SplitCommandLine(" \t "), IsEmpty());
    EXPECT_THAT(SplitCommandLine("prog a\tb   c "), ElementsAre("prog", "a", "b", "c"));
    // The front-end's video line: two blanks after the quoted path, option values bare.
    EXPECT_THAT(
        SplitCommandLine(
            R"("/opt/t/Harrowgate" "/v/my clip.avi" "/o/my clip.avi.avs"  -c 1 -n 24.000000)"),
        ElementsAre("/opt/t/Harrowgate", "/v/my clip.avi", "/o/my clip.avi.avs", "-c", "1", "-n",
                    "24.000000"));
    // Quotes may open and close in the middle of an argument.
    EXPECT_THAT(SplitCommandLine(R"(p a"b c"d "e"f)"), ElementsAre("p", "ab cd", "ef"));
    // An empty pair is an empty argument; an unclosed quote runs to the end.
    EXPECT_THAT(SplitCommandLine(R"(p "" x "open ended)"), ElementsAre("p", "", "x", "open ended"));
}

TEST(SplitCommandLine, BackslashesBeforeQuotes) {
    // Backslashes not followed by a quote stay as they are.
    EXPECT_THAT(SplitCommandLine(R"(p C:\dir\file a\\b)"),
                ElementsAre("p", R"(C:\dir\file)", R"(a\\b)"));
    // 2n+1 backslashes before a quote: n backslashes and a literal quote.
    EXPECT_THAT(SplitCommandLine(R"(p a\"b \\\"c)"), ElementsAre("p", R"(a"b)", R"(\"c)"));
    // 2n backslashes before a quote: n backslashes, and the quote toggles quoting.
    EXPECT_THAT(SplitCommandLine(R"(p "a\\" b)"), ElementsAre("p", R"(a\)", "b"));
    EXPECT_THAT(SplitCommandLine(R"(p "a\\\\"b c)"), ElementsAre("p", R"(a\\b)", "c"));
    // A quoted Windows folder with a trailing backslash swallows the closing quote.
    EXPECT_THAT(SplitCommandLine(R"(p "D:\out\" x)"), ElementsAre("p", R"(D:\out" x)"));
}

TEST(SplitCommandLine, DoubledQuotesInsideQuotes) {
    EXPECT_THAT(SplitCommandLine(R"(p "say ""hi"" now" z)"),
                ElementsAre("p", R"(say "hi" now)", "z"));
    // Outside quotes a pair is just an empty quoted piece.
    EXPECT_THAT(SplitCommandLine(R"(p a""b)"), ElementsAre("p", "ab"));
}

TEST(SplitCommandLine, ProgramNameTakesBackslashesLiterally) {
    EXPECT_THAT(SplitCommandLine(R"("C:\Tools\" next)"), ElementsAre(R"(C:\Tools\)", "next"));
    EXPECT_THAT(SplitCommandLine(R"(  "/my tools/run"x arg)"),
                ElementsAre("/my tools/runx", "arg"));
    EXPECT_THAT(SplitCommandLine(R"(a\"b c)"), ElementsAre(R"(a\b c)"));
}

}  // namespace
}  // namespace avs::process
