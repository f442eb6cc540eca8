#pragma once

#include <windows.h>


// Who this process runs as, and who would run elevated: the two decide
// whether the account's own rights over the launcher's folder can be
// trusted.

// A SID laid out as the system keeps one, for the fixed accounts the
// launcher trusts: no call to build it, nothing to free.
template <int SubAuthorityCount>
struct FixedSid {
  BYTE revision;
  BYTE subAuthorityCount;
  SID_IDENTIFIER_AUTHORITY authority;
  DWORD subAuthorities[SubAuthorityCount];

  PSID Get() const { return const_cast<FixedSid*>(this); }
};

// BUILTIN\Administrators, S-1-5-32-544.
inline constexpr FixedSid<2> Administrators = {
    SID_REVISION, 2, SECURITY_NT_AUTHORITY, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}};
// NT SERVICE\TrustedInstaller, S-1-5-80-956008885-3418522649-1831038044-
// 1853292631-2271478464: the owner of Program Files.
inline constexpr FixedSid<6> TrustedInstaller = {
    SID_REVISION, 6, SECURITY_NT_AUTHORITY, {80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464}};

// What the elevated run needs to know of this process's token. Where a
// fact cannot be read it keeps the safe side: elevated (so nothing is
// deleted unjudged), no trusted account of its own.
struct TokenFacts {
  bool elevated = true;
  TOKEN_ELEVATION_TYPE elevationType = TokenElevationTypeDefault;
  bool inAdministrators = false;
  // For a split (limited) token: the elevated half has the same user.
  bool linkedUserIsSame = false;
  bool hasUser = false;
  BYTE user[SECURITY_MAX_SID_SIZE] = {};

  PSID User() const { return hasUser ? const_cast<BYTE*>(user) : nullptr; }
};

void ReadTokenFacts(TokenFacts& facts);

// True when the account that runs this process is the one that runs the
// update elevated: when its token is the full one of an elevated
// administrator (the elevated instance, or a caller that was elevated
// itself), when UAC is off and the account is an administrator, or when its
// token's elevated half has the same user.
// Not for a standard user (another account approves the prompt) nor where
// elevation goes to a separate account (administrator protection): then
// this account's own rights over the folder count against it. It depends on
// the token alone, so that every judgement of a process trusts the same.
bool SameAccountRunsElevated(const TokenFacts& facts);

// The account the folder's judgement trusts besides SYSTEM, Administrators
// and TrustedInstaller: this process's user where SameAccountRunsElevated,
// else nobody (null).
PSID TrustedAccount(const TokenFacts& facts);

// Makes Administrators the owner of what this process and its children
// create, rather than the approving administrator's own account: so that
// the files an elevated update writes do not make the next elevation, by
// another administrator, refuse the folder. Returns 0, or the error code of
// the call that failed; a system that does not implement the setting
// counts as 0 (the files then keep the default owner).
DWORD MakeAdministratorsDefaultOwner();
