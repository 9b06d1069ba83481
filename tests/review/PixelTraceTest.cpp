// Tests of the review core: the region's mean value, the label figures, the marking rectangle, and the frame
// rules of continuous playback and single steps.
#include "review/PixelTrace.h"
#include "review/MovieViewer.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

namespace kestrane {
namespace {

// A picture with every red byte 0 except the ones set; (x, top) counted from the top-left corner.
struct Picture {
    Bitmap bitmap;
    Picture(int width, int height) : bitmap(width, height, 32) {}
    Picture& red(int x, int top, int value) {
        bitmap.view().pixel(x, bitmap.height() - 1 - top)[2] = static_cast<std::uint8_t>(value);
        return *this;
    }
    int red(int x, int top) { return bitmap.view().pixel(x, bitmap.height() - 1 - top)[2]; }
    FrameView view() { return bitmap.view(); }
};

TEST(PixelTraceValue, MeanOfTheMarkedPixelsWithZerosAndOutsidePositionsLeftOut) {
    Picture clip(370, 240); // a result clip in the 373-pixel movie picture
    clip.red(10, 20, 10).red(11, 20, 20).red(12, 20, 0);
    clip.red(0, 0, 200);
    clip.red(369, 100, 100).red(369, 101, 101).red(368, 100, 255);
    clip.red(50, 50, 1).red(51, 50, 1).red(52, 50, 2);
    Picture nothing(0, 0); // before the first frame every position is outside

    const struct {
        const char* name;
        FrameView picture;
        PickRectangle region;
        Extended expected;
    } cases[] = {
        {"10, 20 and 0", clip.view(), {10, 20, 12, 20}, 15},
        {"mirrored drag", clip.view(), {12, 20, 10, 20}, 15},
        {"dragged up and left", clip.view(), {12, 25, 10, 20}, 15},
        {"nothing marked reads (0, 0)", clip.view(), {0, 0, 0, 0}, 200},
        {"black region", clip.view(), {300, 200, 310, 210}, 0},
        {"right edge of the 373-pixel picture", clip.view(), {368, 100, 372, 101}, 152},
        {"wholly outside the frame", clip.view(), {370, 0, 372, 239}, 0},
        {"far outside", clip.view(), {-2147483647 - 1, -5, -1, 2147483647}, 0},
        {"four decimals, half to even", clip.view(), {50, 50, 52, 50}, 1.3333L},
        {"before the first frame", nothing.view(), {0, 0, 372, 239}, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(value(c.picture, c.region), c.expected) << c.name;
    }
}

TEST(PixelTraceValue, LabelFiguresForEachQuantity) {
    const struct {
        MapKind quantity;
        Extended maxSin;
        Extended v;
        const char* text;
        const char* axis;
    } cases[] = {
        {MapKind::SinD, 1.0L, 127.5L, "0.5", "|sin(d)|"},
        {MapKind::Extinction, 1.0L, 255, "180", "extinction (degrees)"},
        {MapKind::Transmission, 1.0L, 51, "20", "absorption (%)"},
        {MapKind::SinD, 0.2L, 100, "0.078", "|sin(d)|"},
        {MapKind::Extinction, 0.2L, 1.3333L, "0.941", "extinction (degrees)"},
    };
    for (const auto& c : cases) {
        const Extended scale = traceScale(c.quantity, c.maxSin);
        for (LabelProduct product : {LabelProduct::PointerMove, LabelProduct::TraceStep}) {
            EXPECT_EQ(traceLabelText(c.v, scale, product, '.'), c.text) << c.v;
        }
        EXPECT_STREQ(traceAxisLabel(c.quantity), c.axis);
    }
    EXPECT_EQ(traceLabelText(127.5L, traceScale(MapKind::SinD, 1.0L), LabelProduct::TraceStep, ','), "0,5");
}

// Extinction bytes are directions around a circle of 41 · 2π bytes; the other quantities are plain numbers.
TEST(PixelTraceValue, ExtinctionIsAveragedAroundItsCircle) {
    Picture clip(20, 1);
    // 5° and 175° (bytes 7 and 248) lie on either side of the same axis.
    clip.red(0, 0, 7).red(1, 0, 248);
    clip.red(2, 0, 143).red(3, 0, 143).red(4, 0, 143);
    clip.red(5, 0, 100).red(6, 0, 101);
    clip.red(7, 0, 0).red(8, 0, 5).red(9, 0, 251);
    const struct {
        const char* name;
        PickRectangle region;
        Extended extinction; // negative: near an end of the scale, not in the middle
        Extended plain;
    } cases[] = {
        {"5 and 175 degrees", {0, 0, 1, 0}, -1, 127.5L},
        {"one value reads that value exactly", {2, 0, 4, 0}, 143, 143},
        {"a tight pair reads its plain mean", {5, 0, 6, 0}, 100.5L, 100.5L},
        {"the lowest and highest map bytes", {7, 0, 9, 0}, -1, 128},
        {"nothing but black", {10, 0, 19, 0}, 0, 0},
    };
    for (const auto& c : cases) {
        const Extended circular = value(clip.view(), c.region, MapKind::Extinction);
        if (c.extinction < 0) {
            EXPECT_TRUE(circular < 10 || circular > 245) << c.name << ": " << static_cast<double>(circular);
        } else {
            EXPECT_EQ(circular, c.extinction) << c.name;
        }
        for (MapKind plain : {MapKind::SinD, MapKind::Transmission}) {
            EXPECT_EQ(value(clip.view(), c.region, plain), c.plain) << c.name;
        }
    }
    // The trace step takes the circular mean when the scale is the extinction's.
    PixelTrace trace;
    const TracePoint& point =
        trace.step(clip.view(), {0, 0, 1, 0}, 1, 0, TraceSettings{0.1L, traceScale(MapKind::Extinction, 1)});
    EXPECT_EQ(point.mean, value(clip.view(), {0, 0, 1, 0}, MapKind::Extinction));
}

// The first point after a clear starts the curve, whatever the reader's index (single steps begin at 3).
TEST(PixelTraceCurve, TheFirstPointAfterAClearStartsTheCurve) {
    Picture frame(4, 4);
    const TraceSettings settings;
    PixelTrace trace;
    const std::pair<std::int32_t, bool> steps[] = {{3, true}, {4, false}, {1, true}, {2, false}};
    for (const auto& [index, starts] : steps) {
        EXPECT_EQ(trace.step(frame.view(), {}, index, index - 1, settings).startsCurve(), starts) << index;
    }
    trace.clear();
    EXPECT_TRUE(trace.step(frame.view(), {}, 7, 6, settings).startsCurve());
}

// The picture always carries the region being sampled, and erasing never paints a stale rectangle.
TEST(PickRectangleDrawing, NewFramesCarryTheCurrentRectangleAndErasingLeavesNoStaleOne) {
    MeasurementState state;
    RegionPicker picker;
    Picture frame(40, 30);
    const Bitmap clean = frame.bitmap;
    auto withRectangle = [&](PickRectangle r) {
        Picture p(40, 30);
        p.bitmap = clean;
        xorRectangle(p.view(), r);
        return p.bitmap;
    };

    picker.mouseDown(frame.view(), true, 5, 5, state);
    picker.mouseMove(frame.view(), true, 15, 12, state);
    EXPECT_EQ(state.PickRect, (PickRectangle{5, 5, 15, 12}));
    EXPECT_EQ(frame.bitmap, withRectangle({5, 5, 15, 12}));
    // Black pen, white brush, XOR: the outline (x 5..14, y 5..11) keeps its pixels, the inside is inverted.
    EXPECT_EQ(frame.red(6, 6), 255);
    EXPECT_EQ(frame.red(5, 6), 0);
    EXPECT_EQ(frame.red(14, 11), 0);
    EXPECT_EQ(frame.red(13, 10), 255);

    frame.bitmap = clean; // the next frame replaces the picture
    picker.frameReplaced(frame.view(), state);
    EXPECT_EQ(frame.bitmap, withRectangle({5, 5, 15, 12}));
    picker.mouseMove(frame.view(), true, 25, 20, state);
    EXPECT_EQ(frame.bitmap, withRectangle({5, 5, 25, 20}));

    // A double-click: the second press starts a new region and the old rectangle goes.
    picker.doubleClick(state);
    EXPECT_EQ(state.PickActive, 0);
    picker.mouseDown(frame.view(), true, 30, 25, state);
    EXPECT_EQ(state.PickActive, 1);
    EXPECT_EQ(frame.bitmap, clean);
    picker.mouseMove(frame.view(), true, 20, 18, state); // up and to the left
    EXPECT_EQ(frame.red(21, 19), 255);
    EXPECT_EQ(frame.red(20, 19), 0);
    picker.mouseMove(frame.view(), false, 1, 1, state);
    EXPECT_EQ(state.PickRect, (PickRectangle{30, 25, 20, 18})) << "moving without the button changes nothing";
    picker.mouseDown(frame.view(), false, 2, 2, state);
    EXPECT_EQ(state.PickRect, (PickRectangle{30, 25, 20, 18})) << "only the left button picks";
}

// Counts like the frame reader: a step hands out the frame fetched before it.
class FakeSource : public FrameSource {
  public:
    explicit FakeSource(int count) : count_(count) {}
    void open(const std::string&) override {}
    bool step() override {
        handedOut.push_back(fetched_);
        fetched_ = ++index_;
        if (duringStep) {
            std::exchange(duringStep, nullptr)();
        }
        return true;
    }
    FrameView frame() const override { return FrameView{}; }
    std::int32_t frameIndex() const override { return index_; }
    void setFrameIndex(std::int32_t index) override { index_ = index; }
    std::int32_t frameCount() const override { return count_; }
    bool isOpen() const override { return closed == 0; }
    void close() override { ++closed; }
    void hideWindow() override { ++hidden; }

    // A command the step runs, as the reader runs window messages inside its step.
    std::function<void()> duringStep;
    std::vector<int> handedOut;
    int closed = 0;
    int hidden = 0;

  private:
    std::int32_t count_;
    std::int32_t index_ = 0;
    std::int32_t fetched_ = 0;
};

TEST(MovieViewerRules, SingleStepsShowTheFrameFetchedBeforeAndEndAtCountMinusOne) {
    FakeSource source(100);
    MovieViewer viewer(source);
    viewer.opened();
    const StepperRange range = MovieViewer::stepperRange(100);
    EXPECT_EQ(range.minimum, 1);
    EXPECT_EQ(range.maximum, 98);
    EXPECT_EQ(MovieViewer::stepperRange(70000).maximum, static_cast<std::int16_t>(69998));

    const struct {
        int position;
        int shown;
        int index;
        bool traced;
    } steps[] = {
        {2, 0, 3, true},   // the first right arrow from position 1
        {3, 3, 4, true},   // up by one shows the frame at the position
        {2, 4, 3, true},   // down shows the frame fetched before it
        {98, 3, 1, false}, // the stepper's maximum reaches the end test
    };
    for (const auto& s : steps) {
        const ReviewStep step = viewer.singleStep(s.position, [] {});
        EXPECT_EQ(step.shownFrame, s.shown) << s.position;
        EXPECT_EQ(step.traced, s.traced) << s.position;
        EXPECT_EQ(source.frameIndex(), s.index) << s.position;
    }
    EXPECT_EQ(source.closed, 1);
    EXPECT_EQ(source.hidden, 1) << "the end test hides the reader's window too";
}

TEST(MovieViewerRules, AStepEndsWhereACommandInsideItClosedOrReplacedTheMovie) {
    FakeSource source(100);
    MovieViewer viewer(source);
    viewer.opened();
    int shows = 0;
    source.duringStep = [&] { viewer.opened(); }; // "Show Movie" on another file
    EXPECT_TRUE(viewer.playTick([&] { ++shows; }).interrupted);
    EXPECT_FALSE(viewer.playTick([&] { ++shows; }).interrupted);
    source.duringStep = [&] { source.close(); };
    EXPECT_TRUE(viewer.singleStep(5, [&] { ++shows; }).interrupted);
    EXPECT_EQ(shows, 1);
    EXPECT_EQ(source.closed, 1) << "the end test does not close it again";
}

} // namespace
} // namespace kestrane
