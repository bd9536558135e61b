// The watchdog over a driver's calls. A call into the driver that never
// returns cannot be bounded from the thread that made it, and a Windows
// program has no alarm signal, so a second thread watches the clock: when
// one call has run longer than the limit, it logs which, has the spooler
// drop the job (so that no half-sent page reaches the printer as if it were
// whole) and ends the process with the exit code of a failed job.
#include "driver_host.h"

#include <stdio.h>
#include <stdlib.h>

#include "strelwick.h"

// Generous: a driver may compress a 1200 dpi page for minutes on a slow
// machine. STRELWICK_DRIVER_TIMEOUT (seconds) sets another limit.
static const DWORD kDefaultLimitSeconds = 600;

static struct {
    HANDLE thread;
    HANDLE stop;
    HANDLE printer;
    DWORD limitMs;
    CRITICAL_SECTION lock;
    int depth; // nested calls: the engine may call the driver inside its own call
    const char* name;
    ULONGLONG started;
} g_watch;

static DWORD WINAPI AbortJob(LPVOID printer)
{
    AbortPrinter((HANDLE)printer);
    return 0;
}

static void EndOverdueJob(const char* name, DWORD seconds)
{
    dbg_log("driver: %s has not returned after %lu seconds; ending the job, nothing more is "
            "printed\n",
        name, (unsigned long)seconds);
    // AbortPrinter may wait for a lock the stuck call holds: give it a while.
    HANDLE t = CreateThread(NULL, 0, AbortJob, g_watch.printer, 0, NULL);
    if (t) {
        WaitForSingleObject(t, 10000);
        CloseHandle(t);
    }
    fflush(stdout);
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 0);
}

static DWORD WINAPI Watch(LPVOID)
{
    while (WaitForSingleObject(g_watch.stop, 250) == WAIT_TIMEOUT) {
        EnterCriticalSection(&g_watch.lock);
        const char* name = g_watch.depth ? g_watch.name : NULL;
        ULONGLONG ran = name ? GetTickCount64() - g_watch.started : 0;
        LeaveCriticalSection(&g_watch.lock);
        if (name && ran > g_watch.limitMs)
            EndOverdueJob(name, g_watch.limitMs / 1000);
    }
    return 0;
}

void StartDriverWatchdog(HANDLE printer)
{
    const char* env = getenv("STRELWICK_DRIVER_TIMEOUT");
    long seconds = env ? atol(env) : 0;
    if (seconds <= 0 || seconds > 86400)
        seconds = kDefaultLimitSeconds;
    InitializeCriticalSection(&g_watch.lock);
    g_watch.printer = printer;
    g_watch.limitMs = (DWORD)seconds * 1000;
    g_watch.stop = CreateEventA(NULL, TRUE, FALSE, NULL);
    g_watch.thread = g_watch.stop ? CreateThread(NULL, 0, Watch, NULL, 0, NULL) : NULL;
    if (!g_watch.thread)
        dbg_log("driver: cannot start the watchdog (error %d); the driver's calls are not "
                "bounded\n",
            LastError());
}

void StopDriverWatchdog(void)
{
    if (g_watch.thread) {
        SetEvent(g_watch.stop);
        WaitForSingleObject(g_watch.thread, INFINITE);
        CloseHandle(g_watch.thread);
        g_watch.thread = NULL;
    }
    if (g_watch.stop) {
        CloseHandle(g_watch.stop);
        g_watch.stop = NULL;
        DeleteCriticalSection(&g_watch.lock);
    }
}

void DriverCallBegin(const char* name)
{
    if (!g_watch.stop)
        return;
    EnterCriticalSection(&g_watch.lock);
    if (g_watch.depth++ == 0) {
        g_watch.name = name;
        g_watch.started = GetTickCount64();
    }
    LeaveCriticalSection(&g_watch.lock);
}

void DriverCallEnd(void)
{
    if (!g_watch.stop)
        return;
    EnterCriticalSection(&g_watch.lock);
    if (g_watch.depth > 0)
        g_watch.depth--;
    LeaveCriticalSection(&g_watch.lock);
}
