// The guide on the "HowTo" page: a session from the background to the measurement, in the window's own
// captions, beside the camera's "Format" and "Features" buttons.
#include "app/TForm1.h"

#include <QFrame>
#include <QLabel>
#include <QRegularExpression>

namespace {

// Every quoted caption is one the window (or the simulated camera's "Features" dialog) shows.
const char* const kGuide = R"guide(<b>A session</b>
<p><b>The four views.</b> The camera looks through an image-splitting polariser: every frame holds four views of
the same field, each through an analyser at another angle ("Preview" shows them as they come). Kestrane
combines them pixel by pixel into the three maps of the page "Kestrane": "|sin(delta)|" (how strongly the
sample retards light), "Extinction" (the direction of its slow axis) and "Live Image" (the light it passes).</p>
<p><b>Camera.</b> "Format" chooses the camera's pixel layout, "Features" its brightness, contrast, exposure
and gain.</p>
<p><b>Objective and scale.</b> Choose the objective under "Settings": "4x", "10x" or "40x". The scale bars
beside the maps follow it, and so does the background used.</p>
<p><b>Background, with the optics out.</b> Take all optical components and the sample out of the beam, open
"Preview" and press "Intensitycorrection": the mean of 16 frames becomes the background of the objective
chosen and evens out the light from then on. Once per objective; it is kept for the next run. (Simulated
camera: "Features", "Sample in the beam", "bare light (optics out)".) Then put the optics back in: a blank
slide should read almost nothing in "|sin(delta)|".</p>
<p><b>Recording.</b> "|sine(d)| clip", "Extinction clip" or "Transmission" under "Save *.AVI Movie" record
a clip of that map; the sliders below set its frames and the delay between them. "Save Offline Video" on
"Preview" records the raw camera picture instead, as offline.avi in the data folder.</p>
<p><b>Working offline.</b> Tick "Work Offline" and press "Start Action": the maps are worked out from
offline.avi frame by frame, as if it came from the camera, and a clip can be recorded from them.</p>
<p><b>Reviewing with a trace.</b> On "Analyse Data", "Show Movie" plays a clip; drag a rectangle or click a
point on it and the "X - T plot" draws its value over time: "|sin(d)|", "extinction" or "trnasmission".
"Single Frames" steps by hand. A clip's own MaxSin and frame times are taken from the settings file beside
it. "Save x/t plot" and "save image" keep what you see.</p>
<p><b>Measuring.</b> The page "Measure" gives retardance in nm and orientation in degrees, live, for a region
you mark on its map, with a histogram.</p>
<p>The line at the bottom counts the frames analysed per second and the camera frames dropped, and names
the source and the data folder.</p>)guide";

} // namespace

void TForm1::buildHowToGuide() {
    const int left = Panel4->geometry().right() + 12;
    HowToGuide = new QLabel(TabSheet3);
    HowToGuide->setObjectName("HowToGuide");
    HowToGuide->setTextFormat(Qt::RichText);
    HowToGuide->setWordWrap(true);
    HowToGuide->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // A caption is never broken across lines: "|sin(delta)|" split after its bar reads as two words.
    static const QRegularExpression caption(QStringLiteral("(\"[^\"<]+\")"));
    HowToGuide->setText(QString::fromUtf8(kGuide).replace('\n', ' ').replace(
        caption, QStringLiteral("<span style=\"white-space:nowrap\">\\1</span>")));
    HowToGuide->setGeometry(left, 8, 769 - left, 505);
}
