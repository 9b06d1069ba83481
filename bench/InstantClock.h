// A camera clock for benchmarks that never waits: they measure the program's work, not the camera's pace.
#pragma once

#include "capture/SimulatedCamera.h"

#include <chrono>

class InstantClock : public kestrane::FrameClock {
  public:
    std::chrono::microseconds now() override { return now_; }
    void sleepUntil(std::chrono::microseconds time) override { now_ = time; }

  private:
    std::chrono::microseconds now_{0};
};
