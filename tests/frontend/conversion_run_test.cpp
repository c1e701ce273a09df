#include "frontend/conversion_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "fake_ui.h"
#include "stand_ins.h"

namespace avs::frontend {
namespace {

using ::testing::ElementsAre;
using testing::FakeUi;
using testing::FileExists;
using ::testing::IsEmpty;
using testing::ReadFile;
using testing::StandInDir;

const char kDefaultOptions[] =
    "-c|1|-p|1|-g|18|-q|24|-b|2|-a|0|-f|3|-o|0|-m|32|-t|1|-l|1|-n|24.000000";

class ConversionRunTest : public ::testing::Test {
  protected:
    RunResult Run(Target target, const ConversionSettings& settings = {}) {
        ChildRunner runner(ui_);
        ui_.on_pump = [&] {
            if (on_pump_) on_pump_(runner);
        };
        return RunConversion({target, settings, dir_.Path()}, runner, ui_, closing_);
    }

    StandInDir dir_;
    FakeUi ui_;
    bool closing_ = false;
    std::function<void(ChildRunner&)> on_pump_;
};

TEST_F(ConversionRunTest, EmptyListOnlyTellsTheUser) {
    EXPECT_EQ(Run(Target::kTransportStream), RunResult::kEmptyList);
    EXPECT_THAT(ui_.shown, ElementsAre("message Please Open Media File(s)!"));
    EXPECT_THAT(dir_.LogLines(), IsEmpty());
    EXPECT_TRUE(ui_.controls_enabled);
}

TEST_F(ConversionRunTest, TransportStreamRunInSortedOrder) {
    const std::string b = dir_.MakeSource("b.avi");
    const std::string a = dir_.MakeSource("a.avi");
    ui_.Add(b);
    ui_.Add(a);
    EXPECT_EQ(Run(Target::kTransportStream), RunResult::kFinished);
    const std::string opts = kDefaultOptions;
    EXPECT_THAT(
        dir_.LogLines(),
        ElementsAre("Harrowgate|" + a + "|" + a + ".avs|" + opts, "Quenby|" + a + "|" + a + ".mp3",
                    "Korvel|" + a + ".avs|" + a + ".mp3|" + a + ".dat|" + a + ".avsts",
                    "Harrowgate|" + b + "|" + b + ".avs|" + opts, "Quenby|" + b + "|" + b + ".mp3",
                    "Korvel|" + b + ".avs|" + b + ".mp3|" + b + ".dat|" + b + ".avsts"));
    for (const std::string& src : {a, b}) {
        EXPECT_EQ(ReadFile(src + ".avsts"),
                  "avs of " + src + "\nmp3 of " + src + "\ndat\n");  // Korvel got all three inputs
        EXPECT_FALSE(FileExists(src + ".avs"));
        EXPECT_FALSE(FileExists(src + ".mp3"));
        EXPECT_FALSE(FileExists(src + ".dat"));
    }
    EXPECT_THAT(ui_.files, IsEmpty());
    // Per source: 0, the encoder's 10 -> 9, 95, Quenby's 50 -> 97, 99, 100; at the end 0 and
    // "完成".
    const std::vector<std::string> one = {"bar 0",     "bar 9",   "label 9%",  "bar 95",
                                          "label 95%", "bar 97",  "label 97%", "bar 99",
                                          "label 99%", "bar 100", "label 100%"};
    std::vector<std::string> expected = one;
    expected.insert(expected.end(), one.begin(), one.end());
    expected.push_back("bar 0");
    expected.push_back("label 完成");
    EXPECT_EQ(ui_.Progress(), expected);
    EXPECT_EQ(ui_.shown.front(), "disable");
    EXPECT_EQ(ui_.shown[1], "range 0..100");
    EXPECT_EQ(ui_.shown.back(), "enable");
    EXPECT_FALSE(ui_.wait_cursor);
}

TEST_F(ConversionRunTest, ContainerRunIntoAnOutputFolder) {
    const std::string out = dir_.File("out");
    ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
    const std::string src = dir_.MakeSource("clip.avi");
    ui_.Add(src);
    const std::string base = out + "/clip.avi";
    testing::WriteFile(base + ".asm", "stale container\n");  // removed before the run
    ConversionSettings settings;
    settings.output_path = out;
    settings.width = 352;
    settings.height = 288;
    EXPECT_EQ(Run(Target::kContainer, settings), RunResult::kFinished);
    EXPECT_THAT(dir_.LogLines(), ElementsAre("Harrowgate|" + src + "|" + base +
                                                 ".avs|-w|352|-h|288|" + kDefaultOptions,
                                             "Quenby|" + src + "|" + base + ".mp3",
                                             "Lindqvale|" + base + ".avs|" + base + ".asm|-f",
                                             "Lindqvale|" + base + ".mp3|" + base + ".asm"));
    EXPECT_EQ(ReadFile(base + ".asm"), "avs of " + src + "\nmp3 of " + src + "\n");
    EXPECT_FALSE(FileExists(base + ".avs"));
    EXPECT_FALSE(FileExists(base + ".mp3"));
    EXPECT_FALSE(FileExists(base + ".dat"));
}

TEST_F(ConversionRunTest, TransportStreamRunKeepsAnEarlierContainer) {
    const std::string src = dir_.MakeSource("clip.avi");
    testing::WriteFile(src + ".asm", "earlier\n");
    ui_.Add(src);
    EXPECT_EQ(Run(Target::kTransportStream), RunResult::kFinished);
    EXPECT_EQ(ReadFile(src + ".asm"), "earlier\n");
}

TEST_F(ConversionRunTest, ExitDuringTheVideoStageOfTheSecondSource) {
    const std::string a = dir_.MakeSource("a.avi");
    const std::string hang = dir_.MakeSource("b_hang.avi");
    ui_.Add(a);
    ui_.Add(hang);
    on_pump_ = [&](ChildRunner& runner) {
        // Exit, as the dialog's handler does it, once the second encode is under way.
        if (ui_.FileAt(0) == hang && ReadFile(hang + ".avs").size() > 0 && !closing_) {
            closing_ = true;
            runner.TerminateRunning();
        }
    };
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(Target::kTransportStream), RunResult::kStopped);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
    const std::vector<std::string> log = dir_.LogLines();
    ASSERT_EQ(log.size(), 4u);  // a: three children; b: the encoder only, no audio stage
    EXPECT_EQ(log[3].substr(0, 11), "Harrowgate|");
    EXPECT_THAT(ui_.files, ElementsAre(hang));
    EXPECT_TRUE(FileExists(hang + ".avs"));  // partial files stay
    EXPECT_TRUE(FileExists(a + ".avsts"));
    EXPECT_FALSE(FileExists(a + ".avs"));
    EXPECT_FALSE(ui_.controls_enabled);  // the dialog is closing; nothing is re-enabled
    EXPECT_EQ(ui_.shown.back(), "label 95%");
}

// Every entry of a directory, by name.
std::vector<std::string> Listing(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(ConversionRunTest, APathTheQuotingCannotCarryIsRefusedAndStaysInTheList) {
    const std::string out = dir_.File("out");
    ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
    const std::string good = dir_.MakeSource("a.avi");
    const std::string quote = dir_.MakeSource("x\" \"y.avi");
    const std::string backslash = dir_.MakeSource("z\\");
    for (const std::string& src : {good, quote, backslash}) ui_.Add(src);
    const std::vector<std::string> start_dir_before = Listing(dir_.Path());
    ConversionSettings settings;
    settings.output_path = out;

    EXPECT_EQ(Run(Target::kTransportStream, settings), RunResult::kRefused);
    EXPECT_THAT(ui_.messages,
                ElementsAre("Cannot pass a path with a double quote or a trailing backslash to "
                            "the encoders: " +
                                quote,
                            "Cannot pass a path with a double quote or a trailing backslash to "
                            "the encoders: " +
                                backslash));
    // Only the good source reached the children, and only its result was written.
    const std::string base = out + "/a.avi";
    EXPECT_THAT(dir_.LogLines(),
                ElementsAre("Harrowgate|" + good + "|" + base + ".avs|" + kDefaultOptions,
                            "Quenby|" + good + "|" + base + ".mp3",
                            "Korvel|" + base + ".avs|" + base + ".mp3|" + base + ".dat|" + base +
                                ".avsts"));
    EXPECT_THAT(Listing(out), ElementsAre("a.avi.avsts"));
    std::vector<std::string> start_dir_after = start_dir_before;
    start_dir_after.push_back("log.txt");
    std::sort(start_dir_after.begin(), start_dir_after.end());
    EXPECT_EQ(Listing(dir_.Path()), start_dir_after);
    EXPECT_THAT(ui_.files, ElementsAre(quote, backslash));
    EXPECT_TRUE(ui_.controls_enabled);

    // An output folder with a quote spoils every base: all sources are refused, none runs.
    const std::string odd = dir_.File("o\"d");
    ASSERT_EQ(mkdir(odd.c_str(), 0755), 0);
    settings.output_path = odd;
    ui_.Add(good);
    ui_.messages.clear();
    EXPECT_EQ(Run(Target::kContainer, settings), RunResult::kRefused);
    EXPECT_EQ(ui_.messages.size(), 3u);
    EXPECT_EQ(dir_.LogLines().size(), 3u);
    EXPECT_THAT(Listing(odd), IsEmpty());
    EXPECT_EQ(ui_.files.size(), 3u);
}

TEST_F(ConversionRunTest, MissingChildren) {
    const std::string src = dir_.MakeSource("clip.avi");
    ui_.Add(src);
    dir_.Remove("Lindqvale");
    testing::WriteFile(src + ".asm", "stale\n");  // removed before the container stages
    // A missing waited child is passed over: the run goes on and cleans up.
    EXPECT_EQ(Run(Target::kContainer), RunResult::kFinished);
    EXPECT_THAT(ui_.messages, IsEmpty());
    EXPECT_FALSE(FileExists(src + ".asm"));
    EXPECT_FALSE(FileExists(src + ".avs"));
    EXPECT_THAT(ui_.files, IsEmpty());

    // A missing piped child ends the program at once.
    ui_.Add(src);
    dir_.Remove("Harrowgate");
    ui_.shown.clear();
    EXPECT_EQ(Run(Target::kTransportStream), RunResult::kFatal);
    EXPECT_THAT(ui_.messages, ElementsAre("Create Process failed!"));
    EXPECT_THAT(ui_.files, ElementsAre(src));
}

}  // namespace
}  // namespace avs::frontend
