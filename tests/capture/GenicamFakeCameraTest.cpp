// The GenICam backend against Aravis's in-process Fake camera showing a frame of our simulated sample: the
// maps through it equal those through the simulated camera, in every format the Fake camera offers, and the
// format and source dialogs reach the camera's features. Only the Fake interface is enabled: nothing here
// touches the network.
#include "CaptureTestSupport.h"
#include "analysis/FrameAnalysis.h"
#include "capture/AravisCamera.h"
#include "capture/FrameHandoff.h"
#include "capture/GenicamPixels.h"

#include <arv.h>

#include <gtest/gtest.h>

#include <set>

namespace kestrane {
namespace {

// Aravis's Fake interface alone: no GigE Vision discovery, no USB.
const bool gFakeOnly = [] {
    arv_disable_interface("GigEVision");
    arv_disable_interface("USB3Vision");
    arv_enable_interface("Fake");
    return true;
}();

// The camera picture of frame 0 of the simulated sample (640 × 480 grey, top line first).
const std::vector<std::uint8_t>& samplePicture() {
    static const std::vector<std::uint8_t> picture = [] {
        SimulatedCamera camera(SimulatedCamera::grainRegions(), SimulatedCamera::kVignetting,
                               std::make_shared<test::SteppedClock>());
        camera.open();
        return camera.renderReference(0);
    }();
    return picture;
}

// Writes the sample picture into a Fake camera buffer in the format it is asked for; Mono16 carries noise in
// its low byte, which the conversion must drop.
void fillWithSample(ArvBuffer* buffer, void* picture, guint32, guint32, ArvPixelFormat format) {
    const auto& grey = *static_cast<const std::vector<std::uint8_t>*>(picture);
    // While it is filled the buffer tells no size; its image region says what the camera allocated for.
    auto* data = static_cast<std::uint8_t*>(const_cast<void*>(arv_buffer_get_data(buffer, nullptr)));
    const GenicamPixelFormat* f = genicamPixelFormat(format);
    if (f == nullptr || arv_buffer_get_image_width(buffer) != 640 ||
        arv_buffer_get_image_height(buffer) != 480) {
        return;
    }
    for (std::size_t i = 0; i < grey.size(); ++i) {
        if (f->colour) {
            data[3 * i] = data[3 * i + 1] = data[3 * i + 2] = grey[i];
        } else if (f->bitCount == 16) {
            data[2 * i] = static_cast<std::uint8_t>(i * 37);
            data[2 * i + 1] = grey[i];
        } else {
            data[i] = grey[i];
        }
    }
}

AravisCamera::Prepare showSample() {
    return [](ArvCamera* camera) {
        ArvFakeCamera* fake = arv_fake_device_get_fake_camera(ARV_FAKE_DEVICE(arv_camera_get_device(camera)));
        arv_fake_camera_set_fill_pattern(fake, fillWithSample,
                                         const_cast<std::vector<std::uint8_t>*>(&samplePicture()));
    };
}

struct Maps {
    std::vector<std::uint8_t> sinD, extinction, transmission;
};

// Grabs a frame through the program's capture connection and analyses it.
Maps mapsThrough(test::ConnectionRig& rig) {
    rig.start();
    EXPECT_EQ(rig.state->CaptureReady, 1);
    Bitmap frame;
    std::string error;
    EXPECT_TRUE(rig.connection->grabFrame(frame, error)) << error;
    EXPECT_EQ(frame.bitsPerPixel(), 24);
    frame.convertTo32(); // as the window's picture holds it
    MeasurementState& state = *rig.state;
    buildTables(state.tables);
    analyseFrame(frame.view(), state);
    Maps maps;
    for (int y = 0; y < kMapHeight; ++y) {
        for (int x = 0; x < kMapWidth; ++x) {
            maps.sinD.push_back(state.SinDMap.at(x, y));
            maps.extinction.push_back(state.ExtinctionMap.at(x, y));
            maps.transmission.push_back(state.TransmissionMap.at(x, y));
        }
    }
    return maps;
}

const Maps& simulatedMaps() {
    static const Maps maps = [] {
        test::ConnectionRig rig([](int index) -> std::unique_ptr<CaptureDriver> {
            if (index != 0) {
                return nullptr;
            }
            return std::make_unique<SimulatedCamera>(SimulatedCamera::grainRegions(),
                                                     SimulatedCamera::kVignetting,
                                                     std::make_shared<test::SteppedClock>());
        });
        return mapsThrough(rig);
    }();
    return maps;
}

// The option of the format dialog that asks for a GenICam format.
int optionOf(const std::vector<FormatOption>& options, const char* name) {
    for (std::size_t i = 0; i < options.size(); ++i) {
        if (options[i].label == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

class FakeCameraFormat : public ::testing::TestWithParam<const char*> {};

TEST_P(FakeCameraFormat, GivesTheSameMapsAsTheSimulatedCamera) {
    AravisCamera* camera = nullptr;
    test::ConnectionRig rig([&camera](int index) -> std::unique_ptr<CaptureDriver> {
        auto made = index == 0 ? std::make_unique<AravisCamera>("Fake_1", showSample()) : nullptr;
        camera = made.get();
        return made;
    });
    rig.start();
    ASSERT_NE(camera, nullptr);
    ASSERT_EQ(rig.state->CaptureReady, 1) << rig.connection->ConnectFailure;
    // A 2048 × 2048 sensor: binned 2 × 2 first, then the centred 640 × 480.
    EXPECT_EQ(camera->binning(), 2);
    EXPECT_EQ(camera->pixelFormat(), kGenicamPixelFormats[0].code); // Mono8 when offered
    rig.dialogs.formatAnswer = optionOf(camera->formatOptions(), GetParam());
    ASSERT_GE(rig.dialogs.formatAnswer, 0) << GetParam();
    rig.connection->FormatClick();
    EXPECT_STREQ(genicamPixelFormat(camera->pixelFormat())->name, GetParam());
    for (const FormatOption& shown : rig.dialogs.formatsShown) {
        EXPECT_EQ(shown.width, 640);
        EXPECT_EQ(shown.height, 480);
    }

    const Maps maps = mapsThrough(rig);
    const Maps& expected = simulatedMaps();
    EXPECT_EQ(maps.sinD, expected.sinD);
    EXPECT_EQ(maps.extinction, expected.extinction);
    EXPECT_EQ(maps.transmission, expected.transmission);
    // A structured sample, so that equal maps mean something.
    EXPECT_GT(std::set<std::uint8_t>(maps.sinD.begin(), maps.sinD.end()).size(), 20u);
}

INSTANTIATE_TEST_SUITE_P(Formats, FakeCameraFormat, ::testing::Values("Mono8", "Mono16", "RGB8"));

TEST(FakeCamera, TheSourceDialogSetsExposureTimeAndGain) {
    AravisCamera camera("Fake_1");
    ASSERT_EQ(camera.open(), 0) << camera.openFailure();
    EXPECT_EQ(camera.description(), "Fake (Fake_1)");
    const std::vector<SourceControl> controls = camera.sourceControls();
    ASSERT_EQ(controls.size(), 2u);
    EXPECT_EQ(controls[0].id, AravisCamera::kExposureTime);
    EXPECT_EQ(controls[1].id, AravisCamera::kGain);
    EXPECT_EQ(camera.setSourceControl(AravisCamera::kExposureTime, 20000), 0);
    EXPECT_EQ(camera.setSourceControl(AravisCamera::kGain, 500), 0);
    const std::vector<SourceControl> after = camera.sourceControls();
    EXPECT_EQ(after[0].value, 20000);
    EXPECT_EQ(after[1].value, 500);
    EXPECT_EQ(camera.setSourceControl(99, 1), -EINVAL);
}

TEST(FakeCamera, AMissingCameraIsNamedInTheFailure) {
    AravisCamera camera("Fake_9");
    EXPECT_EQ(camera.open(), -ENODEV);
    EXPECT_NE(camera.openFailure().find("Fake_9"), std::string::npos) << camera.openFailure();
    struct : FrameConsumer {
        void consume(const VideoHeader&) override { ADD_FAILURE() << "a frame from no camera"; }
    } none;
    EXPECT_LT(camera.readFrame(none), 0);
}

} // namespace
} // namespace kestrane
