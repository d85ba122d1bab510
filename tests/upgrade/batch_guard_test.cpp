// The guards of a batch, step by step: the first device of each model, the limit of
// failures, the window; the rate that estimates a device's time; the confirmation's plan;
// and the time of day a window ends at.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "base/result_codes.h"
#include "base/time_of_day.h"
#include "upgrade/batch_guard.h"
#include "upgrade/batch_plan.h"

namespace {

constexpr int64_t kNow = 1796793494;

// One step of a run: ask whether a device may start (and, when it may, start it), or end
// a started device with a code.
struct Step {
    enum Kind { Ask, End } Do;
    const char* Device;
    int Code = 0;  // End: the final code; Ask: the expected refusal code (with Refuse)
    BatchVerdict Expect = BatchVerdict::Start;
};

// The model is the device name's first letter: A1 and A2 are of one model.
BatchCandidate Candidate(const std::string& device) {
    return {device, std::string(1, device[0]), 0, 0};
}

void RunSteps(BatchGuard& guard, const std::vector<Step>& steps, const std::string& name) {
    const UploadRate rate;
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& s = steps[i];
        if (s.Do == Step::End) {
            guard.Ended(s.Device, s.Code);
            continue;
        }
        const BatchDecision d = guard.Decide(Candidate(s.Device), kNow, rate);
        EXPECT_EQ(d.Verdict, s.Expect) << name << ", step " << i << " (" << s.Device << ")";
        if (s.Expect == BatchVerdict::Refuse) {
            EXPECT_EQ(d.Code, s.Code) << name << ", step " << i;
        }
        if (d.Verdict == BatchVerdict::Start) guard.Started(Candidate(s.Device));
    }
}

constexpr auto kStart = BatchVerdict::Start;
constexpr auto kHold = BatchVerdict::Hold;
constexpr auto kRefuse = BatchVerdict::Refuse;

TEST(BatchGuardTest, FirstOfEachModelGoesAloneAndDecidesForItsModel) {
    struct Case {
        const char* Name;
        std::vector<Step> Steps;
    };
    const Case cases[] = {
        {"the rest of a model wait for its first; other models do not",
         {{Step::Ask, "A1"},
          {Step::Ask, "A2", 0, kHold},
          {Step::Ask, "B1"},
          {Step::Ask, "B2", 0, kHold},
          {Step::End, "A1", 0},
          {Step::Ask, "A2"},
          {Step::Ask, "A3"},
          {Step::Ask, "B2", 0, kHold}}},
        {"a failed first stops its model only",
         {{Step::Ask, "A1"},
          {Step::Ask, "B1"},
          {Step::End, "A1", rc::kImageRejected},
          {Step::Ask, "A2", rc::kFirstOfModelFailed, kRefuse},
          {Step::Ask, "B2", 0, kHold},
          {Step::End, "B1", rc::kReturnedLate},  // a success code too
          {Step::Ask, "B2"}}},
        {"a first stopped by the user hands the turn on",
         {{Step::Ask, "A1"},
          {Step::End, "A1", rc::kCancelled},
          {Step::Ask, "A2"},
          {Step::Ask, "A3", 0, kHold}}},
        {"a later device's failure does not refuse its model",
         {{Step::Ask, "A1"},
          {Step::End, "A1", 0},
          {Step::Ask, "A2"},
          {Step::End, "A2", rc::kNotSeenAgain},
          {Step::Ask, "A3"}}},
    };
    for (const Case& c : cases) {
        BatchGuard guard({.FirstOfEachModel = true});
        RunSteps(guard, c.Steps, c.Name);
    }
    // Models are the same without regard to case and blanks.
    BatchGuard guard({.FirstOfEachModel = true});
    const UploadRate rate;
    guard.Started({"x", "NVR-1600", 0, 0});
    EXPECT_EQ(guard.Decide({"y", " nvr-1600 ", 0, 0}, kNow, rate).Verdict, kHold);
    EXPECT_EQ(guard.Decide({"z", "", 0, 0}, kNow, rate).Verdict, kStart);
}

