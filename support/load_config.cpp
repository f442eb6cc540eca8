// The executable's load configuration, and what it points at: the stack
// guard the loader seeds, the routine a failed stack check ends in, and the
// two pointers through which Control Flow Guard checks indirect calls.
// Linked into the executables only (lld-19 builds), like support/crt.cpp:
// the test programs have a C runtime of their own.
//
// Debian's mingw-w64 headers declare IMAGE_LOAD_CONFIG_DIRECTORY64 only up
// to SEHandlerCount, and its C runtime has no load configuration, so the
// whole 0x140-byte structure is written out here. lld finds it by the name
// _load_config_used, points the load-configuration directory at it, and
// defines the __guard_* symbols it refers to.

#include <windows.h>

// The value the loader looks for: it replaces a guard that still holds it
// with a random one before the entry point runs. A guard with any other
// value would be left as it is, and then every process had the same cookie.
extern "C" UINT_PTR __stack_chk_guard = 0x00002B992DDFA232ull;

// Called by a function whose stack cookie was overwritten. It must not
// return, unwind or call anything the overflow may have reached: a fast fail
// ends the process at once with STATUS_STACK_BUFFER_OVERRUN (0xC0000409),
// with no handler of the process run first.
extern "C" __attribute__((noreturn)) void __stack_chk_fail() {
  asm volatile("int $0x29" : : "c"(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE));
  __builtin_unreachable();
}

// Control Flow Guard: the compiler calls indirect targets through
// __guard_dispatch_icall_fptr (target in rax) and checks through
// __guard_check_icall_fptr. Until the loader writes its own routines there
// (it does when the image is marked GUARD_CF and the system supports it),
// they dispatch unchecked. They sit in .00cfg, which lld puts in the
// read-only .rdata; the loader unprotects it while it writes them.
asm(R"(
  .text
  .p2align 4
lindquay_guard_check_icall:
  ret
  .p2align 4
lindquay_guard_dispatch_icall:
  jmp *%rax

  .section .00cfg,"dr"
  .p2align 3
  .globl __guard_check_icall_fptr
__guard_check_icall_fptr:
  .quad lindquay_guard_check_icall
  .globl __guard_dispatch_icall_fptr
__guard_dispatch_icall_fptr:
  .quad lindquay_guard_dispatch_icall

  .section .rdata$lindquay_load_config,"dr"
  .p2align 3
  .globl _load_config_used
_load_config_used:
  .long 0x140                         # Size
  .long 0                             # TimeDateStamp: none, for reproducible builds
  .short 0, 0                         # MajorVersion, MinorVersion
  .long 0, 0, 0                       # GlobalFlagsClear, GlobalFlagsSet, CriticalSectionDefaultTimeout
  .quad 0, 0, 0, 0, 0, 0              # DeCommit..., LockPrefixTable, MaximumAllocationSize, VirtualMemoryThreshold, ProcessAffinityMask
  .long 0                             # ProcessHeapFlags
  .short 0                            # CSDVersion
  .short 0                            # DependentLoadFlags: set by the link (/dependentloadflag)
  .quad 0                             # EditList
  .quad __stack_chk_guard             # SecurityCookie
  .quad 0, 0                          # SEHandlerTable, SEHandlerCount (x86 only)
  .quad __guard_check_icall_fptr      # GuardCFCheckFunctionPointer
  .quad __guard_dispatch_icall_fptr   # GuardCFDispatchFunctionPointer
  .quad __guard_fids_table            # GuardCFFunctionTable
  .quad __guard_fids_count            # GuardCFFunctionCount
  .long __guard_flags                 # GuardFlags
  .short 0, 0                         # CodeIntegrity: Flags, Catalog
  .long 0, 0                          # CodeIntegrity: CatalogOffset, Reserved
  .quad __guard_iat_table             # GuardAddressTakenIatEntryTable
  .quad __guard_iat_count             # GuardAddressTakenIatEntryCount
  .quad __guard_longjmp_table         # GuardLongJumpTargetTable
  .quad __guard_longjmp_count         # GuardLongJumpTargetCount
  .quad 0, 0, 0, 0                    # DynamicValueRelocTable, CHPEMetadataPointer, GuardRFFailureRoutine, ...FunctionPointer
  .long 0                             # DynamicValueRelocTableOffset
  .short 0, 0                         # DynamicValueRelocTableSection, Reserved2
  .quad 0                             # GuardRFVerifyStackPointerFunctionPointer
  .long 0, 0                          # HotPatchTableOffset, Reserved3
  .quad 0, 0                          # EnclaveConfigurationPointer, VolatileMetadataPointer
  .quad __guard_eh_cont_table         # GuardEHContinuationTable
  .quad __guard_eh_cont_count         # GuardEHContinuationCount
  .quad 0, 0, 0                       # GuardXFG Check, Dispatch, TableDispatch FunctionPointer
  .quad 0                             # CastGuardOsDeterminedFailureMode
  .quad 0                             # GuardMemcpyFunctionPointer
  .text
)");
