// The AVI files on disk: a file as the reader's byte source and the writer's byte sink, and the policy of
// writing one (the size limit, preallocation, a file removed while written, creating only where no file is).
#include "recording/AviFileIo.h"

#include "imaging/FileIo.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <limits>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrane {

namespace {

class FileSource final : public AviByteSource {
  public:
    FileSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    ~FileSource() override { ::close(fd_); }
    std::uint64_t size() const override { return size_; }
    bool read(std::uint64_t offset, void* into, std::size_t count) override {
        if (offset > size_ || count > size_ - offset) {
            return false;
        }
        return moveAll(static_cast<std::uint8_t*>(into), count, offset,
                       [this](std::uint8_t* p, std::size_t n, off_t at) { return ::pread(fd_, p, n, at); });
    }

  private:
    int fd_;
    std::uint64_t size_;
};

class FileSink final : public AviByteSink {
  public:
    FileSink(int fd, std::string path) : fd_(fd), path_(std::move(path)) {
        rlimit limit{};
        if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
            sizeLimit_ = static_cast<std::uint64_t>(limit.rlim_cur);
        }
    }
    ~FileSink() override { ::close(fd_); }

    bool writeAt(std::uint64_t offset, const void* data, std::size_t count) override {
        // Writing on past the size limit would kill the program with SIGXFSZ; a removed file would swallow
        // the operator's recording without a word. Both count as failed writes.
        if (offset + count > sizeLimit_) {
            errno = EFBIG;
            return false;
        }
        if (removed()) {
            rescue();
            errno = ENOENT;
            return false;
        }
        return moveAll(
            static_cast<const std::uint8_t*>(data), count, offset,
            [this](const std::uint8_t* p, std::size_t n, off_t at) { return ::pwrite(fd_, p, n, at); });
    }

    bool reserve(std::uint64_t size) override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) {
            return false;
        }
        const auto current = static_cast<std::uint64_t>(st.st_size);
        if (size <= current) {
            return true;
        }
        if (size > sizeLimit_) {
            errno = EFBIG;
            return false;
        }
        int error = 0;
        do {
            error = ::posix_fallocate(fd_, static_cast<off_t>(current), static_cast<off_t>(size - current));
        } while (error == EINTR);
        if (error == 0) {
            return true;
        }
        if (error == EOPNOTSUPP || error == ENOSYS || error == EINVAL) {
            // No preallocation on this file system: the size alone still guards against the size limit.
            return ::ftruncate(fd_, static_cast<off_t>(size)) == 0;
        }
        errno = error;
        return false;
    }

    bool truncate(std::uint64_t size) override { return ::ftruncate(fd_, static_cast<off_t>(size)) == 0; }

  private:
    bool removed() const {
        struct stat st {};
        return ::fstat(fd_, &st) != 0 || st.st_nlink == 0;
    }

    // A file removed while it is written (its folder deleted, say) is written out again under its name, so
    // the frames so far survive; the recording still ends with the failed write.
    void rescue() {
        if (rescued_ || path_.empty()) {
            return;
        }
        rescued_ = true;
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ignored);
        const int copy = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (copy < 0) {
            return;
        }
        struct stat st {};
        bool copied = ::fstat(fd_, &st) == 0;
        std::vector<std::uint8_t> buffer(std::size_t{1} << 20);
        for (std::uint64_t at = 0; copied && at < static_cast<std::uint64_t>(st.st_size);) {
            const std::size_t n = static_cast<std::size_t>(
                std::min<std::uint64_t>(buffer.size(), std::uint64_t(st.st_size) - at));
            copied =
                moveAll(buffer.data(), n, at,
                        [this](std::uint8_t* p, std::size_t k, off_t o) { return ::pread(fd_, p, k, o); }) &&
                moveAll(static_cast<const std::uint8_t*>(buffer.data()), n, at,
                        [copy](const std::uint8_t* p, std::size_t k, off_t o) {
                            return ::pwrite(copy, p, k, o);
                        });
            at += n;
        }
        if (!copied) {
            ::close(copy);
            ::unlink(path_.c_str());
            return;
        }
        ::close(fd_);
        fd_ = copy;
    }

    int fd_;
    std::string path_;
    bool rescued_ = false;
    std::uint64_t sizeLimit_ = std::numeric_limits<std::uint64_t>::max();
};

} // namespace

std::unique_ptr<AviByteSource> openAviFileSource(const std::string& fileName) {
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<FileSource>(fd, static_cast<std::uint64_t>(st.st_size));
}

std::unique_ptr<AviByteSink> createAviFileSink(const std::string& fileName, bool replaceExisting) {
    // A new file, so that a reader still holding the old one keeps reading what it opened.
    if (replaceExisting) {
        ::unlink(fileName.c_str());
    }
    const int fd =
        ::open(fileName.c_str(), O_RDWR | O_CREAT | (replaceExisting ? O_TRUNC : O_EXCL) | O_CLOEXEC, 0644);
    if (fd < 0) {
        return nullptr;
    }
    return std::make_unique<FileSink>(fd, fileName);
}

} // namespace kestrane
