// The result clip recorder's rules: file names and numbers, frame bound, stream rate, the 370 × 240 clip
// picture of a map and its legend, and the labels of its two sliders.
#pragma once

#include "analysis/MapKind.h"
#include "imaging/Bitmap.h"
#include "recording/AviRecording.h"

#include <cstdint>
#include <string>

namespace kestrane {

inline constexpr int kClipWidth = 370;
inline constexpr int kClipHeight = 240;
inline constexpr int kClipMapWidth = 320;

// "sind", "phi" or "abs".
const char* clipPrefix(MapKind kind);

// The highest number n of a file sind<n>.avi, phi<n>.avi or abs<n>.avi in `directory`; 0 when there is none.
std::int64_t highestClipNumber(const std::string& directory);
// The number of the next clip: one past both the run's last number and every clip already in `directory`,
// so that no earlier clip is overwritten.
std::int32_t nextClipNumber(std::int32_t clipNumber, const std::string& directory);
// `directory` (ending in '/') + prefix + number + ".avi".
std::string clipFileName(const std::string& directory, MapKind kind, std::int32_t number);

// N: ClipFrameCount live, the offline file's frame count with "Work Offline" checked.
std::int64_t clipFrameBound(std::int32_t clipFrameCount, bool offline, std::int32_t offlineFrameCount);
// Frames per second of playback: 10 for a live clip, 30 for one made from the offline file.
std::uint32_t clipRate(bool offline);
// The plan of one clip.
RecordingPlan clipPlan(const std::string& fileName, bool offline, std::int64_t frameBound);

// The clip picture: the map's 320 × 240 picture on the left and the legend's 50 × 240 picture on the right,
// pixel for pixel, as a 32-bit bottom-up bitmap whose fourth bytes are 0. Parts missing from a smaller map or
// legend stay black.
void composeClipFrame(const Bitmap& map, const Bitmap& legend, Bitmap& clip);

// The frame-count label under TrackBar1: "100frames", "1frame".
std::string clipFramesLabel(std::int32_t frames);
// The period of the acquisition timer set by TrackBar5, in milliseconds: position × 200, and 1 for 0.
std::int32_t pausePeriodMs(std::int32_t position);
// The label under TrackBar5: the period in seconds and "seconds"; "0.1seconds" at position 0.
std::string pauseLabel(std::int32_t position, char decimalSeparator = '.');

} // namespace kestrane
