// The settings file beside a recording: its keys, the start version a killed recording leaves, the end words
// of every way out, the atomic replace, the streamed capture's file and what an analysis reads back.
#include "recording/RecordingSettings.h"
#include "AviTestSupport.h"
#include "Version.h"
#include "capture/AviSequenceSink.h"
#include "recording/AviRecording.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <regex>
#include <stdexcept>
#include <unistd.h>

using namespace avitest;

namespace {

nlohmann::json readJson(const std::string& fileName) {
    std::ifstream in(fileName);
    return nlohmann::json::parse(in, nullptr, false);
}

RecordingSettings clipSettings() {
    RecordingSettings s;
    s.kind = "clip";
    s.map = MapKind::Extinction;
    s.camera = "simulated camera, 24-bit RGB, 640 x 480";
    s.objective = 10;
    s.pixelSizeUm = scaleBarPixelSizeUm(10);
    s.maxSin = 0.4;
    s.sindLimit = 12;
    s.flatField = FlatFieldFile{"/data/bg10.bmp", "2026-12-08T10:00:00+00:00"};
    return s;
}

// Frames of one picture that can look at the settings file, fail or stop at a given frame.
class ScriptedFrames : public RecordingFrames {
  public:
    std::function<void(std::int64_t)> before;
    std::int64_t stopAt = -1;
    void formatPicture(Bitmap& p) override { p = Bitmap(8, 4, 24); }
    bool makeFrame(std::int64_t i, Bitmap& p) override {
        if (before) {
            before(i);
        }
        p = Bitmap(8, 4, 24);
        return i != stopAt;
    }
    std::int32_t readerIndex() const override { return 0; }
    std::string stoppedText() const override { return "stopped by the test"; }
};

TEST(RecordingSettingsFile, HoldsEveryKeyAndOneTimePerFrameWritten) {
    ScratchDir dir;
    const std::string movie = dir.file("phi3.avi");
    RecordingSettingsFile settings(movie, clipSettings());
    ScriptedFrames frames;
    const RecordingResult result = recordAvi({movie, 10, 1, 3}, frames, aviFileCreator(), &settings);
    ASSERT_EQ(result.frames, 4);
    EXPECT_EQ(settings.fileName(), dir.file("phi3.json"));

    const nlohmann::json doc = readJson(dir.file("phi3.json"));
    ASSERT_TRUE(doc.is_object());
    std::vector<std::string> keys;
    for (const auto& [key, value] : doc.items()) {
        keys.push_back(key);
    }
    const std::vector<std::string> expected = {
        "camera",        "ended",   "flat_field", "frame_period_s", "frame_times_s",
        "frames",        "kind",    "map",        "maxsin",         "objective",
        "pixel_size_um", "program", "sind_limit", "started",        "wavelength_nm"};
    EXPECT_EQ(keys, expected); // nlohmann::json lists them sorted
    EXPECT_EQ(doc["program"], std::string("kestrane ") + kVersion);
    EXPECT_EQ(doc["kind"], "clip");
    EXPECT_EQ(doc["map"], "extinction");
    EXPECT_TRUE(std::regex_match(doc["started"].get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)")))
        << doc["started"];
    EXPECT_EQ(doc["objective"], 10);
    EXPECT_DOUBLE_EQ(doc["pixel_size_um"].get<double>(), 20.0 / 34);
    EXPECT_EQ(doc["wavelength_nm"], 546.0);
    EXPECT_EQ(doc["maxsin"], 0.4);
    EXPECT_EQ(doc["sind_limit"], 12);
    EXPECT_EQ(doc["flat_field"]["path"], "/data/bg10.bmp");
    EXPECT_EQ(doc["frame_period_s"], 0.1);
    EXPECT_EQ(doc["frames"], 4);
    const auto times = doc["frame_times_s"].get<std::vector<double>>();
    ASSERT_EQ(times.size(), 4u);
    EXPECT_EQ(times[0], 0.0);
    EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
    EXPECT_EQ(doc["ended"], "completed");
}

// Until the end is written the start version is there, whole; every way out then says how it ended.
TEST(RecordingSettingsFile, StartVersionStandsUntilTheEndWhichEveryWayOutWrites) {
    ScratchDir dir;
    const std::string movie = dir.file("offline.avi");
    const struct {
        const char* name;
        std::int64_t stopAt;
        bool throws;
        const char* ended;
        int frames;
    } cases[] = {
        {"stopped", 2, false, "stopped by the test", 2},
        {"failed", 2, true, "failed: the pass broke", 2},
    };
    for (const auto& c : cases) {
        RecordingSettings raw;
        raw.kind = "raw";
        RecordingSettingsFile settings(movie, raw);
        ScriptedFrames frames;
        frames.stopAt = c.throws ? -1 : c.stopAt;
        nlohmann::json during;
        frames.before = [&](std::int64_t i) {
            if (i == 1) {
                // What a reader finds after a kill in the middle.
                during = readJson(dir.file("offline.json"));
            }
            if (c.throws && i == c.stopAt) {
                throw std::runtime_error("the pass broke");
            }
        };
        if (c.throws) {
            EXPECT_THROW(recordAvi({movie, 10, 1, 50}, frames, aviFileCreator(), &settings),
                         std::runtime_error);
        } else {
            recordAvi({movie, 10, 1, 50}, frames, aviFileCreator(), &settings);
        }
        ASSERT_TRUE(during.is_object()) << c.name;
        EXPECT_EQ(during["ended"], kStillRecording) << c.name;
        EXPECT_EQ(during["frames"], 0) << c.name;
        EXPECT_FALSE(during.contains("map")) << c.name;
        EXPECT_TRUE(during["flat_field"].is_null()) << c.name;
        const nlohmann::json after = readJson(dir.file("offline.json"));
        EXPECT_EQ(after["ended"], c.ended) << c.name;
        EXPECT_EQ(after["frames"], c.frames) << c.name;
        EXPECT_EQ(after["frame_times_s"].size(), static_cast<std::size_t>(c.frames)) << c.name;
    }
}

TEST(RecordingSettingsFile, AMovieThatCouldNotBeMadeLeavesNoSettings) {
    ScratchDir dir;
    const std::string movie = dir.file("sind1.avi");
    RecordingSettingsFile settings(movie, clipSettings());
    ScriptedFrames frames;
    const AviFileOpener refused = [](const std::string&, AviFile**) { return kAviErrFileOpen; };
    EXPECT_EQ(recordAvi({movie, 10, 1, 3}, frames, refused, &settings).end, RecordingEnd::NotCreated);
    EXPECT_FALSE(std::filesystem::exists(dir.file("sind1.json")));
}

// The new text takes the name by a rename: the old file is never written into, and no temporary is left.
TEST(AtomicWrite, ReplacesTheFileByRenameAndLeavesItAloneOnFailure) {
    ScratchDir dir;
    const std::string name = dir.file("a.json");
    std::string error;
    ASSERT_TRUE(writeFileAtomically(name, "old", error)) << error;
    ASSERT_EQ(::link(name.c_str(), dir.file("old-link").c_str()), 0);
    ASSERT_TRUE(writeFileAtomically(name, "new", error)) << error;
    const auto text = [](const std::string& f) {
        const std::vector<std::uint8_t> b = readFileBytes(f);
        return std::string(b.begin(), b.end());
    };
    EXPECT_EQ(text(name), "new");
    EXPECT_EQ(text(dir.file("old-link")), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 2);

    EXPECT_FALSE(writeFileAtomically(dir.file("missing/a.json"), "x", error));
    EXPECT_EQ(error, "No such file or directory");
}

// The streamed capture's sink writes the start version when the stream starts and the times as it writes.
TEST(CaptureSettings, TheSinkWritesTheStartVersionThenEveryFrameTime) {
    ScratchDir dir;
    RecordingSettings raw;
    raw.kind = "raw";
    std::unique_ptr<SequenceSink> sink = makeAviSequenceSink(dir.file("offline.avi"), raw);
    Bitmap picture(8, 4, 24);
    ASSERT_EQ(sink->begin(dibHeaderOf(picture), 35000), 0);
    EXPECT_EQ(readJson(dir.file("offline.json"))["ended"], kStillRecording);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(sink->addFrame(picture.bits(), picture.sizeBytes()), 0);
    }
    ASSERT_EQ(sink->finish(), 0);
    nlohmann::json doc = readJson(dir.file("offline.json"));
    EXPECT_EQ(doc["frame_period_s"], 0.035);
    EXPECT_EQ(doc["frames"], 3);
    EXPECT_EQ(doc["frame_times_s"].size(), 3u);
    EXPECT_EQ(doc["ended"], kCaptureEnded);
    std::string error;
    ASSERT_TRUE(setRecordingEnded(dir.file("offline.json"), "stopped by the operator (Escape)", error));
    doc = readJson(dir.file("offline.json"));
    EXPECT_EQ(doc["ended"], "stopped by the operator (Escape)");
    EXPECT_EQ(doc["frames"], 3);
}

TEST(RecordedSettings, AreReadWhenSaneAndLeftOutWhenNot) {
    ScratchDir dir;
    const std::string movie = dir.file("m.avi");
    std::optional<RecordedSettings> read;
    std::string error;
    ASSERT_TRUE(readRecordedSettings(movie, read, error));
    EXPECT_FALSE(read.has_value());

    const struct {
        const char* json;
        bool ok;
        std::optional<int> objective;
        std::optional<double> wavelength;
        std::size_t times;
    } cases[] = {
        {R"({"objective":40,"wavelength_nm":633,"pixel_size_um":0.14,"frame_times_s":[0,0.1]})", true, 40,
         633, 2},
        {R"({"objective":7,"wavelength_nm":2000})", true, std::nullopt, std::nullopt, 0},
        {R"({"frame_times_s":[0,"soon"]})", false, std::nullopt, std::nullopt, 0},
        {R"({"objective":10,)", false, std::nullopt, std::nullopt, 0},
        {"[1,2]", false, std::nullopt, std::nullopt, 0},
    };
    for (const auto& c : cases) {
        std::ofstream(dir.file("m.json")) << c.json;
        EXPECT_EQ(readRecordedSettings(movie, read, error), c.ok) << c.json;
        if (c.ok) {
            ASSERT_TRUE(read.has_value());
            EXPECT_EQ(read->objective, c.objective) << c.json;
            EXPECT_EQ(read->wavelengthNm, c.wavelength) << c.json;
            EXPECT_EQ(read->frameTimesS.size(), c.times) << c.json;
        } else {
            EXPECT_NE(error.find("m.json"), std::string::npos) << error;
        }
    }
}

} // namespace
