// kestrane-analyse --stats: the region statistics of a frame and of every frame of a movie against their
// computation here from the pixel formula, and clean refusals of bad input.
#include "analysis/PlainAnalysis.h"
#include "cli/AnalyseCommand.h"
#include "imaging/Bmp.h"
#include "review/ReviewClips.h"

#include "TestTables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>

namespace {

using kestrane::Extended;

// The red byte of movie frame n at picture pixel (x, top). Quadrant A (bottom left, read unregistered) varies
// with place and frame, B (bottom right) steps between two values, C and D are uniform, so every map pixel's
// channels are known: map pixel (x, r) reads A at (x, 240 + r) and B at (x + 320, 240 + r).
int red(int n, int x, int top) {
    if (top < 240) {
        return x < 320 ? 90 : 130;
    }
    const int r = top - 240;
    return x < 320 ? 40 + (x * 7 + r * 3 + n * 11) % 180 : (x % 5 == 0 ? 122 : 100);
}

// a × 1.23 rounded half to even, in integers.
int gainedA(int a) {
    const int hundredths = a * 123;
    int q = hundredths / 100;
    const int rest = hundredths % 100;
    if (rest > 50 || (rest == 50 && q % 2 == 1)) {
        ++q;
    }
    return q;
}

struct Expected {
    int pixels = 0;
    double retardanceMean = 0, retardanceSd = 0, sinDMean = 0, orientationMean = NAN, orientationSpread = NAN,
           transmissionMean = 0;
};

// The statistics of the region from the pixel formula: combinations, |sin δ|, the quantities, then the
// definitions of the statistics.
Expected expectedStatistics(int n, int left, int top, int right, int bottom, double wavelength) {
    const kestrane::Tables& tables = kestrane::test::builtTables();
    const double d = 180.0 / std::numbers::pi;
    std::vector<double> nm;
    Expected e;
    Extended sinD = 0, transmission = 0, s2 = 0, c2 = 0;
    int oriented = 0;
    for (int r = top; r <= bottom; ++r) {
        for (int x = left; x <= right; ++x) {
            const int a = gainedA(red(n, x, 240 + r));
            const int b = red(n, x + 320, 240 + r);
            const int dPrime = 122; // 130 × 0.94
            const int sum = (b + a + dPrime + 90) / 4;
            const int cx = (a - 90) / 2;
            const int cy = (b - dPrime) / 2;
            const double v = kestrane::plain::sinDValue(tables, cx, cy, sum);
            nm.push_back(std::asin(v) * wavelength / (2 * std::numbers::pi));
            sinD += v;
            transmission += 100.0L * sum / 255.0L;
            if (cx != 0 || cy != 0) {
                const double theta = 90.0 - 0.5 * std::atan2(cy, cx) * d;
                s2 += std::sin(2 * theta / d);
                c2 += std::cos(2 * theta / d);
                ++oriented;
            }
        }
    }
    e.pixels = static_cast<int>(nm.size());
    double total = 0;
    for (const double value : nm) {
        total += value;
    }
    e.retardanceMean = total / e.pixels;
    double squares = 0;
    for (const double value : nm) {
        squares += (value - e.retardanceMean) * (value - e.retardanceMean);
    }
    e.retardanceSd = std::sqrt(squares / e.pixels);
    e.sinDMean = static_cast<double>(sinD / e.pixels);
    e.transmissionMean = static_cast<double>(transmission / e.pixels);
    const double length = std::hypot(static_cast<double>(s2), static_cast<double>(c2)) / oriented;
    e.orientationMean =
        std::fmod(0.5 * std::atan2(static_cast<double>(s2), static_cast<double>(c2)) * d + 180.0, 180.0);
    e.orientationSpread = 0.5 * std::sqrt(-2 * std::log(length)) * d;
    return e;
}

std::vector<std::vector<std::string>> csvRows(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, ',');) {
            fields.push_back(cell);
        }
        rows.push_back(fields);
    }
    return rows;
}

void expectRow(const std::vector<std::string>& row, int frame, double time, const Expected& e) {
    ASSERT_EQ(row.size(), 9u);
    EXPECT_EQ(row[0], std::to_string(frame));
    EXPECT_NEAR(std::stod(row[1]), time, 1e-9) << "frame " << frame;
    EXPECT_EQ(std::stoi(row[2]), e.pixels) << "frame " << frame;
    EXPECT_NEAR(std::stod(row[3]), e.retardanceMean, 1e-4) << "frame " << frame;
    EXPECT_NEAR(std::stod(row[4]), e.retardanceSd, 1e-4) << "frame " << frame;
    EXPECT_NEAR(std::stod(row[5]), e.sinDMean, 1e-6) << "frame " << frame;
    EXPECT_NEAR(std::stod(row[6]), e.orientationMean, 1e-4) << "frame " << frame;
    EXPECT_NEAR(std::stod(row[7]), e.orientationSpread, 1e-4) << "frame " << frame;
    EXPECT_NEAR(std::stod(row[8]), e.transmissionMean, 1e-4) << "frame " << frame;
}

class StatsCommand : public ::testing::Test {
  protected:
    int run(std::vector<std::string> args) {
        err.str("");
        return kestrane::runAnalyseCommand(args, err);
    }
    std::string out() const { return dir.file("out.csv"); }
    avitest::ScratchDir dir;
    std::ostringstream err;
};

