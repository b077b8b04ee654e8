// Helpers of the native-interface stand-in tests: machines loaded in-process,
// native names, short file operations.
#pragma once

#include <gtest/gtest.h>
#include <time.h>

#include <string>

#include "platform/nt/ntdll.h"
#include "platform/nt/stand_in.h"
#include "tests/support/machine_fixture.h"

namespace nttest {

// A native name with its OBJECT_ATTRIBUTES, kept alive together.
struct Name {
  explicit Name(const std::u16string& s, HANDLE root = nullptr) : text(s) {
    us.Buffer = const_cast<WCHAR*>(text.data());
    us.Length = static_cast<USHORT>(text.size() * 2);
    us.MaximumLength = us.Length;
    InitializeObjectAttributes(&oa, &us, OBJ_CASE_INSENSITIVE, root, nullptr);
  }
  Name(const Name&) = delete;
  std::u16string text;
  UNICODE_STRING us;
  OBJECT_ATTRIBUTES oa;
};

inline double Seconds() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

class NtTest : public ::testing::Test {
 protected:
  // C: fixed, D: CD-ROM without a medium, F: removable.
  void SetUp() override {
    m.Drive('C', "c").Drive('D', "", "cdrom").Drive('F', "usb", "removable");
    m.Folder("C:\\WINDOWS\\system32");
  }
  void TearDown() override {
    TwNtClearFaults();
    TwNtSetDisplaySink(nullptr, nullptr);
  }
  void Boot() {
    m.Write();
    char err[512] = {};
    ASSERT_EQ(TwNtInit(m.Json().c_str(), err, sizeof err), 1) << err;
  }

  NTSTATUS Create(HANDLE* h, const std::u16string& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                  ULONG options, ULONG_PTR* information = nullptr, ULONG attributes = FILE_ATTRIBUTE_NORMAL,
                  HANDLE root = nullptr) {
    Name n(name, root);
    IO_STATUS_BLOCK io = {};
    io.Information = 0xDEAD;
    NTSTATUS s = NtCreateFile(h, access, &n.oa, &io, nullptr, attributes, share, disposition, options, nullptr, 0);
    if (information != nullptr) *information = io.Information;
    return s;
  }
  // Opens for synchronous reading and writing, sharing everything.
  HANDLE OpenRw(const std::u16string& name, ULONG disposition = FILE_OPEN) {
    HANDLE h = nullptr;
    EXPECT_EQ(Create(&h, name, GENERIC_READ | GENERIC_WRITE | DELETE, 7, disposition,
                     FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE),
              STATUS_SUCCESS)
        << std::string(name.begin(), name.end());
    return h;
  }
  HANDLE OpenDir(const std::u16string& name) {
    HANDLE h = nullptr;
    Name n(name);
    IO_STATUS_BLOCK io;
    EXPECT_EQ(NtOpenFile(&h, SYNCHRONIZE | FILE_LIST_DIRECTORY, &n.oa, &io, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT),
              STATUS_SUCCESS);
    return h;
  }
  NTSTATUS Write(HANDLE h, const std::string& bytes, LARGE_INTEGER* offset = nullptr) {
    IO_STATUS_BLOCK io = {};
    NTSTATUS s = NtWriteFile(h, nullptr, nullptr, nullptr, &io, bytes.data(), static_cast<ULONG>(bytes.size()),
                             offset, nullptr);
    if (NT_SUCCESS(s)) {
      EXPECT_EQ(io.Information, bytes.size());
    }
    return s;
  }
  NTSTATUS Read(HANDLE h, std::string* out, ULONG count, LARGE_INTEGER* offset = nullptr) {
    out->assign(count, '\0');
    IO_STATUS_BLOCK io = {};
    NTSTATUS s = NtReadFile(h, nullptr, nullptr, nullptr, &io, &(*out)[0], count, offset, nullptr);
    out->resize(NT_SUCCESS(s) ? io.Information : 0);
    return s;
  }
  FILE_BASIC_INFORMATION Basic(HANDLE h) {
    FILE_BASIC_INFORMATION b = {};
    IO_STATUS_BLOCK io;
    EXPECT_EQ(NtQueryInformationFile(h, &io, &b, sizeof b, FileBasicInformation), STATUS_SUCCESS);
    return b;
  }

  twtest::MachineFixture m;
};

}  // namespace nttest
