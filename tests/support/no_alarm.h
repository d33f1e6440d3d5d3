#pragma once
// An alarm that is never wanted, for tests that judge stocks.

#include "scan/scan_parts.h"

namespace quillon::testing {

class NoAlarm final : public AlarmControl {
  public:
    bool AlarmChecked() const override { return false; }
    void StartAlarm() override {}
};

}  // namespace quillon::testing
