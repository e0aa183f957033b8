// Timings of the cart link against the simulated cart with no added delay: one exchange,
// one full status poll, and the worker's CPU time while it polls every 500 ms. Prints the
// figures; it asserts nothing.
#include "CartLinkTestSupport.h"
#include "agent/CKelvoAgentThread.h"
#include "common/CResourceLoader.h"
#include <algorithm>
#include <cstdio>
#include <cwchar>

namespace
{
constexpr double kUsbExchangeMs = 2.0;   // one request/response at USB full speed

struct Figures
{
    double median;
    double p99;
};

Figures Summarise(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    const size_t n = samples.size();
    return {samples[n / 2], samples[std::min(n - 1, (n * 99) / 100)]};
}

template <class F>
Figures Measure(int rounds, F&& once)
{
    std::vector<double> samples;
    samples.reserve(static_cast<size_t>(rounds));
    for (int i = 0; i < rounds; ++i)
    {
        const double start = NowMs();
        once();
        samples.push_back(NowMs() - start);
    }
    return Summarise(std::move(samples));
}

// The same round trip without the transport: open, write, read, close on the pipe.
void BareExchange(LPCWSTR path)
{
    HANDLE pipe = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (pipe == INVALID_HANDLE_VALUE)
        return;
    CFileHandleEx owner(pipe);
    CEventEx event;
    event.Create();
    BYTE report[KELVO_REPORT_SIZE] = {KELVO_REPORT_ID, KELVO_CMD_QUERY_ACCESS};
    OVERLAPPED overlapped = {};
    overlapped.hEvent = event.GetHandle();
    DWORD bytes = 0;
    if (!WriteFile(pipe, report, sizeof(report), nullptr, &overlapped) && GetLastError() == ERROR_IO_PENDING)
        event.Wait(3000);
    GetOverlappedResult(pipe, &overlapped, &bytes, FALSE);
    event.Reset();
    overlapped = {};
    overlapped.hEvent = event.GetHandle();
    if (!ReadFile(pipe, report, sizeof(report), nullptr, &overlapped) && GetLastError() == ERROR_IO_PENDING)
        event.Wait(3000);
    GetOverlappedResult(pipe, &overlapped, &bytes, FALSE);
}

double FileTimeMs(const FILETIME& time)
{
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return static_cast<double>(value.QuadPart) / 10000.0;
}
}

int main(int argc, char** argv)
{
    const int pollSeconds = argc > 1 ? std::max(1, atoi(argv[1])) : 60;
    CResourceLoader::Instance().Load();
    auto devices = MakeObjectEx<CKelvoSimHidDevices>();
    CKelvoUSBCommStaticData::Instance().SetHidDevices(devices);
    CKelvoUSBComm::LoadSupportedDevices({L"HID\\VID_0B6A&PID_0417"});
    auto cart = MakeObjectEx<CKelvoCartSimulator>(kCartVendor, kCartProduct);
    if (cart->Start() != 0)
    {
        fprintf(stderr, "the simulated cart did not start\n");
        return 1;
    }
    devices->Add(cart);
    auto transport = MakeObjectEx<CKelvoUSBComm>();
    if (!transport->FindDevice())
    {
        fprintf(stderr, "the simulated cart was not found\n");
        return 1;
    }

    const CStringEx path = CCartUSBComm::GetDevicePath();
    for (int i = 0; i < 200; ++i)
        BareExchange(path);   // warm-up
    const Figures bare = Measure(2000, [&] { BareExchange(path); });

    const CKelvoQueryAccessRequest queryAccess;
    const CKelvoQueryStatusRequest queryStatus;
    const CKelvoPollForDrawerBtnRequest pollButton;
    DWORD failures = 0;
    const Figures exchange = Measure(2000, [&] {
        CKelvoQueryAccessResponse response;
        failures += transport->Transact(&queryAccess, &response) != 0;
    });
    const Figures poll = Measure(1000, [&] {
        CKelvoQueryAccessResponse access;
        CKelvoQueryStatusResponse status;
        CKelvoPollForDrawerBtnResponse button;
        failures += transport->Transact(&queryAccess, &access) != 0;
        failures += transport->Transact(&queryStatus, &status) != 0;
        failures += transport->Transact(&pollButton, &button) != 0;
    });

    printf("Cart link against the simulated cart (named pipe, no added delay), under this host's Windows layer\n");
    printf("  bare open-write-read-close:       median %.3f ms, p99 %.3f ms\n", bare.median, bare.p99);
    printf("  one exchange (Transact):          median %.3f ms, p99 %.3f ms  (%.2f x a 2 ms USB exchange; %+.3f ms over bare)\n",
           exchange.median, exchange.p99, exchange.median / kUsbExchangeMs, exchange.median - bare.median);
    printf("  one full status poll (3 exch.):   median %.3f ms, p99 %.3f ms  (%.2f x three 2 ms USB exchanges)\n",
           poll.median, poll.p99, poll.median / (3 * kUsbExchangeMs));
    printf("  failed exchanges: %lu\n", failures);
    fflush(stdout);

    // The worker polling every 500 ms: its CPU time over the whole period.
    CTestWindow window;
    auto worker = MakeObjectEx<CKelvoAgentThread>();
    if (!worker->Start(transport, window.Get()))
    {
        fprintf(stderr, "the worker did not start\n");
        return 1;
    }
    CHandleEx workerHandle(OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, worker->GetThreadId()));
    FILETIME created, exited, kernelBefore, userBefore, kernelAfter, userAfter;
    FILETIME processKernelBefore, processUserBefore, processKernelAfter, processUserAfter;
    GetThreadTimes(workerHandle.GetHandle(), &created, &exited, &kernelBefore, &userBefore);
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &processKernelBefore, &processUserBefore);
    const LONG pollsBefore = cart->GetRequestCount(KELVO_CMD_QUERY_ACCESS);
    const double start = NowMs();
    worker->SetPeriodicMessage(reinterpret_cast<WPARAM>(window.Get()), 500);
    window.Pump(static_cast<DWORD>(pollSeconds) * 1000);
    const double wall = NowMs() - start;
    GetThreadTimes(workerHandle.GetHandle(), &created, &exited, &kernelAfter, &userAfter);
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &processKernelAfter, &processUserAfter);
    const LONG polls = cart->GetRequestCount(KELVO_CMD_QUERY_ACCESS) - pollsBefore;
    worker->Stop();

    const double workerCpu = FileTimeMs(kernelAfter) - FileTimeMs(kernelBefore) + FileTimeMs(userAfter) -
                             FileTimeMs(userBefore);
    const double processCpu = FileTimeMs(processKernelAfter) - FileTimeMs(processKernelBefore) +
                              FileTimeMs(processUserAfter) - FileTimeMs(processUserBefore);
    printf("  worker polling every 500 ms for %.1f s: %ld polls, worker CPU %.1f ms (%.4f %% of one core); "
           "whole process incl. simulated cart %.1f ms (%.4f %%)\n",
           wall / 1000.0, polls, workerCpu, 100.0 * workerCpu / wall, processCpu, 100.0 * processCpu / wall);
    cart->Stop();
    CKelvoUSBCommStaticData::Instance().SetHidDevices(nullptr);
    return 0;
}