const char* kHeader =
    "frame,time_s,pixels,retardance_mean_nm,retardance_sd_nm,sind_mean,orientation_mean_deg,"
    "orientation_spread_deg,transmission_mean_pct";

TEST_F(StatsCommand, AFrameGivesOneRowAsThePixelFormulaComputesIt) {
    kestrane::Bitmap frame(640, 480, 32);
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
            frame.view().pixel(x, y)[2] = static_cast<std::uint8_t>(red(0, x, 479 - y));
        }
    }
    std::string error;
    ASSERT_TRUE(kestrane::writeBmpFile(dir.file("frame.bmp"), frame, error)) << error;
    const struct {
        std::vector<std::string> options;
        int left, top, right, bottom;
        double wavelength;
    } cases[] = {
        {{"--stats=250,200,20,30"}, 20, 30, 250, 200, 546},
        {{"--stats=-5,-5,10,10", "--wavelength=633"}, 0, 0, 10, 10, 633},
        {{"--stats=100,100,100,100"}, 100, 100, 100, 100, 546},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.options;
        args.push_back(dir.file("frame.bmp"));
        args.push_back(out());
        ASSERT_EQ(run(args), 0) << err.str();
        const auto rows = csvRows(reviewtest::fileText(out()));
        ASSERT_EQ(rows.size(), 2u) << c.options[0];
        EXPECT_EQ(reviewtest::fileText(out()).substr(0, std::string(kHeader).size()), kHeader);
        expectRow(rows[1], 0, 0.0, expectedStatistics(0, c.left, c.top, c.right, c.bottom, c.wavelength));
    }
}

// Each frame at its place times the movie's period, or at the frame time its settings file gives, whose
// wavelength counts unless --wavelength says otherwise.
TEST_F(StatsCommand, EveryFrameOfAMovieGetsItsRowAndTime) {
    const std::string movie = dir.file("clip.avi");
    ASSERT_TRUE(reviewtest::writeRedClip(movie, 4, red, avitest::ClipSpec{640, 480, 32, 25}));
    const struct {
        const char* json; // none when null
        std::vector<std::string> options;
        std::vector<double> times;
        double wavelength;
    } cases[] = {
        {nullptr, {}, {0, 0.04, 0.08, 0.12}, 546},
        {R"({"wavelength_nm": 633, "frame_times_s": [0, 0.05, 0.11, 0.16]})", {}, {0, 0.05, 0.11, 0.16}, 633},
        {R"({"wavelength_nm": 633, "frame_times_s": [0, 0.05, 0.11, 0.16]})",
         {"--wavelength=450"},
         {0, 0.05, 0.11, 0.16},
         450},
        {R"({"frame_times_s": [0, 0.05]})", {}, {0, 0.04, 0.08, 0.12}, 546},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(dir.file("clip.json"));
        if (c.json != nullptr) {
            std::ofstream(dir.file("clip.json")) << c.json;
        }
        std::vector<std::string> args = c.options;
        args.insert(args.begin(), "--stats=5,6,300,230");
        args.push_back(movie);
        args.push_back(out());
        ASSERT_EQ(run(args), 0) << err.str();
        const auto rows = csvRows(reviewtest::fileText(out()));
        ASSERT_EQ(rows.size(), 5u) << (c.json ? c.json : "no settings file");
        for (int n = 0; n < 4; ++n) {
            expectRow(rows[static_cast<std::size_t>(n + 1)], n, c.times[static_cast<std::size_t>(n)],
                      expectedStatistics(n, 5, 6, 300, 230, c.wavelength));
        }
    }
}

TEST_F(StatsCommand, BadInputExitsWithOneLineAndWritesNothing) {
    const std::string movie = dir.file("clip.avi");
    ASSERT_TRUE(reviewtest::writeRedClip(movie, 2, red, avitest::ClipSpec{640, 480, 32, 25}));
    const std::string small = dir.file("small.avi");
    ASSERT_TRUE(reviewtest::writeRedClip(small, 2, red));
    const std::vector<std::vector<std::string>> cases = {
        {"--stats=1,2,3", movie, out()},
        {"--stats=1,2,3,4,5", movie, out()},
        {"--stats=1,2,x,4", movie, out()},
        {"--stats=", movie, out()},
        {"--stats=320,0,400,10", movie, out()},
        {"--stats=-9,-9,-1,-1", movie, out()},
        {"--stats=1,2,3,4", "--wavelength=300", movie, out()},
        {"--stats=1,2,3,4", "--wavelength=5e2x", movie, out()},
        {"--stats=1,2,3,4", "--objective=10", movie, out()},
        {"--stats=1,2,3,4", "--flatfield=" + dir.file("missing.bmp"), movie, out()},
        {"--stats=1,2,3,4", small, out()},
        {"--stats=1,2,3,4", dir.file("missing.avi"), out()},
        {"--stats=1,2,3,4", movie},
        {"--stats=1,2,3,4", movie, dir.file("missing/out.csv")},
    };
    for (const auto& args : cases) {
        EXPECT_EQ(run(args), 2) << args[0] << " " << args[1];
        const std::string message = err.str();
        EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
        EXPECT_FALSE(std::filesystem::exists(out())) << message;
    }
    // The movie named as the output is refused, and stays as it was.
    const std::string before = reviewtest::fileText(movie);
    EXPECT_EQ(run({"--stats=1,2,3,4", movie, movie}), 2);
    EXPECT_EQ(reviewtest::fileText(movie), before);
}

} // namespace
