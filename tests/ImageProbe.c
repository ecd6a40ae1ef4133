/* A program of a few lines for the tests of the image checks: besides what the C runtime needs,
   it imports the one function that its build names, or runs one SSE instruction, or neither. */

#include <windows.h>

#include <shlwapi.h>
#include <stdio.h>

int main(void) {
#if defined(PROBE_KERNEL32_REOPENFILE)
    /* Windows Server 2003 and Vista have it; Windows XP does not. */
    return ReOpenFile(GetStdHandle(STD_INPUT_HANDLE), GENERIC_READ, FILE_SHARE_READ, 0) != NULL;
#elif defined(PROBE_MSVCRT_WFOPEN_S)
    /* The msvcrt.dll of Windows Vista and later has it. */
    FILE* file = NULL;
    return _wfopen_s(&file, L"probe", L"r");
#elif defined(PROBE_SHLWAPI)
    /* Windows XP has it, but the check has no list for the DLL. */
    return PathFileExistsW(L"probe");
#elif defined(PROBE_SSE)
    /* An instruction of the Pentium III's SSE, with no CPUID test before it; the compiler
       uses no SSE register for this processor, so none needs saving. */
    __asm__ volatile("xorps %xmm0, %xmm0");
    return 0;
#else
    return GetTickCount() == 0;
#endif
}
