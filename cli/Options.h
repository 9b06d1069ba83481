// What the commands of kestrane-analyse share: one parser of their options, guarding their inputs, writing
// outputs.
#pragma once

#include "recording/AviFrames.h"
#include "recording/RecordingSettings.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <ostream>
#include <pthread.h>
#include <random>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace kestrane {

// Every refusal of a command: a bad option or argument, an input that cannot be read, an output that cannot
// be written. The message is the line the tool prints, its name in front.
struct CommandError : std::runtime_error {
    explicit CommandError(const std::string& why) : std::runtime_error("kestrane-analyse: " + why) {}
};

// Reads the value of one option into the command's settings; `option` names it in a refusal.
using OptionReader = std::function<void(const char* option, const std::string& value)>;

// One option of a command: "--name=value" when it takes a value, "--name" alone when not.
struct OptionRule {
    const char* name;
    bool takesValue;
    OptionReader read;
};

// What a command accepts: its options, what its two file names are (for the refusal of another count) and
// its usage line, which follows every refusal of its syntax.
struct CommandSyntax {
    std::vector<OptionRule> options;
    const char* files;
    const char* usage;
};

// The options before any "--", whole ("--clip=sind"), as the dispatch and --help look at them.
std::vector<std::string> optionArguments(const std::vector<std::string>& args);
// The name of an option: "--clip" of "--clip=sind".
std::string optionName(const std::string& option);

// Walks the arguments once, reading each option through its rule, and returns the two file names. An
// argument that starts with "-" (a lone "-" aside) is an option until "--"; every argument after "--" is a
// file name, so that a file "-x.avi" can be named. An unknown option, an option without its value or with an
// empty one (no option means anything by an empty value), a value given to an option that takes none, and
// another number of file names than two are refused, in the same words for every command; an option given
// twice keeps the later value.
std::array<std::string, 2> parseCommandLine(const std::vector<std::string>& args,
                                            const CommandSyntax& syntax);

// Readers for the rules, refusing a bad value in the same words for every option.
OptionReader readText(std::string& target);
OptionReader readFlag(bool& target);
// A whole number from `low` to `high` written plainly: decimal digits only (no sign, no blanks).
OptionReader readWholeNumber(int& target, int low, int high);

// A whole number written plainly: decimal digits, led by one minus sign only when `negative` allows it (no
// plus sign, no blanks). False when the text is not one or lies outside [low, high].
bool plainWholeNumber(const std::string& text, bool negative, std::int64_t low, std::int64_t high,
                      std::int64_t& value);

// LEFT,TOP,RIGHT,BOTTOM of a region option: four whole numbers, negative ones allowed (a region may reach
// past the picture's top or left), refused in words naming `option` otherwise.
std::array<std::int32_t, 4> readRegionEdges(const char* option, const std::string& text);

// The text listing the allowed values: "a, b or c".
std::string allowedValues(const std::vector<const char*>& names);

// One value out of a fixed list of names.
template <typename T, std::size_t N>
OptionReader readChoice(T& target, const std::pair<const char*, T> (&choices)[N]) {
    return [&target, &choices](const char* option, const std::string& text) {
        std::vector<const char*> names;
        for (const auto& [name, value] : choices) {
            if (text == name) {
                target = value;
                return;
            }
            names.push_back(name);
        }
        throw CommandError(std::string(option) + " must be " + allowedValues(names) + ", not '" + text + "'");
    };
}

// Opens a movie to read its frames; a refusal says why in words, the AVI code in brackets. The note of the
// open (chunks skipped, an unfinished file) goes to `err`.
inline void openCommandMovie(AviFrameReader& reader, const std::string& path, std::ostream& err) {
    std::string why;
    std::string note;
    if (!openMovieToAnalyse(reader, path, why, note)) {
        throw CommandError(why);
    }
    if (!note.empty()) {
        err << "kestrane-analyse: " << note << '\n';
    }
}

// The settings file beside `movie` (MOVIE.json), when there is one. A damaged one is left aside with one
// line on `err`: the movie is still whole without it.
std::optional<RecordedSettings> readMovieSettings(const std::string& movie, std::ostream& err);
// Says in one line on `err` what a command took from the settings file beside `movie`, e.g. "objective 10,
// frame times (21)"; nothing when it took nothing.
void reportTakenSettings(const std::string& movie, const std::vector<std::string>& taken, std::ostream& err);

// The analysis takes whole camera frames; anything else is refused unless --any-size asked for it.
inline void requireCameraFrameSize(int width, int height, const std::string& what, bool anySize) {
    if (!anySize && (width != 640 || height != 480)) {
        throw CommandError(
            what + " is " + std::to_string(width) + " x " + std::to_string(height) +
            " pixels, but the analysis takes 640 x 480 frames (--any-size analyses it anyway)");
    }
}

