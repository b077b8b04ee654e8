// The fixture of the dialog tests: a fresh machine opened as the manager's
// start-up opens it, with the library folder read as the main dialog reads it.
#pragma once

#include <gtest/gtest.h>

#include "manager/ops/install.h"
#include "tests/gui/gui_harness.h"
#include "tests/gui/test_machine.h"

class GuiTest : public testing::Test {
 protected:
  void SetUp() override {
    machine_.Open();
    ReadLibraryFolder();
  }
  TestMachine machine_;
};
