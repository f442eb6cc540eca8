#pragma once
// An update request over six values that the caller keeps alive.
#include <string>
#include <vector>

#include "process/update_request.h"

inline UpdateRequest RequestOf(UpdateMode mode, const wchar_t* const six[6]) {
  return UpdateRequest{mode, six[0], six[1], six[2], six[3], six[4], six[5]};
}

inline UpdateRequest RequestOf(UpdateMode mode, const std::vector<std::wstring>& six) {
  return UpdateRequest{
      mode, six[0].c_str(), six[1].c_str(), six[2].c_str(), six[3].c_str(), six[4].c_str(), six[5].c_str()};
}
