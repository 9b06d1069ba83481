// Frames on several workers: results consumed in frame order within bounded memory, the first failure
// stopping the run and thrown once, and the maps of a movie byte for byte those of one worker.
#include "cli/FramePipeline.h"
#include "cli/AnalyseCommand.h"
#include "imaging/Bmp.h"

#include "SimulatedRecording.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <numeric>
#include <set>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace kestrane {
namespace {

namespace fs = std::filesystem;

// A per-frame result with the frame it was computed for, so that a mix-up of buffers shows.
struct Numbered {
    std::int32_t frame = -1;
    std::uint64_t value = 0;
};

std::uint64_t valueOf(std::int32_t n) {
    return static_cast<std::uint64_t>(n) * 2654435761u;
}

// Computations that take uneven time, so that later frames often finish first.
void unevenDelay(std::int32_t n) {
    std::this_thread::sleep_for(std::chrono::microseconds((n * 7919) % 5 == 0 ? 300 : 10));
}

TEST(FramePipeline, EveryFrameIsConsumedOnceInOrderWithFewInFlight) {
    struct Case {
        int workers;
        std::int32_t count;
    };
    for (const Case c : {Case{0, 7}, Case{1, 0}, Case{1, 7}, Case{2, 1}, Case{2, 2}, Case{2, 60},
                         Case{3, 100}, Case{8, 40}}) {
        std::mutex mutex;
        std::int32_t started = 0;
        std::int32_t consumedCount = 0;
        std::int32_t mostInFlight = 0;
        std::set<std::thread::id> computeThreads;
        std::vector<std::int32_t> order;
        runFramePipeline<Numbered>(
            c.count, c.workers,
            [&](std::int32_t n, Numbered& r) {
                {
                    const std::lock_guard lock(mutex);
                    ++started;
                    mostInFlight = std::max(mostInFlight, started - consumedCount);
                    computeThreads.insert(std::this_thread::get_id());
                }
                unevenDelay(n);
                r = Numbered{n, valueOf(n)};
            },
            [&](std::int32_t n, Numbered& r) {
                EXPECT_EQ(r.frame, n) << c.workers << " workers";
                EXPECT_EQ(r.value, valueOf(n));
                order.push_back(n);
                const std::lock_guard lock(mutex);
                ++consumedCount;
            });
        std::vector<std::int32_t> expected(static_cast<std::size_t>(c.count));
        std::iota(expected.begin(), expected.end(), 0);
        EXPECT_EQ(order, expected) << c.workers << " workers, " << c.count << " frames";
        EXPECT_LE(mostInFlight, std::max(1, 2 * c.workers)) << c.workers << " workers";
        if (c.workers > 1 && c.count > 20) {
            EXPECT_GT(computeThreads.size(), 1u) << "the frames ran on one thread";
        }
    }
}

// The first failure ends the run: what comes before it is consumed as by one worker, nothing after it is,
// and it is the exception that leaves.
TEST(FramePipeline, TheFirstFailureStopsTheRunAndIsThrown) {
    struct Case {
        const char* name;
        std::set<std::int32_t> computeFails;
        std::int32_t consumeFails; // -1: never
        std::int32_t consumedBefore;
        const char* thrown;
    };
    const Case cases[] = {
        {"computation of frame 7 fails", {7}, -1, 7, "compute 7"},
        {"two fail; the earlier frame's is thrown", {19, 5}, -1, 5, "compute 5"},
        {"the first frame fails", {0}, -1, 0, "compute 0"},
        {"the last frame fails", {39}, -1, 39, "compute 39"},
        {"writing frame 4 fails", {}, 4, 4, "consume 4"},
        {"writing fails before a later computation would", {30}, 12, 12, "consume 12"},
    };
    for (const Case& c : cases) {
        for (int workers : {0, 1, 3}) {
            std::atomic<std::int32_t> computed{0};
            std::vector<std::int32_t> consumed;
            std::string thrown;
            try {
                runFramePipeline<Numbered>(
                    40, workers,
                    [&](std::int32_t n, Numbered& r) {
                        ++computed;
                        unevenDelay(n);
                        if (c.computeFails.contains(n)) {
                            throw std::runtime_error("compute " + std::to_string(n));
                        }
                        r = Numbered{n, valueOf(n)};
                    },
                    [&](std::int32_t n, Numbered&) {
                        if (n == c.consumeFails) {
                            throw std::runtime_error("consume " + std::to_string(n));
                        }
                        consumed.push_back(n);
                    });
            } catch (const std::runtime_error& e) {
                thrown = e.what();
            }
            std::vector<std::int32_t> expected(static_cast<std::size_t>(c.consumedBefore));
            std::iota(expected.begin(), expected.end(), 0);
            EXPECT_EQ(consumed, expected) << c.name << ", " << workers << " workers";
            EXPECT_EQ(thrown, c.thrown) << c.name << ", " << workers << " workers";
            // Bounded: no frame further than the in-flight window past the failure was started.
            EXPECT_LE(computed.load(), c.consumedBefore + 1 + 2 * workers) << c.name;
        }
    }
}

// A byte source that fails every read touching one offset once armed: a frame the disk cannot deliver.
class FailingSource : public AviByteSource {
  public:
    FailingSource(std::vector<std::uint8_t> bytes, std::uint64_t badOffset)
        : size_(bytes.size()), inner_(makeAviMemorySource(std::move(bytes))), bad_(badOffset) {}
    std::uint64_t size() const override { return size_; }
    bool read(std::uint64_t offset, void* into, std::size_t count) override {
        if (armed && offset <= bad_ && bad_ < offset + count) {
            return false;
        }
        return inner_->read(offset, into, count);
    }
    std::atomic<bool> armed{false};

