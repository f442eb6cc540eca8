#include "launcher/protocol.h"

#include "process/command_lines.h"

bool IsExactly(const wchar_t* value, const char* expected) {
  // An ordinal comparison: lstrcmpW compares linguistically, and would take a
  // mode holding ignorable characters (a soft hyphen, say) for a real one.
  for (;; ++value, ++expected) {
    if (*value != static_cast<unsigned char>(*expected)) {
      return false;
    }
    if (*value == L'\0') {
      return true;
    }
  }
}

bool ParseMode(const wchar_t* value, UpdateMode* mode) {
  if (IsExactly(value, ModeDirect)) {
    *mode = UpdateMode::Direct;
  } else if (IsExactly(value, ModeChild)) {
    *mode = UpdateMode::Child;
  } else if (IsExactly(value, ModeElevate)) {
    *mode = UpdateMode::Elevate;
  } else {
    return false;
  }
  return true;
}

void ComposeElevatedParameters(WideStringBuffer& parameters, const UpdateRequest& request) {
  parameters.Append(ProtocolVersion);
  parameters.AppendCharacter(L' ');
  parameters.Append(ModeChild);
  AppendQuotedValues(parameters, request);
}
