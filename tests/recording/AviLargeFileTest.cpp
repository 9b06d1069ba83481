// A real recording past 1 GiB: it goes on as OpenDML, reads back whole, and an independent reader agrees.
// Large frames keep it to 17 writes; the file is removed afterwards.
#include "recording/AviFrames.h"
#include "recording/AviTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace avitest;

namespace {

constexpr ClipSpec kHuge{4096, 4096, 32, 30}; // 64 MiB a frame
constexpr int kFrames = 17;                   // 15 fit the first RIFF, two go to an AVIX RIFF

// Frame n: every row one byte value, so that rows, frames and their order are all told apart cheaply.
void fillFrame(std::vector<std::uint8_t>& pixels, int n) {
    const std::size_t row = rowBytes(kHuge);
    for (int r = 0; r < kHuge.height; ++r) {
        std::memset(pixels.data() + r * row, (n * 31 + r) & 0xFF, row);
    }
    std::memcpy(pixels.data(), &n, sizeof n);
}

TEST(AviLargeFile, RecordingPastOneGibibyteStaysCompleteAndReadable) {
    ScratchDir dir;
    // A nearly full disk is the machine's state, not a fault of the writer (which the failed-write tests
    // cover).
    const std::uintmax_t available = std::filesystem::space(dir.path).available;
    if (available < (std::uintmax_t{3} << 30)) {
        GTEST_SKIP() << "needs 3 GiB of free disk; " << available << " bytes are available";
    }
    const std::string path = dir.file("long.avi");
    std::vector<std::uint8_t> pixels(imageBytes(kHuge));
    {
        AviFile* file = nullptr;
        ASSERT_EQ(AVIFileOpen(&file, path, kOfWrite | kOfCreate), kAviOk);
        AviStream* stream = nullptr;
        ASSERT_EQ(AVIFileCreateStream(file, &stream, recorderStreamInfo(kHuge)), kAviOk);
        const std::vector<std::uint8_t> format = dibFormat(kHuge);
        ASSERT_EQ(AVIStreamSetFormat(stream, 0, format.data(), static_cast<std::int32_t>(format.size())),
                  kAviOk);
        for (int n = 0; n < kFrames; ++n) {
            fillFrame(pixels, n);
            ASSERT_EQ(AVIStreamWrite(stream, n, 1, pixels.data(), static_cast<std::int32_t>(pixels.size()),
                                     kAviIfKeyframe),
                      kAviOk)
                << "frame " << n;
        }
        AVIStreamRelease(stream);
        AVIFileRelease(file);
    }
    ASSERT_GT(std::filesystem::file_size(path), kAviRiffLimit);

    // The first RIFF stays within 1 GiB and an AVIX RIFF follows it.
    std::ifstream in(path, std::ios::binary);
    std::uint8_t head[12];
    in.read(reinterpret_cast<char*>(head), 12);
    const std::uint64_t firstEnd = 8 + std::uint64_t{readLe32(head + 4)};
    EXPECT_LE(firstEnd, kAviRiffLimit);
    in.seekg(static_cast<std::streamoff>(firstEnd));
    in.read(reinterpret_cast<char*>(head), 12);
    EXPECT_EQ(fourccText(head), "RIFF");
    EXPECT_EQ(fourccText(head + 8), "AVIX");

    {
        AviFile* file = nullptr;
        AviStream* stream = nullptr;
        ASSERT_EQ(AVIFileOpen(&file, path, kOfRead), kAviOk);
        ASSERT_EQ(AVIFileGetStream(file, &stream, kStreamTypeVideo, 0), kAviOk);
        EXPECT_EQ(AVIStreamLength(stream), kFrames);
        AviGetFrame* decoder = AVIStreamGetFrameOpen(stream, nullptr);
        ASSERT_NE(decoder, nullptr);
        for (int n : {0, 14, 15, 16}) {
            const std::uint8_t* dib = AVIStreamGetFrame(decoder, n);
            ASSERT_NE(dib, nullptr) << "frame " << n;
            fillFrame(pixels, n);
            EXPECT_EQ(std::memcmp(dib + 40, pixels.data(), pixels.size()), 0) << "frame " << n;
        }
        AVIStreamGetFrameClose(decoder);
        AVIStreamRelease(stream);
        AVIFileRelease(file);
    }

    if (std::system("command -v ffmpeg >/dev/null 2>&1 && command -v ffprobe >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "ffmpeg is not installed: the independent check is left out";
    }
    const std::string count = dir.file("count.txt");
    ASSERT_EQ(std::system(("ffprobe -v error -select_streams v:0 -count_packets -show_entries "
                           "stream=nb_read_packets -of csv=p=0 '" +
                           path + "' > '" + count + "'")
                              .c_str()),
              0);
    const std::vector<std::uint8_t> text = readFileBytes(count);
    EXPECT_EQ(std::string(text.begin(), text.end()), "17\n");
    const std::string last = dir.file("last.raw");
    ASSERT_EQ(
        std::system(("ffmpeg -v error -y -i '" + path +
                     "' -vf \"select=eq(n\\,16)\" -frames:v 1 -f rawvideo " + "-pix_fmt bgra '" + last + "'")
                        .c_str()),
        0);
    const std::vector<std::uint8_t> decoded = readFileBytes(last);
    ASSERT_EQ(decoded.size(), pixels.size());
    fillFrame(pixels, 16);
    const std::size_t row = rowBytes(kHuge);
    for (int top = 0; top < kHuge.height; ++top) {
        ASSERT_EQ(
            std::memcmp(decoded.data() + top * row, pixels.data() + (kHuge.height - 1 - top) * row, row), 0)
            << "row " << top << " from the top";
    }
}

} // namespace
