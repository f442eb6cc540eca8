#include "support/failure_codes.h"

// Out of line: one copy for the places that need it.
DWORD LastFailureCode() { return FailureCode(GetLastError()); }
