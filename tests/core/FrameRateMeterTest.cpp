#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "core/FrameRateMeter.h"

namespace {

// `frames` frames, each `every` seconds after the one before.
struct Frames {
    int frames;
    double every;
};

TEST(FrameRateMeter, MeanOfTheLastIntervalsAndWholeRateOverTheLastSecond) {
    const std::optional<double> none;
    const struct {
        size_t meanIntervals;
        std::vector<Frames> runs;
        double after;  // seconds from the last frame to the moment asked about
        std::optional<double> mean;
        std::optional<uint32_t> whole;
    } cases[] = {
        {30, {}, 0.0, none, std::nullopt},
        {30, {{1, 0.0}}, 0.5, none, std::nullopt},
        {30, {{60, 1 / 60.0}}, 0.0, 60.0, std::nullopt},  // not yet a second
        {30, {{62, 1 / 60.0}}, 0.0, 60.0, 60},
        {30, {{62, 1 / 60.0}}, 0.51, 60.0, 60},
        {30, {{62, 1 / 60.0}}, 1.5, 60.0, std::nullopt},  // the host went quiet
        {30, {{62, 1 / 59.94}}, 0.0, 59.94, 60},
        {30, {{361, 1 / 240.0}}, 0.0, 240.0, 240},  // more than the mean's intervals in a second
        {2, {{3, 0.5}, {2, 0.25}}, 0.0, 4.0, 3},
        {30, {{3, 0.5}}, 0.0, 2.0, 2},
        // A pause of two seconds: no whole rate until a second has passed after it.
        {30, {{61, 1 / 60.0}, {1, 2.0}, {30, 1 / 60.0}}, 0.0, 60.0, std::nullopt},
        {30, {{61, 1 / 60.0}, {1, 2.0}, {31, 1 / 30.0}}, 0.0, 30.0, 30},
    };
    for (const auto& [meanIntervals, runs, after, mean, whole] : cases) {
        SCOPED_TRACE(::testing::Message() << "row with " << runs.size() << " runs, mean "
                                          << mean.value_or(-1) << ", after " << after);
        FrameRateMeter meter(meanIntervals);
        double time = 1000.0;
        for (const auto& run : runs)
            for (int i = 0; i < run.frames; ++i) meter.frame(time += run.every);
        ASSERT_EQ(meter.meanRate().has_value(), mean.has_value());
        EXPECT_NEAR(meter.meanRate().value_or(0), mean.value_or(0), 1e-6);
        EXPECT_EQ(meter.wholeRate(time + after), whole);
    }
}

}  // namespace
