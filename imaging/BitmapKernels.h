// The widening of 24-bit rows four pixels at a time with SSSE3's byte shuffle (imaging/BitmapSsse3.cpp); the
// callers first ask cpuFeatures() for SSSE3.
#pragma once

#include <cstdint>

namespace kestrane {

// Widens the pixels below `x` of a 24-bit row from the last backwards, four at a time, where the row's 32-bit
// place starts no earlier than its 24-bit one: each block is read before it is written, and its four new
// pixels end below the next block's unread bytes. A block's 16-byte read may take bytes of pixels already
// widened, which it does not use; it never passes `end`.
void widenBlocksBackwards(const std::uint8_t* src, std::uint8_t* dst, int& x, const std::uint8_t* end);

// Widens the pixels of a 24-bit row into another row four at a time while a 16-byte read stays inside the
// row, giving each the fourth byte `fourth`; returns how many pixels it did.
int widenRowShuffled(const std::uint8_t* src, std::uint8_t* dst, int width, std::uint8_t fourth);

} // namespace kestrane
