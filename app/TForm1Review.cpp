// The main window's movie review: the "AVI-Viewer" box, the movie on the "Analyse Data" page and the pixel
// time trace drawn on the X - T plot.
#include "app/TForm1.h"
#include "ui/DecimalSeparator.h"

#include "analysis/MeasurementState.h"
#include "imaging/Bmp.h"
#include "plot/MathImge.h"
#include "review/AviPlayer.h"
#include "review/ReaderFrameSource.h"
#include "ui/Dialogs.h"
#include "ui/ImageConversion.h"

#include <QBuffer>
#include <QCheckBox>
#include <QFileInfo>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <algorithm>
#include <stdexcept>

using kestrane::measurementState;

namespace {

// A read-only bottom-up view of a 32-bit picture; an empty view for anything else (nothing to sample).
kestrane::FrameView readView(const QImage& image) {
    if (image.isNull() ||
        (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32)) {
        return kestrane::FrameView{};
    }
    // Sampling only reads: the picture is not detached from the copies that share it.
    return kestrane::FrameView{const_cast<std::uint8_t*>(image.constScanLine(image.height() - 1)),
                               image.width(), image.height(),
                               -static_cast<std::ptrdiff_t>(image.bytesPerLine())};
}

QString movieLabel(const QString& path) {
    return path.size() <= 30 ? path : QStringLiteral("...") + path.right(25);
}

void saveOrThrow(const QString& path, const std::vector<std::uint8_t>& bytes) {
    std::string error;
    if (!kestrane::writeFileReplacing(path.toLocal8Bit().toStdString(), bytes, error)) {
        throw std::runtime_error(error);
    }
}

const QString kCsvFilter = QStringLiteral("Comma-separated values (*.csv)");

enum class SaveFormat { Bmp, Png, Csv, Refused };

// The file type a saved name asks for by its extension. A name without one gets ".bmp"; an extension that
// cannot be written is refused with a message naming those that can, so no file carries a misleading name.
SaveFormat saveFormatOf(QString& file, bool csvAccepted) {
    const QString suffix = QFileInfo(file).suffix().toLower();
    if (suffix.isEmpty()) {
        file += file.endsWith('.') ? QStringLiteral("bmp") : QStringLiteral(".bmp");
        return SaveFormat::Bmp;
    }
    if (suffix == "bmp") {
        return SaveFormat::Bmp;
    }
    if (suffix == "png") {
        return SaveFormat::Png;
    }
    if (suffix == "csv" && csvAccepted) {
        return SaveFormat::Csv;
    }
    dialogs().message(QStringLiteral("%1 was not saved: the name must end in %2.")
                          .arg(QFileInfo(file).fileName(), csvAccepted ? QStringLiteral(".bmp, .png or .csv")
                                                                       : QStringLiteral(".bmp or .png")));
    return SaveFormat::Refused;
}

std::vector<std::uint8_t> encodePicture(const QImage& picture, SaveFormat format) {
    if (format != SaveFormat::Png) {
        return kestrane::encodeBmp(toBitmap(picture));
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!picture.save(&buffer, "PNG")) {
        throw std::runtime_error("The picture could not be encoded as PNG.");
    }
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

} // namespace

void TForm1::connectReviewHandlers() {
    reviewSource_ = std::make_unique<ReaderFrameSource>();
    viewer_ = std::make_unique<kestrane::MovieViewer>(*reviewSource_);
    connect(LoadAVI, &QPushButton::clicked, this, &TForm1::LoadAVIClick);
    connect(StopMovie, &QPushButton::clicked, this, &TForm1::StopMovieClick);
    connect(ShowMovie, &QPushButton::clicked, this, &TForm1::ShowMovieClick);
    connect(SingleFrames, &QCheckBox::toggled, this, &TForm1::SingleFramesClick);
    connect(Timer3, &QTimer::timeout, this, &TForm1::Timer3Timer);
    connect(UpDown1, &TUpDown::clicked, this, &TForm1::UpDown1Click);
    connect(ClearGraph, &QPushButton::clicked, this, &TForm1::ClearGraphClick);
    connect(SaveXtplot, &QPushButton::clicked, this, &TForm1::SaveXtplotClick);
    connect(saveimage, &QPushButton::clicked, this, &TForm1::saveimageClick);
    connect(TrackBar4, &QSlider::valueChanged, this, &TForm1::TrackBar4Change);
    // "Work Offline" takes the reader the review steps: the review stops rather than plot the offline file.
    connect(Offline, &QCheckBox::toggled, this, [this](bool on) {
        if (on) {
            Timer3->stop();
            UpDown1->setEnabled(false);
        }
    });
    // The label follows the pointer even while no button is held.
    Image5->setMouseTracking(true);
    connect(Image5, &TImage::mouseDown, this, &TForm1::Image5MouseDown);
    connect(Image5, &TImage::mouseMove, this, &TForm1::Image5MouseMove);
    connect(Image5, &TImage::doubleClicked, this, &TForm1::Image5DblClick);
}

// ---- "AVI-Viewer"
// ------------------------------------------------------------------------------------------

void TForm1::LoadAVIClick() {
    StopMovieClick();
    setTimer2Enabled(false);
    const QString file = dialogs().openFileName(OpenDialog1.filter, OpenDialog1.defaultExtension);
    if (file.isEmpty()) {
        return;
    }
    QString why;
    if (!Animate1->open(file, &why)) {
        // Nothing covers the live image then, and the loop the click stopped runs again.
        GroupBox4Click();
        throw std::runtime_error(QStringLiteral("Cannot open AVI\n%1: %2").arg(file, why).toStdString());
    }
    GroupBox4->setGeometry(384, 0, 377, 257);
    GroupBox4->setTitle("AVI-Movie");
    GroupBox4->show();
    GroupBox4->raise();
    showMovieName(movieLabel(file), file);
    Animate1->show();
    Animate1->play();
}

void TForm1::StopMovieClick() {
    GroupBox4Click();
    showMovieName("No Movie Loaded", QString());
}

void TForm1::showMovieName(const QString& text, const QString& fullPath) {
    // The label spans the box's inside; a path in the window's font would not fit there, so its font shrinks
    // (no further than 7 pixels) until it does. The full path is the tooltip.
    const int margin = 8;
    Label10->setGeometry(margin, 101, GroupBox9->width() - 2 * margin, 16);
    QFont font = this->font();
    if (font.pixelSize() <= 0) {
        font.setPixelSize(QFontInfo(font).pixelSize());
    }
    while (font.pixelSize() > 7 && QFontMetrics(font).horizontalAdvance(text) > Label10->width()) {
        font.setPixelSize(font.pixelSize() - 1);
    }
    Label10->setFont(font);
    Label10->setText(text);
    Label10->setToolTip(fullPath);
}

// ---- the movie on "Analyse Data"
// ----------------------------------------------------------------------------

void TForm1::ShowMovieClick() {
    SingleFramesClick();
    Timer3->stop();
    const QString file = dialogs().openFileName(OpenDialog1.filter, OpenDialog1.defaultExtension);
    if (file.isEmpty()) {
        return;
    }
    // The review takes the reader that "Work Offline" steps.
    offlineLost();
    reviewSource_->setFrameIndex(0);
    reviewSource_->hideWindow();
    clip_.reset();
    trace_.setFrameTimes({});
    PlotNote->hide();
    reviewSource_->open(file.toLocal8Bit().toStdString());
    viewer_->opened();
    UpDown1->setEnabled(true);
    takeClipSettings(file);
    plotSetUp();
    if (!SingleFrames->isChecked()) {
        Timer3->start();
    }
}

void TForm1::SingleFramesClick() {
    UpDown1->setPosition(1);
    UpDown1->setVisible(SingleFrames->isChecked());
    UpDown1->setEnabled(false);
}

void TForm1::showReviewFrame() {
    copyToImage(reviewSource_->frame(), Image6->picture());
    Image6->update();
    Image5->setPicture(Image6->picture());
    // The picture gets its own pixels here, so the rectangle never reaches the clean copy.
    picker_.frameReplaced(frameViewOf(Image5->picture()), measurementState());
}

void TForm1::Timer3Timer() {
    Timer3->stop();
    const kestrane::TraceSettings settings = traceSettings();
    const kestrane::ReviewStep step = viewer_->playTick([this] { showReviewFrame(); });
    if (step.interrupted || !step.traced) {
        return;
    }
    Timer3->start();
    traceStep(settings, step.shownFrame);
}

void TForm1::UpDown1Click() {
    Timer3->stop();
    const kestrane::StepperRange range = kestrane::MovieViewer::stepperRange(reviewSource_->frameCount());
    UpDown1->setRange(range.minimum, range.maximum);
    const int position = UpDown1->position();
    const kestrane::TraceSettings settings = traceSettings();
    const kestrane::ReviewStep step = viewer_->singleStep(position, [this] { showReviewFrame(); });
    if (step.interrupted) {
        return;
    }
    if (!step.traced) {
        UpDown1->hide();
        return;
    }
    traceStep(settings, step.shownFrame);
}

// ---- the pixel time trace ---------------------------------------------------------------------------------

kestrane::MapKind TForm1::selectedQuantity() const {
    if (RadioButton2->isChecked()) {
        return kestrane::MapKind::Extinction;
    }
    if (RadioButton3->isChecked()) {
        return kestrane::MapKind::Transmission;
    }
    return kestrane::MapKind::SinD;
}

kestrane::TraceSettings TForm1::traceSettings() const {
    const kestrane::MeasurementState& state = measurementState();
    return kestrane::clipTraceSettings(TypeOfflineMovie->isChecked() ? state.OfflineFrameSeconds
                                                                     : state.ClipFrameSeconds,
                                       selectedQuantity(), state.MaxSin, clip_ ? &*clip_ : nullptr);
}

void TForm1::takeClipSettings(const QString& file) {
    std::string error;
    if (!kestrane::readClipSettings(file.toLocal8Bit().toStdString(), reviewSource_->frameCount(), clip_,
                                    error)) {
        // The movie plays all the same, on the slider's MaxSin and the counted time step.
        PlotNote->setText(QStringLiteral("settings not read: %1").arg(QString::fromLocal8Bit(error)));
    } else {
        PlotNote->setText(QString::fromStdString(kestrane::clipSettingsNote(clip_ ? &*clip_ : nullptr)));
    }
    trace_.setFrameTimes(clip_ ? clip_->frameTimesS : std::vector<double>());
    PlotNote->adjustSize();
    // At the top of the plot, left of the value in Label11 and clear of the value axis' label.
    PlotNote->move(std::max(70, Label11->x() - 8 - PlotNote->width()), Label11->y() + 3);
    PlotNote->setToolTip(PlotNote->text());
    PlotNote->setVisible(!PlotNote->text().isEmpty());
}

void TForm1::plotSetUp() {
    const kestrane::TraceSettings settings = traceSettings();
    MathImage1->setD2WorldX1(0);
    MathImage1->setD2WorldXW(kestrane::traceSpan(settings, trace_.frameTimes(), reviewSource_->frameCount()));
    MathImage1->setD2WorldY1(0);
    MathImage1->setD2WorldYW(settings.scale * 255.0L);
    ClearGraphClick();
}

void TForm1::traceStep(const kestrane::TraceSettings& settings, std::int32_t shownFrame) {
    const kestrane::TracePoint& point = trace_.step(readView(Image6->picture()), measurementState().PickRect,
                                                    reviewSource_->frameIndex(), shownFrame, settings);
    Label11->setText(QString::fromStdString(kestrane::traceLabelText(
        point.mean, settings.scale, kestrane::LabelProduct::TraceStep, kestrane::localeDecimalSeparator())));
    Label11->adjustSize();
    if (point.startsCurve()) {
        MathImage1->D2MoveTo(point.time, point.quantity);
    } else {
        MathImage1->D2LineTo(point.time, point.quantity);
    }
}

void TForm1::ClearGraphClick() {
    MathImage1->Clear();
    MathImage1->D2DrawAxes("time (seconds)", kestrane::traceAxisLabel(selectedQuantity()), true, Qt::black,
                           Qt::black);
    trace_.clear();
}

void TForm1::TrackBar4Change() {
    maxSinChosen(TrackBar4->value());
}

void TForm1::Image5MouseDown(Qt::MouseButton, Qt::MouseButtons buttons, QPoint at) {
    try {
        picker_.mouseDown(frameViewOf(Image5->picture()), buttons.testFlag(Qt::LeftButton), at.x(), at.y(),
                          measurementState());
        Image5->update();
    } catch (const std::exception&) {
        // A press that cannot mark the region leaves the old one; the operator simply presses again.
    }
}

void TForm1::Image5MouseMove(Qt::MouseButtons buttons, QPoint at) {
    kestrane::MeasurementState& state = measurementState();
    const kestrane::QuantityScale scale = traceSettings().scale;
    if (buttons.testFlag(Qt::LeftButton) && state.PickActive != 0) {
        picker_.mouseMove(frameViewOf(Image5->picture()), true, at.x(), at.y(), state);
        Image5->update();
    }
    if (state.PickActive != 0) {
        const kestrane::Extended v =
            kestrane::value(readView(Image6->picture()), state.PickRect, scale.quantity);
        Label11->setText(QString::fromStdString(kestrane::traceLabelText(
            v, scale, kestrane::LabelProduct::PointerMove, kestrane::localeDecimalSeparator())));
        Label11->adjustSize();
    }
}

void TForm1::Image5DblClick() {
    picker_.doubleClick(measurementState());
}

void TForm1::SaveXtplotClick() {
    // The curve's numbers are offered after the pictures, before "All Files".
    QStringList filters = SaveDialog1.filter.split(";;");
    filters.insert(filters.size() - 1, kCsvFilter);
    QString file = dialogs().saveFileName(filters.join(";;"), SaveDialog1.defaultExtension);
    if (file.isEmpty()) {
        return;
    }
    const SaveFormat format = saveFormatOf(file, true);
    if (format == SaveFormat::Csv) {
        const std::string text = kestrane::traceCsv(trace_.points());
        saveOrThrow(file, std::vector<std::uint8_t>(text.begin(), text.end()));
    } else if (format != SaveFormat::Refused) {
        saveOrThrow(file, encodePicture(MathImage1->Bitmap(), format));
    }
}

void TForm1::saveimageClick() {
    QString file = dialogs().saveFileName(SaveDialog1.filter, SaveDialog1.defaultExtension);
    if (file.isEmpty()) {
        return;
    }
    const SaveFormat format = saveFormatOf(file, false);
    if (format == SaveFormat::Refused) {
        return;
    }
    QImage picture = Image5->picture();
    if (picture.isNull()) {
        // Before the first frame the control shows its empty area; that is what gets saved.
        picture = QImage(Image5->size(), QImage::Format_RGB32);
        picture.fill(Image5->palette().window().color());
    }
    saveOrThrow(file, encodePicture(picture, format));
}
