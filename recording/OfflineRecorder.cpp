// The raw recorder's rules: which recorder a frame delay takes, the own recorder's frame bound, stream rate
// and pause, the file name, and the labels of the time-limit and delay sliders.
#include "recording/OfflineRecorder.h"

#include "imaging/Numeric.h"
#include "recording/RecordingSettings.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <numeric>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrane {

std::string offlineFileName(const std::string& directory) {
    return directory + "offline.avi";
}

std::int64_t ownRecorderFrameBound(std::int32_t recordTimeLimitS, std::int32_t frameDelayUs) {
    const std::int64_t limitUs = std::int64_t{recordTimeLimitS} * 1000000;
    const Extended delay = std::max<std::int32_t>(frameDelayUs, 1);
    return roundToInt(static_cast<Extended>(limitUs) / delay + 1);
}

std::int64_t ownRecorderPauseMs(std::int32_t frameDelayUs) {
    return roundToInt(static_cast<Extended>(frameDelayUs) / 1000);
}

StreamRate ownRecorderRate(std::int32_t frameDelayUs) {
    const auto delay = static_cast<std::uint32_t>(std::max<std::int32_t>(frameDelayUs, 1));
    const std::uint32_t common = std::gcd(1000000u, delay);
    return StreamRate{1000000u / common, delay / common};
}

RecordingPlan ownRecorderPlan(const std::string& fileName, std::int32_t recordTimeLimitS,
                              std::int32_t frameDelayUs) {
    const StreamRate rate = ownRecorderRate(frameDelayUs);
    return RecordingPlan{fileName, rate.rate, rate.scale,
                         ownRecorderFrameBound(recordTimeLimitS, frameDelayUs)};
}

std::int32_t frameDelayOf(std::int32_t trackBar6) {
    return trackBar6 * 10000;
}

std::int32_t maximumTimeLimitS(std::int32_t trackBar6) {
    return trackBar6 * 10;
}

std::int32_t recordTimeLimitOf(std::int32_t trackBar3, std::int32_t trackBar6) {
    return trackBar3 * maximumTimeLimitS(trackBar6) / 1000;
}

std::string delayLabel(std::int32_t frameDelayUs, char decimalSeparator) {
    if (frameDelayUs <= 40000) {
        return "delay (s) = 0.035";
    }
    return "delay (s) = " + generalFormat(static_cast<Extended>(frameDelayUs) / 1000000, decimalSeparator);
}

std::string timeLimitScaleLabel(std::int32_t maximumS) {
    return "0   timelimit (s) " + std::to_string(maximumS);
}

std::string stopLabel(std::int32_t recordTimeLimitS) {
    return "stop in" + std::to_string(recordTimeLimitS) + " s";
}

std::string keptOfflineName(const std::string& directory, std::time_t modified,
                            const std::function<bool(const std::string&)>& taken) {
    std::tm local{};
    localtime_r(&modified, &local);
    char stamp[32] = {};
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string stem = directory + "offline-" + stamp;
    std::string name = stem + ".avi";
    for (int n = 2; taken(name); ++n) {
        name = stem + "-" + std::to_string(n) + ".avi";
    }
    return name;
}

DataFolderLock::Taken DataFolderLock::take(const std::string& directory, long& holder, std::string& error) {
    release();
    const std::string path = directory + ".kestrane-lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return Taken::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int failure = errno;
        char said[32] = {};
        holder = 0;
        if (failure == EWOULDBLOCK && ::pread(fd, said, sizeof said - 1, 0) > 0) {
            holder = std::strtol(said, nullptr, 10);
        }
        ::close(fd);
        if (failure == EWOULDBLOCK) {
            return Taken::HeldByOther;
        }
        error = std::strerror(failure);
        return Taken::Failed;
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        // The lock holds all the same; only the name of its holder is missing for the others.
    }
    fd_ = fd;
    return Taken::Yes;
}

void DataFolderLock::release() {
    if (fd_ < 0) {
        return;
    }
    // Empty: no process is named once nobody records.
    if (::ftruncate(fd_, 0) != 0) {
        // Closing releases the lock whatever the file says.
    }
    ::close(fd_);
    fd_ = -1;
}

namespace {

bool exists(const std::string& name) {
    struct stat st {};
    return ::lstat(name.c_str(), &st) == 0;
}

} // namespace

bool OfflineRecordingFile::claim(const std::string& directory, std::string& refusal) {
    fileName_ = offlineFileName(directory);
    keptName_.clear();
    long holder = 0;
    std::string error;
    switch (lock_.take(directory, holder, error)) {
    case DataFolderLock::Taken::Yes:
        break;
    case DataFolderLock::Taken::HeldByOther:
        refusal = "The data folder " + directory + " is being recorded into by another Kestrane" +
                  (holder > 0 ? " (process " + std::to_string(holder) + ")" : std::string()) +
                  "; nothing was recorded.";
        return false;
    case DataFolderLock::Taken::Failed:
        refusal = "Could not create " + fileName_ + ": the data folder cannot be locked (" + error + ")";
        return false;
    }
    struct stat st {};
    if (::stat(fileName_.c_str(), &st) != 0) {
        return true;
    }
    const std::string kept = keptOfflineName(directory, st.st_mtime, exists);
    if (std::rename(fileName_.c_str(), kept.c_str()) != 0) {
        refusal = "Could not keep the earlier " + fileName_ + " as " + kept + ": " + std::strerror(errno) +
                  "; nothing was recorded.";
        lock_.release();
        return false;
    }
    keptName_ = kept;
    // The settings file goes with its movie; one that cannot follow stays, to be replaced by the new one.
    const std::string settings = settingsFileName(fileName_);
    if (exists(settings) && std::rename(settings.c_str(), settingsFileName(kept).c_str()) != 0) {
        // Nothing is lost: the movie kept aside is whole without it.
    }
    return true;
}

void OfflineRecordingFile::finish(std::int64_t frames, bool created) {
    if (frames == 0) {
        const std::string settings = settingsFileName(fileName_);
        if (created) {
            std::remove(fileName_.c_str());
            std::remove(settings.c_str());
        }
        // Only into a free name: a file there now is nobody's to replace.
        if (!keptName_.empty() && !exists(fileName_) &&
            std::rename(keptName_.c_str(), fileName_.c_str()) == 0) {
            const std::string keptSettings = settingsFileName(keptName_);
            if (exists(keptSettings) && !exists(settings) &&
                std::rename(keptSettings.c_str(), settings.c_str()) != 0) {
                // The movie is back in place; its settings stay readable under the kept name.
            }
            keptName_.clear();
        }
    }
    lock_.release();
}

std::string nothingRecordedText(const std::string& fileName) {
    return "nothing was recorded and " + fileName + " is as it was.";
}

std::string framesKeptText(const std::string& fileName, std::int64_t frames) {
    return fileName + " keeps the " + std::to_string(frames) + " frames recorded before.";
}

void FrameSchedule::taken(std::int64_t i, Clock::time_point now) {
    if (now - due(i) > delay_ / 10) {
        ++late_;
    }
}

std::string lateFramesText(std::int64_t late, std::int32_t frameDelayUs) {
    if (late <= 0) {
        return {};
    }
    return std::to_string(late) + (late == 1 ? " frame was" : " frames were") +
           " taken late: the camera or the disk could not keep up with " +
           generalFormat(static_cast<Extended>(frameDelayUs) / 1000000, '.') + " s per frame.";
}

} // namespace kestrane
