#include "device/upgrade_progress.h"

#include <gtest/gtest.h>

#include "base/result_codes.h"
#include "base/time_of_day.h"

namespace {

// A layout file that knows every key: shows which section/key a report looked up.
std::string Tagged(std::string_view section, std::string_view key, std::string_view) {
    return "[" + std::string(section) + "/" + std::string(key) + "]";
}

std::string Text(int stage, int seconds, int percent, int code) {
    return StatusCellText(stage, seconds, percent, code, DefaultText);
}

TEST(StatusCellTextTest, RunningStages) {
    EXPECT_EQ(Text(0, 0, 0, 0), "Waiting");
    EXPECT_EQ(Text(0, 125, 40, 0), "40% (Estimated time remaining:02:05)");
    EXPECT_EQ(Text(2, 3600, 75, 0), "75% (Estimated time remaining:60:00)");
    EXPECT_EQ(Text(31, 9, 99, 0), "99% (Estimated time remaining:00:09)");
    EXPECT_EQ(Text(3, 0, 25, 0), "Uploading file... Please wait a few minutes. (25%)");
    EXPECT_EQ(Text(3, 0, 0, 0), "Uploading file... Please wait a few minutes. (0%)");
    // Steps that outrun their estimate keep the running form, never a result.
    EXPECT_EQ(Text(0, -20, 100, 0), "100% (Estimated time remaining:00:00)");
}

TEST(StatusCellTextTest, FinalStage) {
    EXPECT_EQ(Text(32, 0, 100, rc::kTimeout), "Timeout");
    EXPECT_EQ(Text(32, 0, 100, rc::kHttpUnauthorized), "Password error");
    EXPECT_EQ(Text(32, 0, 100, rc::kHttpNotFound), "Not exists");
    EXPECT_EQ(Text(32, 0, 100, rc::kNoNewerImage), "The latest firmware");
    EXPECT_EQ(Text(32, 0, 100, rc::kLoginRefused),
              "Failed! Please check the username and password.");
    EXPECT_EQ(Text(32, 0, 100, rc::kImageRejected), "Failed! Please check the firmware file.");
    EXPECT_EQ(Text(32, 0, 100, rc::kOldFirmwareStill),
              "Failed! The device still runs the old firmware.");
    EXPECT_EQ(Text(32, 0, 100, rc::kNotSeenAgain), "Failed! Please check the network connection.");
    EXPECT_EQ(Text(32, 0, 100, rc::kFailed), "Failed! Please check the network connection.");
    EXPECT_EQ(Text(32, 0, 100, -999), "Failed! Please check the network connection.");
    EXPECT_EQ(Text(32, 0, 100, 0), "Firmware upgrade successful.");
    EXPECT_EQ(Text(32, 0, 100, 5), "Firmware upgrade successful.");
}

TEST(StatusCellTextTest, IntermediateStepsWithoutTimeShowTheSuccessText) {
    EXPECT_EQ(Text(1, 0, 100, rc::kLoginRefused), "Firmware upgrade successful.");
    EXPECT_EQ(Text(2, 0, 100, rc::kFailed), "Firmware upgrade successful.");
}

// The CLI prints every report: one before the final one must not claim success.
TEST(StatusCellTextTest, ProgressLinesBeforeTheEndNeverClaimSuccess) {
    const struct {
        int Stage;
        int Seconds;
        int Code;
        const char* Text;
    } cases[] = {
        {1, 0, rc::kLoginRefused, "Failed! Please check the username and password."},
        {1, 0, rc::kNoHttpUpgrade, "Failed! The camera does not take firmware over the network."},
        {2, 0, rc::kImageRejected, "Failed! Please check the firmware file."},
        {2, 0, rc::kFailed, "Failed! Please check the network connection."},
        {2, 0, rc::kOk, ""},
        {31, 0, rc::kOk, ""},
        // What the page shows anyway: the running forms and the final texts.
        {2, 150, rc::kOk, "50% (Estimated time remaining:02:30)"},
        {0, 0, rc::kOk, "Waiting"},
        {3, 0, rc::kOk, "Uploading file... Please wait a few minutes. (40%)"},
        {32, 0, rc::kOk, "Firmware upgrade successful."},
        {32, 0, rc::kLoginRefused, "Failed! Please check the username and password."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "stage " << c.Stage << " code " << c.Code);
        const int percent = c.Stage == 3 ? 40 : c.Seconds > 0 ? 50 : 100;
        EXPECT_EQ(ProgressLineText({"D", c.Stage, c.Seconds, percent, c.Code, {}}, DefaultText),
                  c.Text);
    }
}

TEST(StatusCellTextTest, TextsComeFromTheLayoutKeys) {
    EXPECT_EQ(StatusCellText(0, 0, 0, 0, Tagged), "[Upgrade1Page/WaitingStatus]");
    EXPECT_EQ(StatusCellText(0, 61, 10, 0, Tagged), "10% ([Upgrade1Page/RemainTime]01:01)");
    EXPECT_EQ(StatusCellText(3, 0, 50, 0, Tagged), "[ErrorCode/Code_Uploading] (50%)");
    EXPECT_EQ(StatusCellText(32, 0, 100, -2, Tagged), "[Upgrade1Page/TimeoutStatus]");
    EXPECT_EQ(StatusCellText(32, 0, 100, -301, Tagged), "[Upgrade1Page/PWErrorStatus]");
    EXPECT_EQ(StatusCellText(32, 0, 100, -101, Tagged), "[Upgrade1Page/NotExistsStatus]");
    EXPECT_EQ(StatusCellText(32, 0, 100, -503, Tagged), "[Upgrade1Page/LatestFirmwareStatus]");
    EXPECT_EQ(StatusCellText(32, 0, 100, -304, Tagged), "[ErrorCode/Code_304]");
    EXPECT_EQ(StatusCellText(32, 0, 100, -406, Tagged), "[ErrorCode/Code_406]");
    EXPECT_EQ(StatusCellText(32, 0, 100, -408, Tagged), "[ErrorCode/Code_408]");
    EXPECT_EQ(StatusCellText(32, 0, 100, -999, Tagged), "[ErrorCode/Code_Other]");
    EXPECT_EQ(StatusCellText(32, 0, 100, 5, Tagged), "[Upgrade1Page/FWUPGSuccess]");
}

// The batch guards' texts: a device not started says why, with the window's end as the
// local clock shows it; a late return is a success of its own.
TEST(StatusCellTextTest, NotStartedAndLateReturnTexts) {
    EXPECT_EQ(Text(32, 0, 100, rc::kFirstOfModelFailed),
              "Not started: the first device of this model failed.");
    EXPECT_EQ(Text(32, 0, 100, rc::kTooManyFailures), "Not started: too many devices failed.");
    EXPECT_EQ(Text(32, 0, 100, rc::kReturnedLate), "Firmware upgrade successful (returned late).");
    const int64_t end = 1796850000;
    const std::string until = HourMinuteText(end);
    ASSERT_EQ(until.size(), 5u);
    EXPECT_EQ(StatusCellText({"A", 32, 0, 100, rc::kPastWindow, {}, end}, DefaultText),
              "Not started: it would not finish before " + until + ".");
    // A translation may name the time anywhere, or twice.
    const TextLookup twice = [](std::string_view, std::string_view, std::string_view) {
        return std::string("%s! (%s)");
    };
    EXPECT_EQ(StatusCellText(32, 0, 100, rc::kPastWindow, twice, end), until + "! (" + until + ")");
    EXPECT_EQ(StatusCellText(32, 0, 100, -601, Tagged), "[ErrorCode/Code_601]");
    EXPECT_EQ(StatusCellText(32, 0, 100, -602, Tagged), "[ErrorCode/Code_602]");
    EXPECT_EQ(StatusCellText(32, 0, 100, -603, Tagged), "[ErrorCode/Code_603]");
    EXPECT_EQ(StatusCellText(32, 0, 100, 601, Tagged), "[ErrorCode/Code_ReturnedLate]");
    EXPECT_TRUE(rc::IsNotStarted(rc::kPastWindow) && rc::IsNotStarted(rc::kFirstOfModelFailed));
    EXPECT_FALSE(rc::IsNotStarted(rc::kNoNewerImage) || rc::IsNotStarted(rc::kReturnedLate));
}

}  // namespace
