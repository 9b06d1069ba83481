// Counts the allocations of the test program, so a test can show that a frame is delivered without any.
#pragma once

namespace kestrane::test {

// Allocations through operator new since the program started.
long allocationCount();

} // namespace kestrane::test
