// The in-memory BMP of the frame hand-off: stream sizes and headers per driver format, delivery, and the
// frames that must not reach it.
#include "CaptureTestSupport.h"

#include "capture/FrameHandoff.h"
#include "capture/YUVConverts.h"
#include "imaging/Bmp.h"

#include <gtest/gtest.h>

#include "AllocationCount.h"

#include <numeric>

namespace kestrane {
namespace {

using test::bitmapInfo;
using test::ConnectionRig;
using test::DriverScript;
using test::scriptedDrivers;

TEST(DibRowBytes, PadsRowsToWholeWords) {
    EXPECT_EQ(DibRowBytes(640 * 24), 1920);
    EXPECT_EQ(DibRowBytes(640 * 32), 2560);
    EXPECT_EQ(DibRowBytes(1 * 24), 4);
    EXPECT_EQ(DibRowBytes(5 * 8), 8);
    EXPECT_EQ(DibRowBytes(0), 0);
}

TEST(BuildFrameHeader, WritesABottomUpRgbHeader) {
    std::vector<std::uint8_t> header(40, 0xEE);
    BuildFrameHeader(header.data(), 640, 480, 24);
    EXPECT_EQ(readLe32(header.data()), 40u);
    EXPECT_EQ(readLe32(header.data() + 4), 640u);
    EXPECT_EQ(readLe32(header.data() + 8), 480u);
    EXPECT_EQ(readLe16(header.data() + 12), 1);
    EXPECT_EQ(readLe16(header.data() + 14), 24);
    EXPECT_EQ(readLe32(header.data() + 16), 0u);
    EXPECT_EQ(readLe32(header.data() + 20), 921600u);
    for (int at = 24; at < 40; at += 4) {
        EXPECT_EQ(readLe32(header.data() + at), 0u) << at;
    }
}

struct StreamCase {
    const char* name;
    std::vector<std::uint8_t> format;
    std::size_t frameBytes;
    std::uint32_t headerSize;
    std::size_t streamSize;
    int loadedBits;
};

class StreamLayout : public ::testing::TestWithParam<StreamCase> {};

TEST_P(StreamLayout, StreamIsACompleteBmpOfTheDeliveredFrame) {
    const StreamCase& c = GetParam();
    auto script = std::make_shared<DriverScript>();
    script->format = c.format;
    script->frame.resize(c.frameBytes);
    std::iota(script->frame.begin(), script->frame.end(), std::uint8_t{7});
    script->refuseFormats = true; // the driver keeps its format whatever start-up asks
    ConnectionRig rig(scriptedDrivers(script));
    rig.start();
    CaptureConnection& capture = *rig.connection;

    EXPECT_EQ(capture.FrameHeaderSize, c.headerSize);
    EXPECT_EQ(capture.FrameStream.size(), c.streamSize);
    const std::uint8_t* stream = capture.FrameStream.memory();
    EXPECT_EQ(stream[0], 'B');
    EXPECT_EQ(stream[1], 'M');
    EXPECT_EQ(readLe32(stream + 2), c.streamSize);
    EXPECT_EQ(readLe32(stream + 6), 0u);
    EXPECT_EQ(readLe32(stream + 10), 14 + c.headerSize);
    EXPECT_EQ(capture.StreamPixels, stream + 14 + c.headerSize);

    Bitmap frame;
    std::string error;
    ASSERT_TRUE(capture.grabFrame(frame, error)) << error;
    EXPECT_EQ(frame.width(), 640);
    EXPECT_EQ(frame.height(), 480);
    EXPECT_EQ(frame.bitsPerPixel(), c.loadedBits);
}

INSTANTIATE_TEST_SUITE_P(DriverFormats, StreamLayout,
                         ::testing::Values(StreamCase{"rgb24", bitmapInfo(640, 480, 24, kBiRgb), 921600, 40,
                                                      921654, 24},
                                           StreamCase{"yuy2", bitmapInfo(640, 480, 16, kFourCcYuy2), 614400,
                                                      40, 14 + 40 + 1228800, 32},
                                           StreamCase{"palette8", bitmapInfo(640, 480, 8, kBiRgb, 256),
                                                      307200, 1064, 1078 + 307200, 24}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FrameHandoff, ColourTableTravelsInTheStream) {
    auto script = std::make_shared<DriverScript>();
    script->format = bitmapInfo(640, 480, 8, kBiRgb, 256);
    for (int i = 0; i < 256; ++i) {
        script->format[40 + 4 * i + 2] = static_cast<std::uint8_t>(i); // red ramp
    }
    script->frame.assign(307200, 200);
    script->refuseFormats = true;
    ConnectionRig rig(scriptedDrivers(script));
    rig.start();
    Bitmap frame;
    std::string error;
    ASSERT_TRUE(rig.connection->grabFrame(frame, error)) << error;
    EXPECT_EQ(frame.row(0)[2], 200);
    EXPECT_EQ(frame.row(0)[1], 0);
}

TEST(FrameHandoff, YuvFormatGetsA32BitHeaderOfItsSize) {
    auto script = std::make_shared<DriverScript>();
    script->format = bitmapInfo(320, 240, 16, kFourCcUyvy);
    script->refuseFormats = true;
    ConnectionRig rig(scriptedDrivers(script));
    rig.start();
    DibHeader header;
    ASSERT_TRUE(
        readDibHeader(rig.connection->FrameHeader.data(), rig.connection->FrameHeader.size(), header));
    EXPECT_EQ(rig.connection->FrameFormat, kFormatUyvy);
    EXPECT_EQ(header.bitCount, 32);
    EXPECT_EQ(header.compression, kBiRgb);
    EXPECT_EQ(header.width, 320);
    EXPECT_EQ(header.height, 240);
    EXPECT_EQ(header.sizeImage, 320u * 240 * 4);
}

// Frames that cannot be delivered leave the stream as it was: before the format was read, from another
// window, too short for the format, or of a layout nobody converts.
TEST(FrameHandoff, UndeliverableFramesLeaveTheStreamAlone) {
    auto script = std::make_shared<DriverScript>();
    script->format = bitmapInfo(640, 480, 24, kBiRgb);
    script->frame.assign(921600, 90);
    ConnectionRig rig(scriptedDrivers(script));
    rig.start();
    CaptureConnection& capture = *rig.connection;
    capture.BtnGrabFrameNoStopClick();
    ASSERT_EQ(rig.streamPixels(), std::vector<std::uint8_t>(921600, 90));

    const std::vector<std::uint8_t> other(921600, 33);
    VideoHeader header{other.data(), 921600, 921600, 0, 0, 0};
    test::NotingWindow stranger(scriptedDrivers(script));
    capture.DeliverFrame(&stranger, header);
    header.bytesUsed = 921599;
    capture.DeliverFrame(capture.CaptureWindow, header);
    EXPECT_EQ(rig.streamPixels(), std::vector<std::uint8_t>(921600, 90));

    FrameHandoff unread;
    unread.attachWindow(capture.CaptureWindow);
    header.bytesUsed = 921600;
    unread.DeliverFrame(capture.CaptureWindow, header);
    EXPECT_EQ(unread.FrameStream.size(), 0u);
    EXPECT_EQ(unread.StreamPixels, nullptr);
}

TEST(FrameHandoff, CallbackBeforeTheFormatIsReadOnlyRefreshesTheStatus) {
    struct CountingHandoff : FrameHandoff {
        int refreshes = 0;
        void RefreshStatus() override { ++refreshes; }
    } handoff;
    const std::vector<std::uint8_t> data(16, 1);
    handoff.DeliverFrame(nullptr, VideoHeader{data.data(), 16, 16, 0, 0, 0});
    EXPECT_EQ(handoff.refreshes, 1);
    EXPECT_EQ(handoff.FrameStream.size(), 0u);
}

TEST(FrameHandoff, UnrecognisedFormatKeepsTheRequestedHeaderAndWritesNoFrame) {
    auto script = std::make_shared<DriverScript>();
    script->format = bitmapInfo(640, 480, 24, fourCc('M', 'J', 'P', 'G'));
    script->frame.assign(5000, 0xFF);
    script->refuseFormats = true;
    ConnectionRig rig(scriptedDrivers(script));
    rig.start();
    EXPECT_EQ(rig.connection->FrameFormat, kFormatUnknown);
    EXPECT_EQ(rig.connection->FrameStream.size(), 921654u);
    rig.connection->BtnGrabFrameNoStopClick();
    EXPECT_EQ(rig.streamPixels(), std::vector<std::uint8_t>(921600, 0));
}

// An uncompressed header may state biSizeImage 0; the stream still gets room for the pixels.
TEST(FrameHandoff, ZeroImageSizeOfAnRgbFormatIsWorkedOut) {
    auto script = std::make_shared<DriverScript>();
    script->format = bitmapInfo(320, 240, 24, kBiRgb);
    writeLe32(script->format.data() + 20, 0);
    script->frame.assign(230400, 5);
    script->refuseFormats = true;
    ConnectionRig rig(scriptedDrivers(script));
    rig.start();
    EXPECT_EQ(rig.connection->FrameStream.size(), 54u + 230400);
    Bitmap frame;
    std::string error;
    ASSERT_TRUE(rig.connection->grabFrame(frame, error)) << error;
    EXPECT_EQ(frame.row(100)[1], 5);
}

// A grab writes the frame into the stream's existing memory, for copied and converted formats alike.
TEST(FrameHandoff, GrabbingAFrameAllocatesNothing) {
    for (const auto& [bits, compression] :
         {std::pair<std::uint16_t, std::uint32_t>{24, kBiRgb}, {16, kFourCcYuy2}}) {
        auto script = std::make_shared<DriverScript>();
        script->format = bitmapInfo(640, 480, bits, compression);
        script->frame.assign(640 * 480 * bits / 8, 100);
        script->refuseFormats = true;
        ConnectionRig rig(scriptedDrivers(script));
        rig.start();
        rig.connection->BtnGrabFrameNoStopClick();
        const long before = test::allocationCount();
        for (int i = 0; i < 5; ++i) {
            rig.connection->BtnGrabFrameNoStopClick();
        }
        EXPECT_EQ(test::allocationCount() - before, 0) << bits << " bits";
        EXPECT_EQ(script->reads, 6);
    }
}

} // namespace
} // namespace kestrane
