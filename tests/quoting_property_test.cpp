// The quoting, by property: many seeded vectors of six hard values, composed
// into the updater's command line and the elevated instance's line with the
// launcher's own functions, then split back by the system's CommandLineToArgvW.
// Every value must come back unchanged, in its place, with nothing added.
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "launcher/protocol.h"
#include "process/command_lines.h"
#include "tests/hard_values.h"
#include "tests/request_of.h"
#include "tests/test_support.h"

namespace {

constexpr uint64_t DefaultSeed = 0x4C51554F54494E47ull;
constexpr int Vectors = 100000;

std::vector<std::wstring> Split(const wchar_t* line) {
  int count = 0;
  wchar_t** items = CommandLineToArgvW(line, &count);
  std::vector<std::wstring> result;
  if (items != nullptr) {
    result.assign(items, items + count);
    LocalFree(items);
  }
  return result;
}

// Launcher directories as they occur: spaces, parentheses, letters outside
// ASCII, a surrogate pair, a share, characters a shell would expand.
const wchar_t* const Directories[] = {
    L"D:\\u\\",
    L"C:\\Program Files (x86)\\Lindquay 2\\",
    L"C:\\Users\\Zo\u00eb \u00d1\\AppData\\Local\\\u4e2d \U0001F600\\",
    L"\\\\server\\share\\a b\\",
    L"C:\\%TEMP%\\@x\\*?\\",
};

struct Tally {
  long long vectors = 0;
  long long values = 0;
  long long linesSplit = 0;
  long long valuesLost = 0;  // changed, moved, merged or missing
  long long extraArguments = 0;
  std::vector<std::wstring> examples;

  void Lost(const std::wstring& line) {
    ++valuesLost;
    if (examples.size() < 5) {
      examples.push_back(line);
    }
  }
};

void CheckUpdaterLine(const std::wstring& directory, const std::vector<std::wstring>& six, Tally& tally) {
  WideStringBuffer line(1024);
  ComposeUpdaterCommandLine(line, directory.c_str(), RequestOf(UpdateMode::Direct, six));
  std::vector<std::wstring> split = Split(line.Text());
  ++tally.linesSplit;
  const std::vector<std::wstring> expected = ExpectedUpdaterArguments(directory, six);
  const int valuePositions[] = {4, 5, 7, 8, 10, 12};
  if (split.size() > 13) {
    tally.extraArguments += static_cast<long long>(split.size() - 13);
  }
  for (int position : valuePositions) {
    if (static_cast<size_t>(position) >= split.size() || split[position] != expected[position]) {
      tally.Lost(line.Text());
    }
  }
  // The fixed arguments must survive their neighbours too.
  const int fixedPositions[] = {0, 1, 2, 3, 6, 9, 11};
  for (int position : fixedPositions) {
    if (static_cast<size_t>(position) >= split.size() || split[position] != expected[position]) {
      tally.Lost(line.Text());
    }
  }
}

void CheckElevatedLine(const std::wstring& exePath, const std::vector<std::wstring>& six, Tally& tally) {
  WideStringBuffer parameters(1024);
  ComposeElevatedParameters(parameters, RequestOf(UpdateMode::Elevate, six));
  // The line the elevated instance gets: the shell puts the quoted program in
  // front of the parameters.
  std::wstring line = L"\"" + exePath + L"\" " + parameters.Text();
  std::vector<std::wstring> split = Split(line.c_str());
  ++tally.linesSplit;
  if (split.size() > 9) {
    tally.extraArguments += static_cast<long long>(split.size() - 9);
  }
  if (split.size() < 3 || split[0] != exePath || split[1] != L"1" || split[2] != L"--child") {
    tally.Lost(line);
  }
  for (size_t index = 0; index < 6; ++index) {
    if (3 + index >= split.size() || split[3 + index] != six[index]) {
      tally.Lost(line);
    }
  }
}

}  // namespace

TEST(QuotingProperty, EveryValueComesBackUnchangedInItsPlaceAndNothingMore) {
  const uint64_t seed = PropertySeed(DefaultSeed);
  HardValues generator(seed);
  Tally tally;
  for (int vector = 0; vector < Vectors; ++vector) {
    const wchar_t* directory = Directories[vector % (sizeof(Directories) / sizeof(Directories[0]))];
    const std::wstring exePath = std::wstring(directory) + L"lindquay-updater.exe";
    // Mostly short values, now and then long runs of pieces.
    std::vector<std::wstring> six = generator.NextSix(generator.Below(10) == 0 ? 80 : 12);
    CheckUpdaterLine(directory, six, tally);
    CheckElevatedLine(exePath, six, tally);
    ++tally.vectors;
    tally.values += 6;
  }
  std::printf(
      "quoting property: seed 0x%016llX, %lld vectors, %lld values, %lld lines split, "
      "%lld values not round-tripped, %lld extra arguments\n",
      static_cast<unsigned long long>(seed), tally.vectors, tally.values, tally.linesSplit, tally.valuesLost,
      tally.extraArguments);
  EXPECT_EQ(tally.vectors, Vectors);
  EXPECT_EQ(tally.valuesLost, 0);
  EXPECT_EQ(tally.extraArguments, 0);
  for (const std::wstring& example : tally.examples) {
    ADD_FAILURE() << "did not round-trip: " << ::testing::PrintToString(example);
  }
}

TEST(QuotingProperty, TheGeneratorCoversEveryHardCase) {
  // A property run proves little if the values never hold the hard cases.
  HardValues generator(PropertySeed(DefaultSeed));
  int empty = 0, quote = 0, trailingBackslash = 0, backslashBeforeQuote = 0, whitespace = 0, pair = 0;
  for (int index = 0; index < 6000; ++index) {
    std::wstring value = generator.Next(12);
    empty += value.empty();
    quote += value.find(L'"') != std::wstring::npos;
    trailingBackslash += !value.empty() && value.back() == L'\\';
    backslashBeforeQuote += value.find(L"\\\"") != std::wstring::npos;
    whitespace += value.find_first_of(L" \t") != std::wstring::npos;
    pair += value.find(L"\U0001F600") != std::wstring::npos;
  }
  for (int count : {empty, quote, trailingBackslash, backslashBeforeQuote, whitespace, pair}) {
    EXPECT_GT(count, 100);
  }
}
