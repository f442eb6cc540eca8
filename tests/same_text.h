#pragma once
// Compares long texts (logs of many megabytes, command lines of 32,766
// characters) and, when they differ, reports where, with a little context,
// instead of printing both whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

template <typename Text>
::testing::AssertionResult SameText(const Text& actual, const Text& expected) {
  if (actual == expected) {
    return ::testing::AssertionSuccess();
  }
  size_t at = 0;
  while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) {
    ++at;
  }
  size_t from = at > 40 ? at - 40 : 0;
  return ::testing::AssertionFailure()
         << "lengths " << actual.size() << " and " << expected.size() << " (expected), first difference at " << at
         << "\n  actual:   " << ::testing::PrintToString(actual.substr(from, 100))
         << "\n  expected: " << ::testing::PrintToString(expected.substr(from, 100));
}
