#pragma once
// One QApplication for all tests of a binary, on the offscreen platform unless told otherwise.

#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

namespace avs::frontend::testing {

class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "dialog_test";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

  private:
    std::unique_ptr<QApplication> app_;
};

}  // namespace avs::frontend::testing
