#include "sim/driver/ScenarioStandIns.h"
#include "sim/driver/CScenarioProcess.h"
#include "sim/driver/ScenarioWait.h"

DWORD ScenarioRegisterComServer(LPCWSTR dllPath)
{
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, ARRAYSIZE(system));
    CScenarioProcess regsvr32;
    CScenarioProcess::Options options;
    options.program = ScenarioPath(system, L"regsvr32.exe");
    options.arguments.Format(L"/s \"%s\"", dllPath);
    if (const DWORD error = regsvr32.Start(options))
        return error;
    DWORD exitCode = ERROR_TIMEOUT;
    if (!regsvr32.WaitForExit(30000, &exitCode))
        return ERROR_TIMEOUT;
    return exitCode;
}

DWORD ScenarioRegisterStandIns(LPCWSTR folder)
{
    const CStringEx from = folder ? CStringEx(folder) : ScenarioProgramFolder();
    for (LPCWSTR name : {L"KelvoSignOnSim.dll", L"KelvoAdsiSim.dll"})
    {
        if (const DWORD error = ScenarioRegisterComServer(ScenarioPath(from, name)))
            return error;
    }
    return 0;
}
