#pragma once
// A fixture for starting children for real, in process: the log open in a
// scratch directory, and a copy of the stand-in runtime there as child.exe.
#include <gtest/gtest.h>

#include <string>

#include "support/log.h"
#include "tests/test_support.h"

class ChildInScratch : public ::testing::Test {
 protected:
  void SetUp() override {
    OpenLog(scratch.Path().c_str());
    child = scratch.Path() + L"child.exe";
    CopyFileW((TestProgramDirectory() + L"java-standin.exe").c_str(), child.c_str(), FALSE);
  }
  void TearDown() override {
    CloseHandle(LogHandle);
    LogHandle = nullptr;
  }
  std::string Log() { return ReadBytes(scratch.Path() + L"kv-out.txt"); }

  ScratchDirectory scratch;
  std::wstring child;
};