// With a limit of N failures, the uploads in flight and the failures together never pass
// N, so the run never loses more than N devices.
TEST(BatchGuardTest, MaxFailuresHoldsWhatCouldFailAndRefusesOnceReached) {
    BatchGuard guard({.MaxFailures = 2});
    RunSteps(guard,
             {{Step::Ask, "A1"},
              {Step::Ask, "B1"},
              {Step::Ask, "C1", 0, kHold},  // two in flight could both fail
              {Step::End, "A1", 0},
              {Step::Ask, "C1"},
              {Step::End, "B1", rc::kCancelled},  // stopped by the user: no failure
              {Step::Ask, "D1"},
              {Step::End, "C1", rc::kImageRejected},
              {Step::Ask, "E1", 0, kHold},  // one failure left, one in flight
              {Step::End, "D1", rc::kNotSeenAgain},
              {Step::Ask, "E1", rc::kTooManyFailures, kRefuse},
              {Step::End, "E1", rc::kImageRejected}},  // never started: ignored
             "limit 2");
    EXPECT_EQ(guard.Failures(), 2);

    BatchGuard none;  // no limit: any number at once, failures counted all the same
    RunSteps(none, {{Step::Ask, "A1"}, {Step::Ask, "B1"}, {Step::End, "A1", -1}, {Step::Ask, "C1"}},
             "no limit");
    EXPECT_EQ(none.Failures(), 1);

    // Too many failures is told before a failed first of the model.
    BatchGuard both({.FirstOfEachModel = true, .MaxFailures = 1});
    RunSteps(both,
             {{Step::Ask, "A1"},
              {Step::End, "A1", -1},
              {Step::Ask, "A2", rc::kTooManyFailures, kRefuse}},
             "both guards");
}

TEST(BatchGuardTest, WindowFitsTheImageAtTheMeasuredRateAndTheWait) {
    UploadRate rate;
    EXPECT_EQ(rate.BytesPerSecond(), UploadRate::kDefaultBytesPerSecond);
    EXPECT_EQ(rate.SecondsFor(0), 0);
    EXPECT_EQ(rate.SecondsFor(1), 1) << "rounded up";
    EXPECT_EQ(rate.SecondsFor(UploadRate::kDefaultBytesPerSecond * 4), 4);

    // 1 MB at the cautious default takes 4 s, plus 360 s of wait.
    const BatchCandidate job{"A1", "A", 1000000, 360};
    EXPECT_EQ(EstimatedSeconds(job, rate), 364);
    struct Case {
        int64_t WindowEnd;
        BatchVerdict Expect;
    };
    for (const Case& c : {Case{kNow + 364, kStart}, Case{kNow + 363, kRefuse}, Case{0, kStart}}) {
        BatchGuard guard({.WindowEnd = c.WindowEnd});
        const BatchDecision d = guard.Decide(job, kNow, rate);
        EXPECT_EQ(d.Verdict, c.Expect) << c.WindowEnd - kNow;
        if (d.Verdict == kRefuse) {
            EXPECT_EQ(d.Code, rc::kPastWindow);
        }
    }
    // Measured: 4 MB in 2 s and 0 bytes in no time (ignored), then 1 MB in 1 s: 5 MB in 3 s.
    rate.Add(4000000, 2000);
    rate.Add(0, 0);
    rate.Add(1000000, 1000);
    EXPECT_EQ(rate.BytesPerSecond(), 1666666);
    EXPECT_EQ(EstimatedSeconds(job, rate), 361);
    rate.Add(1, 0);  // quicker than the clock can tell still took a moment
    EXPECT_GT(rate.BytesPerSecond(), 0);
    rate.Clear();
    EXPECT_EQ(rate.BytesPerSecond(), UploadRate::kDefaultBytesPerSecond);

    // The window is judged only for a device the other guards let start.
    BatchGuard guard({.FirstOfEachModel = true, .WindowEnd = kNow + 1});
    guard.Started({"A0", "A", 0, 0});
    EXPECT_EQ(guard.Decide(job, kNow, rate).Verdict, kHold);
}

