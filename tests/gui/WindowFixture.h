// Shared set-up of the main-window tests: a temporary working and data directory, scripted dialogs, a fresh
// measurement state, and test frames with known analysis results.
#pragma once

#include "FakeDialogs.h"
#include "analysis/MeasurementState.h"
#include "app/TForm1.h"
#include "review/FrameSource.h"
#include "ui/ImageConversion.h"

#include <QDir>
#include <QImage>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

// The one way the tests reach the window's private controls.
class TForm1Probe {
  public:
    static TForm1Controls& controls(TForm1& form) { return form; }
};

inline TForm1Controls& controls(TForm1& form) {
    return TForm1Probe::controls(form);
}

// A frame whose quadrants are uniform: red bytes a, b, c, d of Quadrants A (bottom left), B (bottom right),
// C (top left) and D (top right).
inline QImage quadrantFrame(int a, int b, int c, int d) {
    QImage frame(640, 480, QImage::Format_RGB32);
    for (int r = 0; r < 480; ++r) {
        for (int x = 0; x < 640; ++x) {
            const bool top = r < 240;
            const bool right = x >= 320;
            const int red = top ? (right ? d : c) : (right ? b : a);
            frame.setPixel(x, r, qRgb(red, 0, 0));
        }
    }
    return frame;
}

// The worked example of the analysis: |sin δ| byte 76, extinction byte 143, transmission byte 115.
inline QImage workedExampleFrame() {
    return quadrantFrame(120, 100, 90, 130);
}

// A recorded movie of `count` frames that all show `frame`, as "Work Offline" and the offline clip step it;
// it counts what the window does to it.
class StillFrameSource : public kestrane::FrameSource {
  public:
    StillFrameSource(int count, QImage frame)
        : count_(count), frame_(std::move(frame)), view_(frameViewOf(frame_)) {}
    StillFrameSource(const StillFrameSource&) = delete;
    StillFrameSource& operator=(const StillFrameSource&) = delete;

    void open(const std::string&) override { ++opens; }
    bool isOpen() const override { return true; }
    void close() override { ++closes; }
    std::int32_t frameCount() const override { return count_; }
    std::int32_t frameIndex() const override { return index; }
    void setFrameIndex(std::int32_t i) override { index = i; }
    bool step() override {
        ++index;
        return true;
    }
    kestrane::FrameView frame() const override { return view_; }
    void hideWindow() override { ++hides; }

    std::int32_t index = 0;
    int closes = 0;
    int hides = 0;
    int opens = 0;

  private:
    std::int32_t count_;
    QImage frame_;
    kestrane::FrameView view_;
};

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(directory_.isValid());
        previousDirectory_ = QDir::currentPath();
        QDir::setCurrent(directory_.path());
        qputenv("KESTRANE_DATA_DIR", (directory_.path() + "/data").toLocal8Bit());
        // What the window keeps between runs stays in the test's folder, never in the user's settings.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, directory_.path() + "/settings");
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, directory_.path() + "/settings");
        kestrane::resetMeasurementState();
    }
    void TearDown() override {
        form.reset();
        QDir::setCurrent(previousDirectory_);
    }

    // A window whose camera always delivers `frame` (no camera when the frame is null).
    template <typename Form = TForm1> Form& makeForm(const QImage& frame) {
        std::unique_ptr<CaptureSeam> capture;
        if (!frame.isNull()) {
            capture = std::make_unique<StillFrameCapture>(frame);
        }
        auto owned = std::make_unique<Form>(std::move(capture));
        Form& made = *owned;
        form = std::move(owned);
        return made;
    }

    // Shows the window and lets its first activation run.
    void showAndActivate() {
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        QCoreApplication::processEvents();
        ASSERT_NE(measurementState().tables.generation, 0u);
    }

    static kestrane::MeasurementState& measurementState() { return kestrane::measurementState(); }

    // The controls of the window under test.
    TForm1Controls& ui() { return controls(*form); }

    QString path(const QString& name) const { return directory_.filePath(name); }

    FakeDialogs dialogs;
    std::unique_ptr<TForm1> form;

  private:
    QTemporaryDir directory_;
    QString previousDirectory_;
};
