// Tests of the frame sources: the core one over our reader and the reader window's hand out the same frames
// one behind the index, through jumps, past the end and across close and open.
#include "review/FrameSource.h"

#include "gui/FakeDialogs.h"
#include "recording/AviFrames.h"
#include "recording/AviTestSupport.h"
#include "review/AVIToBitmap.h"
#include "review/ReaderFrameSource.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

using namespace avitest;
using kestrane::FrameView;

namespace {

enum class Kind { Core, Window };

class FrameSourceRules : public ::testing::TestWithParam<Kind> {
  protected:
    void SetUp() override {
        if (GetParam() == Kind::Core) {
            source = std::make_unique<kestrane::AviFrameSource>(reader);
        } else {
            source = std::make_unique<ReaderFrameSource>();
        }
    }
    void TearDown() override {
        source->close();
        delete Form3;
    }

    std::string clip(int frames, const std::string& name = "clip.avi") {
        const std::string path = dir.file(name);
        EXPECT_EQ(writeClipFile(path, shape, frames), frames);
        return path;
    }

    // Which frame of the clip the view shows: its number, -1 for a black frame of the clip's size, -2 for
    // anything else.
    int shown(const FrameView& view) const {
        if (view.pixels == nullptr || view.width != shape.width || view.height != shape.height) {
            return -2;
        }
        const auto matches = [&](const auto& bgrAt) {
            for (int y = 0; y < shape.height; ++y) {
                for (int x = 0; x < shape.width; ++x) {
                    const std::uint8_t* p = view.pixel(x, y);
                    const std::array<std::uint8_t, 3> bgr = bgrAt(x, y);
                    if (p[0] != bgr[0] || p[1] != bgr[1] || p[2] != bgr[2]) {
                        return false;
                    }
                }
            }
            return true;
        };
        for (int n = 0; n < 8; ++n) {
            const std::vector<std::uint8_t> stored = framePixels(shape, n);
            if (matches([&](int x, int y) { return expectedBgr(shape, stored, x, y); })) {
                return n;
            }
        }
        return matches([](int, int) { return std::array<std::uint8_t, 3>{}; }) ? -1 : -2;
    }

    const ClipSpec shape{37, 24, 32, 10};
    ScratchDir dir;
    FakeDialogs dialogs;
    kestrane::AviFrameReader reader;
    std::unique_ptr<kestrane::FrameSource> source;
};

TEST_P(FrameSourceRules, TheIndexRunsOneAheadOfTheFrameHandedOutThroughJumps) {
    source->open(clip(6));
    ASSERT_TRUE(source->isOpen());
    EXPECT_EQ(source->frameCount(), 6);
    EXPECT_EQ(source->frameIndex(), 0);
    EXPECT_EQ(source->frame().pixels, nullptr) << "nothing handed out before the first step";

    const struct {
        int jumpTo; // -1: no jump before the step
        int shown;  // -1: black
        int index;
    } steps[] = {
        {-1, 0, 1}, {-1, 1, 2}, {4, 2, 5}, // the frame fetched before the jump, once
        {-1, 5, 6},                        // then on from the jump: frame 4 is skipped
        {0, -1, 1},                        // frame 6 lies past the end: black
        {-1, 1, 2},
    };
    for (const auto& s : steps) {
        if (s.jumpTo >= 0) {
            source->setFrameIndex(s.jumpTo);
        }
        EXPECT_EQ(source->step(), s.shown >= 0) << "jump " << s.jumpTo << ", frame " << s.shown;
        EXPECT_EQ(shown(source->frame()), s.shown) << "jump " << s.jumpTo;
        EXPECT_EQ(source->frameIndex(), s.index) << "jump " << s.jumpTo;
    }
}

TEST_P(FrameSourceRules, CloseDropsTheFrameKeepsTheCountingAndStopsTheSteps) {
    source->open(clip(4));
    source->step();
    source->close();
    EXPECT_FALSE(source->isOpen());
    EXPECT_EQ(source->frame().pixels, nullptr);
    EXPECT_EQ(source->frameIndex(), 1);
    EXPECT_EQ(source->frameCount(), 4);
    EXPECT_FALSE(source->step());
    EXPECT_EQ(source->frameIndex(), 1) << "a closed movie is not stepped";

    source->open(clip(3, "other.avi"));
    EXPECT_EQ(source->frameCount(), 3);
    EXPECT_EQ(source->frameIndex(), 0);
    EXPECT_TRUE(source->step());
    EXPECT_EQ(shown(source->frame()), 0);

    writeFileBytes(dir.file("notes.avi"), {'n', 'o', 't', 'e', 's'});
    EXPECT_THROW(source->open(dir.file("notes.avi")), std::runtime_error);
    EXPECT_FALSE(source->isOpen());
    EXPECT_FALSE(source->step());
}

INSTANTIATE_TEST_SUITE_P(BothSources, FrameSourceRules, ::testing::Values(Kind::Core, Kind::Window),
                         [](const ::testing::TestParamInfo<Kind>& info) {
                             return std::string(info.param == Kind::Core ? "Core" : "Window");
                         });

} // namespace
