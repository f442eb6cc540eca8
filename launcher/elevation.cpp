#include "launcher/elevation.h"

#include "support/failure_codes.h"
#include "support/unique_handle.h"

namespace {

// The user of `token` into `sid`.
bool ReadUser(HANDLE token, BYTE (&sid)[SECURITY_MAX_SID_SIZE]) {
  // TOKEN_USER is a SID_AND_ATTRIBUTES whose SID follows it.
  union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } information;
  DWORD size = 0;
  return GetTokenInformation(token, TokenUser, &information, sizeof(information), &size) &&
         CopySid(sizeof(sid), sid, information.user.User.Sid);
}

}  // namespace

void ReadTokenFacts(TokenFacts& facts) {
  HANDLE opened = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) {
    return;
  }
  UniqueHandle token(opened);
  DWORD size = 0;
  TOKEN_ELEVATION elevation = {};
  if (GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof(elevation), &size)) {
    facts.elevated = elevation.TokenIsElevated != 0;
  }
  GetTokenInformation(token.Get(), TokenElevationType, &facts.elevationType, sizeof(facts.elevationType), &size);
  facts.hasUser = ReadUser(token.Get(), facts.user);

  BOOL member = FALSE;
  facts.inAdministrators = CheckTokenMembership(/* TokenHandle */ nullptr, Administrators.Get(), &member) && member;

  TOKEN_LINKED_TOKEN linked = {};
  if (facts.hasUser && facts.elevationType == TokenElevationTypeLimited &&
      GetTokenInformation(token.Get(), TokenLinkedToken, &linked, sizeof(linked), &size)) {
    UniqueHandle elevatedHalf(linked.LinkedToken);
    BYTE linkedUser[SECURITY_MAX_SID_SIZE];
    facts.linkedUserIsSame = ReadUser(elevatedHalf.Get(), linkedUser) && EqualSid(linkedUser, facts.user);
  }
}

bool SameAccountRunsElevated(const TokenFacts& facts) {
  switch (facts.elevationType) {
    case TokenElevationTypeFull:
      return true;
    case TokenElevationTypeDefault:
      return facts.inAdministrators;
    case TokenElevationTypeLimited:
      return facts.linkedUserIsSame;
  }
  return false;
}

PSID TrustedAccount(const TokenFacts& facts) { return SameAccountRunsElevated(facts) ? facts.User() : nullptr; }

DWORD MakeAdministratorsDefaultOwner() {
  HANDLE opened = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_DEFAULT, &opened)) {
    return LastFailureCode();
  }
  UniqueHandle token(opened);
  TOKEN_OWNER owner = {Administrators.Get()};
  if (SetTokenInformation(token.Get(), TokenOwner, &owner, sizeof(owner))) {
    return 0;
  }
  DWORD error = LastFailureCode();
  // Wine implements no default owner (ERROR_INVALID_FUNCTION); Windows does
  // for every elevated token.
  return error == ERROR_INVALID_FUNCTION || error == ERROR_CALL_NOT_IMPLEMENTED ? 0 : error;
}