  private:
    std::uint64_t size_;
    std::unique_ptr<AviByteSource> inner_;
    std::uint64_t bad_;
};

std::vector<std::uint8_t> readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class MovieOnWorkers : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("kestrane-pipeline-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        movie = (dir / "movie.avi").string();
        test::writeSimulatedRecording(movie, kFrames);
    }
    void TearDown() override {
        setPipelineWorkers(kDefaultPipelineWorkers);
        fs::remove_all(dir);
    }

    static constexpr int kFrames = 45;
    fs::path dir;
    std::string movie;
};

// Every file of the maps command, and what it says, on one worker and on several.
TEST_F(MovieOnWorkers, MapsAreTheSameFilesOnOneAndOnSeveralWorkers) {
    Bitmap background(640, 480, 24);
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
            background.row(y)[x * 3 + 2] = static_cast<std::uint8_t>(150 + (x * 3 + y * 5) % 100);
        }
    }
    std::string error;
    ASSERT_TRUE(writeBmpFile((dir / "background.bmp").string(), background, error)) << error;
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{}, {"--maxsin=0.4", "--flatfield=" + (dir / "background.bmp").string()}}) {
        std::map<int, std::string> messages;
        for (int workers : {0, 3}) {
            setPipelineWorkers(workers);
            std::vector<std::string> args = options;
            args.push_back(movie);
            args.push_back((dir / ("out" + std::to_string(workers))).string());
            std::ostringstream err;
            ASSERT_EQ(runAnalyseCommand(args, err), 0) << err.str();
            messages[workers] = err.str();
        }
        EXPECT_EQ(messages[0], messages[3]);
        std::size_t files = 0;
        for (const auto& entry : fs::directory_iterator(dir / "out0")) {
            const fs::path twin = dir / "out3" / entry.path().filename();
            ASSERT_TRUE(fs::exists(twin)) << twin;
            EXPECT_TRUE(readAll(entry.path()) == readAll(twin)) << entry.path().filename();
            ++files;
        }
        EXPECT_EQ(files, 3u * kFrames);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out3"), fs::directory_iterator{}), 3 * kFrames);
        fs::remove_all(dir / "out0");
        fs::remove_all(dir / "out3");
    }
}

// A frame that cannot be read is analysed as black and reported where one worker reports it.
TEST_F(MovieOnWorkers, AnUnreadableFrameIsReportedInFrameOrder) {
    std::vector<std::uint8_t> bytes = readAll(movie);
    const std::uint64_t middle = bytes.size() / 2;
    std::map<int, std::string> messages;
    std::map<int, std::vector<std::uint64_t>> sums;
    for (int workers : {0, 3}) {
        auto source = std::make_unique<FailingSource>(bytes, middle);
        FailingSource& failing = *source;
        AviFrameReader reader;
        ASSERT_EQ(reader.open(std::move(source)), kAviOk);
        failing.armed = true;
        std::ostringstream err;
        setPipelineWorkers(workers);
        analyseMovieFrames<std::uint64_t>(
            reader, "movie.avi", err,
            [](const FrameView& frame, std::uint64_t& sum) {
                sum = 0;
                for (int y = 0; y < frame.height; ++y) {
                    for (int x = 0; x < frame.width; ++x) {
                        sum += frame.pixel(x, y)[2];
                    }
                }
            },
            [&](std::int32_t, const std::uint64_t& sum) { sums[workers].push_back(sum); });
        messages[workers] = err.str();
    }
    EXPECT_NE(messages[0].find("cannot be read; analysed as black"), std::string::npos) << messages[0];
    EXPECT_EQ(messages[0], messages[3]);
    EXPECT_EQ(sums[0], sums[3]);
    EXPECT_EQ(std::count(sums[0].begin(), sums[0].end(), 0u), 1) << "one black frame";
}

// Ctrl-C while the workers run: the program ends by the signal, as with one worker, and leaves no temporary
// file behind, however far it got.
TEST_F(MovieOnWorkers, AnInterruptedRunLeavesNoTemporaryFile) {
    int stopped = 0;
    for (const std::size_t filesBefore : {std::size_t{1}, std::size_t{20}, std::size_t{70}}) {
        const fs::path out = dir / ("out" + std::to_string(filesBefore));
        const std::string outText = out.string();
        const char* argv[] = {KESTRANE_ANALYSE_PATH, movie.c_str(), outText.c_str(), nullptr};
        pid_t child = 0;
        ASSERT_EQ(::posix_spawn(&child, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ), 0);
        int status = 0;
        for (;;) {
            std::error_code ec;
            const auto written = static_cast<std::size_t>(
                std::distance(fs::directory_iterator(out, ec), fs::directory_iterator{}));
            if (written >= filesBefore) {
                ::kill(child, SIGINT);
                break;
            }
            if (::waitpid(child, &status, WNOHANG) == child) {
                child = 0;
                break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        if (child != 0) {
            ASSERT_EQ(::waitpid(child, &status, 0), child);
        }
        if (WIFSIGNALED(status)) {
            EXPECT_EQ(WTERMSIG(status), SIGINT);
            ++stopped;
        } else {
            EXPECT_EQ(WEXITSTATUS(status), 0);
        }
        for (const auto& entry : fs::directory_iterator(out)) {
            EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
        }
    }
    EXPECT_GT(stopped, 0) << "every run ended before the signal";
}

} // namespace
} // namespace kestrane
