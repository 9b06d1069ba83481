// The capture window in the program's window system: the preview runs while it is visible, the window move
// hides and shows it, and Escape or a mouse button ends a streaming capture.
#include "CaptureTestSupport.h"

#include "capture/CameraSelection.h"
#include "capture/CaptureWindow.h"
#include "capture/QtCaptureDialogs.h"
#include "capture/SimulatedCamera.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace kestrane {
namespace {

// The preview panel of the main window with the capture start-up run inside it.
struct PanelRig {
    std::unique_ptr<MeasurementState> state = std::make_unique<MeasurementState>();
    std::unique_ptr<QWidget> panel = std::make_unique<QWidget>();
    std::unique_ptr<CaptureConnection> connection = std::make_unique<CaptureConnection>(*state);
    std::shared_ptr<test::SinkLog> sink = std::make_shared<test::SinkLog>();

    explicit PanelRig(CameraKind kind) {
        panel->resize(640, 480);
        connection->FormCreate(captureWindowFactory(panel.get(), driverFactory({kind, "/nonexistent/video5"}),
                                                    test::recordingSinks(sink)));
    }
    ~PanelRig() { connection.reset(); }
    CaptureWindow* window() const {
        return panel->findChild<CaptureWindow*>(QStringLiteral("CaptureWindow"));
    }
};

TEST(CaptureWindow, IsAVisibleChildOfThePanelAndPreviewsOnlyWhileShown) {
    PanelRig rig(CameraKind::Simulated);
    CaptureWindow* window = rig.window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->geometry(), QRect(0, 0, 640, 480));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Capture Window"));
    EXPECT_FALSE(window->isHidden());

    QTest::qWait(120);
    EXPECT_TRUE(window->previewImage().isNull()) << "the panel is not shown yet";

    rig.panel->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(rig.panel.get()));
    QTRY_VERIFY_WITH_TIMEOUT(!window->previewImage().isNull(), 2000);
    EXPECT_EQ(window->previewImage().size(), QSize(640, 480));

    // A grab shows its frame at once, with no preview tick in between, as the own raw recorder needs.
    Bitmap grabbed;
    std::string error;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(rig.connection->grabFrame(grabbed, error)) << error;
        EXPECT_EQ(window->previewImage(), imageOf(grabbed)) << "grab " << i;
    }

    rig.panel->hide();
    QTest::qWait(50);
    const QImage last = window->previewImage();
    QTest::qWait(150);
    ASSERT_TRUE(rig.connection->grabFrame(grabbed, error)) << error;
    EXPECT_EQ(window->previewImage(), last) << "no preview while hidden, not even of a grab";
}

TEST(CaptureWindow, WindowMoveHidesAndShowsIt) {
    PanelRig rig(CameraKind::Simulated);
    rig.panel->show();
    CaptureWindow* window = rig.window();
    ASSERT_NE(window, nullptr);
    int hides = 0;
    int shows = 0;
    struct Counter : QObject {
        int& hides;
        int& shows;
        Counter(int& h, int& s) : hides(h), shows(s) {}
        bool eventFilter(QObject*, QEvent* e) override {
            hides += e->type() == QEvent::Hide;
            shows += e->type() == QEvent::Show;
            return false;
        }
    } counter(hides, shows);
    window->installEventFilter(&counter);
    rig.connection->WindowMoved();
    EXPECT_EQ(hides, 1);
    EXPECT_EQ(shows, 1);
    EXPECT_TRUE(window->isVisible());
}

TEST(CaptureWindow, WithoutACameraThereIsNoWindow) {
    PanelRig rig(CameraKind::None);
    QApplication::processEvents(); // the refused window goes with the next turn of the event loop
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(rig.window(), nullptr);
    EXPECT_EQ(rig.state->CaptureReady, 0);
    EXPECT_FALSE(captureWindowFactory(nullptr, driverFactory({CameraKind::Simulated, {}}))());
}

class AbortingInput : public ::testing::TestWithParam<int> {};

TEST_P(AbortingInput, EndsTheStreamingCapture) {
    PanelRig rig(CameraKind::Simulated);
    rig.panel->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(rig.panel.get()));
    rig.state->RecordTimeLimit = 20;
    rig.connection->StartSequence();
    ASSERT_EQ(rig.connection->CaptureStatus.capturingNow, 1u);
    QTest::qWait(80);
    switch (GetParam()) {
    case 0:
        QTest::keyClick(rig.panel.get(), Qt::Key_Escape);
        break;
    case 1:
        QTest::mouseClick(rig.panel.get(), Qt::LeftButton);
        break;
    default:
        QTest::mouseClick(rig.panel.get(), Qt::RightButton);
        break;
    }
    rig.window()->waitForSequence();
    rig.connection->RefreshStatus();
    EXPECT_EQ(rig.connection->CaptureStatus.capturingNow, 0u);
    EXPECT_EQ(rig.sink->finishes, 1);
    EXPECT_LT(rig.sink->frameCount(), 100);
    // The window is told what ended it, to say so.
    EXPECT_EQ(rig.connection->CaptureStatus.aborted,
              GetParam() == 0 ? SequenceAbort::Key : SequenceAbort::Mouse);
}

INSTANTIATE_TEST_SUITE_P(EscapeLeftRight, AbortingInput, ::testing::Values(0, 1, 2));

TEST(CaptureWindow, OtherKeysLeaveTheCaptureRunning) {
    PanelRig rig(CameraKind::Simulated);
    rig.panel->show();
    rig.state->RecordTimeLimit = 1;
    rig.connection->StartSequence();
    QTest::keyClick(rig.panel.get(), Qt::Key_A);
    rig.window()->waitForSequence();
    EXPECT_EQ(rig.sink->frameCount(), 29);
}

// "Features" offers a control with named states as a list of their names: the simulated camera's "Sample in
// the beam" shows its three choices, hands on the value of the one picked and goes back to its default.
TEST(SourceDialog, NamedStatesAreAListThatHandsOnTheirValues) {
    SimulatedCamera camera;
    std::vector<std::pair<std::uint32_t, std::int32_t>> applied;
    QStringList offered;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        const QList<QComboBox*> lists = dialog->findChildren<QComboBox*>();
        ASSERT_EQ(lists.size(), 1);
        for (int i = 0; i < lists[0]->count(); ++i) {
            offered << lists[0]->itemText(i);
        }
        EXPECT_EQ(lists[0]->currentText(), "sample");
        lists[0]->setCurrentIndex(1);
        lists[0]->setCurrentIndex(2);
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::RestoreDefaults)->click();
        dialog->reject();
    });
    QtCaptureDialogs().adjustSource(camera.sourceControls(), [&](std::uint32_t id, std::int32_t value) {
        applied.emplace_back(id, value);
    });
    EXPECT_EQ(offered,
              (QStringList{"sample", "blank slide (optics in, no sample)", "bare light (optics out)"}));
    const std::uint32_t beam = SimulatedCamera::kSampleInBeam;
    EXPECT_EQ(applied, (std::vector<std::pair<std::uint32_t, std::int32_t>>{
                           {beam, SimulatedCamera::kBlankSlideInBeam},
                           {beam, SimulatedCamera::kBareLightInBeam},
                           {beam, SimulatedCamera::kSampleInBeamValue}}));
}

} // namespace
} // namespace kestrane
