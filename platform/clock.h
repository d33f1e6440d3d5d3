#pragma once
// The clock seam: today's date and the time of day. The core never asks the
// operating system directly, so tests can set the date.

#include "platform/civil_day.h"

namespace quillon {

struct DateTime {
    int Year = 2000;
    int Month = 1;  // 1 = January
    int Day = 1;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;

    constexpr CivilDay Date() const { return {Year, Month, Day}; }
};

class Clock {
  public:
    virtual ~Clock() = default;
    virtual DateTime Now() const = 0;
};

// The machine's local date and time.
class SystemClock final : public Clock {
  public:
    DateTime Now() const override;
};

// A clock that always reads the time it was given; tests and benchmarks use it.
class FixedClock final : public Clock {
  public:
    explicit FixedClock(DateTime at = {}) : at_(at) {}
    DateTime Now() const override { return at_; }
    void Set(DateTime at) { at_ = at; }

  private:
    DateTime at_;
};

}  // namespace quillon
