// The "Measure" page in the window: built after "Analyse Data", fed by the analysis pass while it is shown,
// and the export of the current frame's quantities.
#include "app/TForm1.h"

#include "analysis/MeasurementState.h"
#include "measure/QuantityExport.h"
#include "ui/Dialogs.h"
#include "ui/ImageConversion.h"
#include "ui/MeasurePage.h"

#include <QFrame>
#include <QTabWidget>

void TForm1::buildMeasurePage() {
    Measure = new MeasurePage;
    Measure->setObjectName("Measure");
    PageControl1->addTab(Measure, "Measure");
    connect(Measure, &MeasurePage::exportRequested, this, &TForm1::ExportMapsClick);
}

void TForm1::MeasureShow() {
    Panel2->hide();
    // The page shows live numbers: showing it runs a pass, which keeps the loop going as "Kestrane" does.
    TarvolundClick();
}

void TForm1::measurePass() {
    kestrane::computeQuantities(work_.view(), kestrane::measurementState(), Measure->wavelengthNm(),
                                Measure->quantities());
    Measure->showQuantities(selectedObjective());
}

double TForm1::wavelengthNm() const {
    return Measure->wavelengthNm();
}

double TForm1::pixelSizeUm(int objective) const {
    return Measure->pixelSizeUm(objective);
}

void TForm1::ExportMapsClick() {
    const QString fileName = dialogs().saveFileName("TIFF Image (*.tif *.tiff);;All Files (*)", "tif");
    if (fileName.isEmpty()) {
        return;
    }
    // The frame on show now, analysed with the calibration on the page.
    kestrane::Bitmap frame;
    copyToBitmap(Image1->picture(), frame);
    kestrane::QuantityMaps maps;
    kestrane::computeQuantities(frame.view(), kestrane::measurementState(), Measure->wavelengthNm(), maps);
    kestrane::RecordingSettings settings =
        recordingSettings(*this, "raw", std::nullopt, capture_->cameraText());
    std::string error;
    if (!kestrane::exportQuantityTiff(fileName.toStdString(), maps, settings, error)) {
        dialogs().message(QString::fromStdString(error));
    }
}
