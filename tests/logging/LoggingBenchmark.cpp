// Prints what one log line costs: written to the day's file (opened and closed per line),
// skipped by the level, and handed off to a writer thread. Not a test.
#include "common/CComPtrEx.h"
#include "common/CResourceLoader.h"
#include "common/CUtilLogging.h"
#include "tests/logging/LoggingTestSupport.h"
#include <cstdio>
#include <thread>

using namespace LoggingTest;

namespace
{
double MicrosecondsPerCall(LARGE_INTEGER start, int calls)
{
    LARGE_INTEGER end, frequency;
    QueryPerformanceCounter(&end);
    QueryPerformanceFrequency(&frequency);
    return 1e6 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart) / calls;
}

LARGE_INTEGER Now()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
}
}

int main()
{
    if (CResourceLoader::Instance().Load() != 0)
    {
        printf("KVResource.dll of this release not found beside the program\n");
        return 1;
    }
    const CStringEx prefix = UniqueName(L"LogBench");
    CUtilLogging log;
    if (FAILED(log.Initialize(4, 0, prefix, FOLDERID_LocalAppData)))
    {
        printf("logging did not start\n");
        return 1;
    }
    const int written = 2000, skipped = 200000, handedOff = 2000;

    LARGE_INTEGER start = Now();
    for (int i = 0; i < written; ++i)
        log.Log(4, L"Benchmark line %d of %d: %s\n", i, written, L"a typical event text");
    printf("written line:   %8.2f us per call (%d calls)\n", MicrosecondsPerCall(start, written), written);

    start = Now();
    for (int i = 0; i < skipped; ++i)
        log.Log(5, L"Detail %d\n", i);
    printf("skipped line:   %8.3f us per call (%d calls)\n", MicrosecondsPerCall(start, skipped), skipped);

    DWORD writerId = 0;
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread writer([&] {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
        writerId = GetCurrentThreadId();
        SetEvent(ready);
        while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        {
            if (msg.message != CUtilLogging::kHandOffMessage)
                continue;
            CBstrEx linePrefix, text;
            linePrefix.Attach(reinterpret_cast<BSTR>(msg.wParam));
            text.Attach(reinterpret_cast<BSTR>(msg.lParam));
            log.WriteLine(linePrefix.Text(), text.Text());
        }
    });
    WaitForSingleObject(ready, INFINITE);
    CloseHandle(ready);
    log.SetHandOffThread(writerId);
    start = Now();
    for (int i = 0; i < handedOff; ++i)
        log.Log(4, L"Handed-off line %d\n", i);
    const double posting = MicrosecondsPerCall(start, handedOff);
    PostThreadMessageW(writerId, WM_QUIT, 0, 0);
    writer.join();
    const double total = MicrosecondsPerCall(start, handedOff);
    log.SetHandOffThread(0);
    printf("handed-off line: %7.2f us per call to post, %.2f us per line until all were written (%d lines)\n",
           posting, total, handedOff);

    const CStringEx file = log.GetFilePath();
    log.Initialize(0, 0, nullptr, FOLDERID_LocalAppData);
    DeleteFileW(file);
    return 0;
}
