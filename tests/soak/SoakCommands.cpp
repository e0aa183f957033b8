#include "tests/soak/SoakCommands.h"
#include "tests/soak/CProcessMemoryMap.h"
#include "tests/soak/CSoakRun.h"
#include "common/CUniqueAnyEx.h"
#include <cstdio>

int SoakCommand(int cycles, const SoakSink& say)
{
    say("Soak: the agent under Wine against the simulated cart, " + std::to_string(cycles) +
        " press-to-grant cycles; a lock and");
    say("unlock after every 10th, an unplug and replug after every 25th.");
    CSoakRun soak(say);
    const ULONGLONG start = GetTickCount64();
    const bool ran = soak.Run(cycles);
    char line[256];
    snprintf(line, sizeof(line),
             "   run time %.0f s; goal: handles +%d at most, private +%.1f MB at most, threads equal, no failure: %s",
             static_cast<double>(GetTickCount64() - start) / 1000.0, CSoakRun::kHandleMargin,
             CSoakRun::kPrivateMarginMb, soak.MetGoal() ? "met" : "NOT met");
    say(line);
    say(soak.Summary());
    return ran && soak.MetGoal() ? 0 : 1;
}

namespace
{
bool SayMap(DWORD processId, const std::string& what, const SoakSink& say)
{
    CKernelHandleEx process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    CProcessMemoryMap map;
    if (!process || !map.Read(process.Get()))
    {
        say("the memory of " + what + " could not be read");
        return false;
    }
    say(what + ":");
    for (const std::string& line : map.Describe(40))
        say("   " + line);
    return true;
}

// A minimal dialog program under the same layer, to tell the layer's share from the agent's:
// alone, with two more threads that only wait, as many as the agent has beside its own, and
// after a thread that has ended.
void SayBaselineMap(const SoakSink& say, int threads, int endedThreads, const std::string& what)
{
    CScenarioProcess baseline;
    CScenarioProcess::Options options;
    options.program = ScenarioPath(ScenarioProgramFolder(), L"ScenarioTestDialog.exe");
    options.arguments = L"--title KelvoMemoryBaseline --hwid none --threads ";
    options.arguments += std::to_wstring(threads).c_str();
    options.arguments += L" --ended-threads ";
    options.arguments += std::to_wstring(endedThreads).c_str();
    if (baseline.Start(options) != 0)
        return;
    Sleep(1500);
    SayMap(baseline.GetProcessId(), what, say);
    baseline.Terminate(0);
}
}

int MemoryMapCommand(const SoakSink& say)
{
    CAgentRoad road;
    if (!road.Start(AgentRoadOptions()))
    {
        say("the agent could not be started: " + ScenarioUtf8(road.GetErrorText().c_str()));
        return 1;
    }
    // Idle and polling, after the start's work has settled.
    Sleep(2000);
    if (!SayMap(road.Agent().GetProcessId(), "The agent idle and polling", say))
        return 1;

    // The deepest the threads reach: a grant, then a refusal with its box.
    size_t mark = road.Cart().Mark();
    const bool granted = road.Press() && road.Cart().WaitForExchange(L"drawer access granted", mark, 10000);
    road.ConfigureSignOn({L"Principal=visitor@" + CAgentRoad::ComputerName(), L"Methods=1"});
    mark = road.Cart().Mark();
    const bool refused = road.Press() && road.Cart().WaitForExchange(L"is not authorized", mark, 10000) &&
                         road.Boxes().WaitForBox(10000) && road.Boxes().Press(IDOK);
    if (!granted || !refused)
        say("the sign-ins did not end as they should");
    Sleep(1000);
    const bool mapped = SayMap(road.Agent().GetProcessId(), "The agent after a grant and a refusal with its box", say);
    SayBaselineMap(say, 0, 0, "A minimal dialog program, for comparison");
    SayBaselineMap(say, 2, 0, "The same with two more threads that only wait (the agent has three)");
    SayBaselineMap(say, 2, 1, "The same after one more thread has run and ended (the agent's log cleanup)");
    return mapped && road.Stop() && granted && refused ? 0 : 1;
}
