// One simulated machine for the whole runtime test program: the runtime
// keeps the predefined registry roots open for the life of the process, so
// every test works on the same machine (each in its own folders and values).
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/nt/stand_in.h"
#include "scanner/runtime/runtime.h"

namespace rtest {

// Host folder of the machine; drive C: is <Machine()>/c, F: is <Machine()>/usb.
const std::string& MachineFolder();
std::string HostC(const std::string& relative);  // "a/b" -> <machine>/c/a/b

void WriteHostFile(const std::string& hostPath, const std::string& content);
std::string ReadHostFile(const std::string& hostPath);
bool HostExists(const std::string& hostPath);
void MakeHostDir(const std::string& hostPath);
// The DOS attribute word kept in user.DOSATTRIB ("0x..."), -1 when absent.
long HostAttributes(const std::string& hostPath);
void SetHostAttributes(const std::string& hostPath, unsigned attributes);

// Fixture: a fresh private heap per test, the handle count checked at the
// end (nothing may stay open), faults cleared.
class RuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  RuntimeContext ctx_{};
  unsigned handlesAtStart_ = 0;
};

}  // namespace rtest