TEST(BatchPlanTest, CountsWhoStartsNowAndWhoWaitsForAFirst) {
    const std::vector<std::string> models = {"NVR-1600", "nvr-1600", "NVR-1600", "PLX-420S",
                                             "KT-710R"};
    struct Case {
        BatchPolicy Policy;
        int Places;
        BatchPlan Expect;
    };
    const Case cases[] = {
        {{}, 16, {5, 3, 5, 0}},
        {{.FirstOfEachModel = true}, 16, {5, 3, 3, 2}},
        {{}, 4, {5, 3, 4, 0}},
        {{.MaxFailures = 2}, 16, {5, 3, 2, 0}},
        {{.FirstOfEachModel = true, .MaxFailures = 1}, 16, {5, 3, 1, 2}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PlanBatch(models, c.Policy, c.Places), c.Expect)
            << c.Policy.FirstOfEachModel << " " << c.Policy.MaxFailures << " " << c.Places;
    }
    EXPECT_EQ(PlanBatch({}, {}, 16), (BatchPlan{0, 0, 0, 0}));

    EXPECT_EQ(BatchPlanText({5, 3, 3, 2}, DefaultText),
              "Devices starting now: 3 of 5 (models: 3).\n"
              "Waiting for the first device of their model: 2.");
    EXPECT_EQ(BatchPlanText({5, 3, 5, 0}, DefaultText),
              "Devices starting now: 5 of 5 (models: 3).");
    // A translation may put the numbers in any order.
    const TextLookup reordered = [](std::string_view, std::string_view key, std::string_view def) {
        return key == "Msg3Plan" ? std::string("%3/%2/%1") : std::string(def);
    };
    EXPECT_EQ(BatchPlanText({5, 3, 4, 0}, reordered), "3/5/4");
}

class TimeOfDayTest : public ::testing::Test {
protected:
    // Central European rules, written out so that no zone database is needed.
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        saved_ = tz ? std::optional<std::string>(tz) : std::nullopt;
        setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
        tzset();
    }
    void TearDown() override {
        if (saved_) {
            setenv("TZ", saved_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

private:
    std::optional<std::string> saved_;
};

TEST_F(TimeOfDayTest, ParsesHoursAndMinutesAndFindsTheNextSuchMoment) {
    struct Parse {
        const char* Text;
        std::optional<TimeOfDay> Expect;
    };
    const Parse parses[] = {
        {"05:30", TimeOfDay{5, 30}},  {"5:30", TimeOfDay{5, 30}}, {"00:00", TimeOfDay{0, 0}},
        {"23:59", TimeOfDay{23, 59}}, {"24:00", std::nullopt},    {"12:60", std::nullopt},
        {"1230", std::nullopt},       {"12:3", std::nullopt},     {"123:00", std::nullopt},
        {"-1:00", std::nullopt},      {"12:0x", std::nullopt},    {"", std::nullopt},
        {" 5:30", std::nullopt},
    };
    for (const Parse& p : parses) EXPECT_EQ(ParseTimeOfDay(p.Text), p.Expect) << p.Text;

    // 2026-12-09 22:00:00 in Berlin (UTC+1) is 21:00:00 UTC.
    const int64_t evening = 1796850000;
    ASSERT_EQ(HourMinuteText(evening), "22:00");
    EXPECT_EQ(NextTimeOfDay(evening, {23, 30}), evening + 5400) << "later today";
    EXPECT_EQ(NextTimeOfDay(evening, {22, 0}), evening) << "now counts";
    EXPECT_EQ(NextTimeOfDay(evening, {5, 0}), evening + 7 * 3600) << "tomorrow";
    // The night the clocks go back (2026-10-25, 03:00 CEST becomes 02:00 CET): from
    // 22:00 CEST, 05:00 is eight hours away, not seven.
    const int64_t beforeChange = 1792872000;  // 2026-10-24 22:00 CEST
    ASSERT_EQ(HourMinuteText(beforeChange), "22:00");
    EXPECT_EQ(NextTimeOfDay(beforeChange, {5, 0}) - beforeChange, 8 * 3600);
}

}  // namespace
