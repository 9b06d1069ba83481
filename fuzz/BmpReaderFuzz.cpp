// Fuzz target of the BMP reader: any bytes decoded as a background, a test frame or an analysis input is.
#include "imaging/Bmp.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kestrane::Bitmap picture;
    std::string error;
    if (kestrane::decodeBmp(data, size, picture, error)) {
        // A decoded picture must be complete: touch its last byte.
        if (picture.sizeBytes() > 0) {
            volatile std::uint8_t last = picture.bits()[picture.sizeBytes() - 1];
            (void)last;
        }
        // Decoding again into the same bitmap reuses its memory, as the live loop does.
        kestrane::decodeBmp(data, size, picture, error);
    } else if (error.empty() || error.find('\n') != std::string::npos) {
        __builtin_trap(); // every refusal has a reason of one line
    }
    return 0;
}
