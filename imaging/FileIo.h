// Whole transfers to and from file descriptors: partial reads and writes repeated, interruptions retried.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include <sys/types.h>

namespace kestrane {

// Repeats a partial pread or pwrite until every byte has moved; false on an error or at the end of the file.
template <typename Byte, typename Transfer>
bool moveAll(Byte* p, std::size_t count, std::uint64_t offset, Transfer transfer) {
    while (count > 0) {
        const ssize_t n = transfer(p, count, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        p += n;
        offset += static_cast<std::uint64_t>(n);
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace kestrane
