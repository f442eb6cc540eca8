#pragma once
// Seeded, reproducible values made of the pieces that command-line quoting
// gets wrong: spaces and tabs, runs of backslashes before a quote or at the
// end, double quotes, the characters a shell or the Java launcher expands
// (* ? @ %), letters outside ASCII, surrogate pairs, lone surrogates, and the
// empty value. The same seed gives the same values on every machine: the
// generator is splitmix64 and uses no library distribution.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

class HardValues {
 public:
  explicit HardValues(uint64_t seed) : state(seed) {}

  uint64_t NextNumber() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

  // A number below `bound`.
  size_t Below(size_t bound) { return static_cast<size_t>(NextNumber() % bound); }

  // One value: empty one time in six, otherwise 1 to `maxPieces` pieces.
  std::wstring Next(size_t maxPieces) {
    if (Below(6) == 0) {
      return std::wstring();
    }
    std::wstring value;
    size_t pieces = 1 + Below(maxPieces);
    for (size_t index = 0; index < pieces; ++index) {
      value += Pieces()[Below(Pieces().size())];
    }
    return value;
  }

  std::vector<std::wstring> NextSix(size_t maxPieces) {
    std::vector<std::wstring> six;
    for (int index = 0; index < 6; ++index) {
      six.push_back(Next(maxPieces));
    }
    return six;
  }

 private:
  static const std::vector<std::wstring>& Pieces() {
    static const std::vector<std::wstring> pieces = {
        L" ", L"  ", L"\t", L"\\", L"\\\\", L"\\\\\\", L"\"", L"\\\"", L"\"\"", L"\" \"",
        L"*", L"?", L"@", L"%", L"%PATH%", L"%1", L"%*", L"-D", L"=", L"'", L"^", L"&", L"|",
        L"<>", L"()", L"!", L";", L",",
        L"a", L"Z", L"0", L"C:\\", L"dir\\", L"\\\\server\\share",
        L"\u00e9", L"\u00c5", L"\u0416", L"\u4e2d", L"\u00a0", L"\u3000", L"\u00ad", L"\u20ac",
        L"\U0001F600", L"\U00010348",
        std::wstring(1, static_cast<wchar_t>(0xD800)),  // a lone high surrogate
        std::wstring(1, static_cast<wchar_t>(0xDC00)),  // a lone low surrogate
    };
    return pieces;
  }

  uint64_t state;
};

// The seed of a property run: LINDQUAY_TEST_SEED when set (to repeat or vary
// a run), otherwise `fallback`.
inline uint64_t PropertySeed(uint64_t fallback) {
  const char* text = std::getenv("LINDQUAY_TEST_SEED");
  return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 0) : fallback;
}
