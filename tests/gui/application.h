#pragma once
// One application object for the whole run of a gui test program, gone
// before the program exits (Qt's own globals are torn down after main).

#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

namespace quillon::testing {

class ApplicationEnvironment final : public ::testing::Environment {
  public:
    void SetUp() override { app_ = std::make_unique<QApplication>(argc_, argv_); }
    void TearDown() override { app_.reset(); }

  private:
    int argc_ = 1;
    char name_[6] = "tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

inline ::testing::Environment* const kApplication =
    ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

}  // namespace quillon::testing