// The files a command reads, by device and inode, so that an output reached through a link or another path
// is still recognised as one of them.
class CommandInputs {
  public:
    // Adds an input (none when `path` is empty). One that cannot be opened is refused with the system's
    // reason, which the readers behind the commands do not give.
    void add(const std::string& path, const char* role) {
        if (path.empty()) {
            return;
        }
        // O_NONBLOCK: a named pipe given as input must not hang the check.
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        struct stat st {};
        std::string reason;
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            reason = std::strerror(errno);
        } else if (!S_ISREG(st.st_mode)) {
            // A pipe or device would hang or feed the readers endlessly; a folder holds no frames.
            reason = "it is not a regular file";
        }
        if (fd >= 0) {
            ::close(fd);
        }
        if (!reason.empty()) {
            throw CommandError(std::string("cannot read ") + role + " '" + path + "': " + reason);
        }
        inputs_.push_back({st.st_dev, st.st_ino, path, role});
    }

    // Refuses an output that is one of the inputs: writing it would destroy what is being read.
    void refuseAsOutput(const std::string& output) const {
        struct stat st {};
        if (inputs_.empty() || ::stat(output.c_str(), &st) != 0) {
            return;
        }
        for (const Input& in : inputs_) {
            if (in.device == st.st_dev && in.inode == st.st_ino) {
                throw CommandError("the output '" + output + "' is the " + in.role + " '" + in.path +
                                   "'; refusing to write over it");
            }
        }
    }

  private:
    struct Input {
        dev_t device;
        ino_t inode;
        std::string path;
        const char* role;
    };
    std::vector<Input> inputs_;
};

// The temporary file of the output being written, for a signal handler to remove when the run is stopped.
inline char gPendingOutput[4096];
inline volatile std::sig_atomic_t gPendingOutputSet = 0;

// Holds back the signals that stop a run while the temporary file and its record are changed together: a
// signal is delivered as a system call returns, so it would otherwise find a file just created but not yet
// recorded.
class StopSignalsHeld {
  public:
    StopSignalsHeld() {
        sigset_t stop;
        sigemptyset(&stop);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
            sigaddset(&stop, signal);
        }
        pthread_sigmask(SIG_BLOCK, &stop, &saved_);
    }
    StopSignalsHeld(const StopSignalsHeld&) = delete;
    StopSignalsHeld& operator=(const StopSignalsHeld&) = delete;
    ~StopSignalsHeld() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

  private:
    sigset_t saved_;
};

// An output file written under a temporary name in its own folder and renamed into place only when
// complete, so that a failed or interrupted run neither leaves a half file under the final name nor
// destroys the file that was there.
class PendingOutput {
  public:
    // Reserves a fresh temporary name next to `path` (the file is created, empty, and kept open for write).
    explicit PendingOutput(std::string path) : path_(std::move(path)) {
        static std::mt19937 random{std::random_device{}()};
        static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
        for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
            std::string name = path_ + ".tmp-";
            for (int i = 0; i < 6; ++i) {
                name += kLetters[random() % 36];
            }
            const StopSignalsHeld held;
            // O_EXCL: a temporary name never opens an existing file, which may be one of the inputs.
            fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd_ >= 0) {
                temp_ = std::move(name);
                record(temp_);
            } else if (errno != EEXIST) {
                fail(errno);
            }
        }
        if (fd_ < 0) {
            fail(EEXIST);
        }
    }
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;
    ~PendingOutput() {
        closeFile();
        const StopSignalsHeld held;
        if (!temp_.empty()) {
            ::unlink(temp_.c_str());
        }
        record("");
    }

    // Where the output is written until `commit`.
    const std::string& temporaryPath() const { return temp_; }

    // Writes the whole content into the temporary file.
    void write(const std::vector<std::uint8_t>& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                // A write that moves nothing without an error has run out of room.
                fail(n < 0 ? errno : ENOSPC);
            }
            done += static_cast<std::size_t>(n);
        }
    }

    // Puts the finished file in place of `path`.
    void commit() {
        // Errors of delayed writes (a full disk on some file systems) show only at the close.
        if (!closeFile()) {
            fail(errno);
        }
        const StopSignalsHeld held;
        if (::rename(temp_.c_str(), path_.c_str()) != 0) {
            fail(errno);
        }
        temp_.clear();
        record("");
    }

  private:
    // What the signal handler removes; a name too long for its buffer is left to the destructor.
    static void record(const std::string& temp) {
        gPendingOutputSet = 0;
        if (!temp.empty() && temp.size() < sizeof gPendingOutput) {
            std::memcpy(gPendingOutput, temp.c_str(), temp.size() + 1);
            gPendingOutputSet = 1;
        }
    }
    bool closeFile() {
        const int fd = std::exchange(fd_, -1);
        return fd < 0 || ::close(fd) == 0;
    }
    [[noreturn]] void fail(int code) const {
        throw CommandError("cannot write '" + path_ + "': " + std::strerror(code));
    }

    std::string path_;
    std::string temp_;
    int fd_ = -1;
};

// Writes a whole output file through a temporary name.
inline void writeOutputFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    PendingOutput out(path);
    out.write(bytes);
    out.commit();
}

// On SIGINT, SIGTERM or SIGHUP the temporary file being written is removed before the tool ends as the
// signal demands.
inline void removePendingOutputOnSignal() {
    static const auto handler = [](int signal) {
        if (gPendingOutputSet != 0) {
            ::unlink(gPendingOutput);
        }
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    };
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        std::signal(signal, +handler);
    }
}

} // namespace kestrane
