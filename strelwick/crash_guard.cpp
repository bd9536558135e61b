// The crash guard.
#include "strelwick.h"

#include <stdio.h>

// Exit code of a process that died of an unhandled exception.
static const UINT kCrashExitCode = 3;

// A crash must not start a debugger that writes its report onto stdout,
// which is printer data: write one line to stderr and end with a fixed code.
static LONG WINAPI CrashFilter(EXCEPTION_POINTERS* info)
{
    char line[96];
    DWORD code = info && info->ExceptionRecord ? info->ExceptionRecord->ExceptionCode : 0;
    int n = snprintf(
        line, sizeof(line), "strelwick: unhandled exception 0x%08lx\n", (unsigned long)code);
    DWORD written = 0;
    if (n > 0)
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, (DWORD)n, &written, NULL);
    TerminateProcess(GetCurrentProcess(), kCrashExitCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

void InstallCrashGuard(void)
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(CrashFilter);
}
