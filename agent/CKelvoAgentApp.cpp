#include "agent/CKelvoAgentApp.h"
#include "agent/CKelvoAgentDlg.h"
#include "agent/KelvoAgentMessages.h"
#include "common/CUniqueAnyEx.h"
#include "common/CResourceLoader.h"
#include "common/CUtilLogging.h"
#include "common/ui/CMessageBoxEx.h"
#include "resources/KVResourceIds.h"
#include <commctrl.h>
#include <shellapi.h>
#include <tlhelp32.h>

namespace
{
struct WindowSearch
{
    DWORD processId;
    const wchar_t* title;
    HWND found;
};

// The agent window of a process: a top-level dialog titled with the application title
// that carries the connected-state text. The agent's message boxes have the same class and
// title and lie above the hidden window; a close sent to one of them would be lost, and the
// agent terminated without letting go of the cart.
BOOL CALLBACK FindAgentWindow(HWND window, LPARAM context)
{
    auto* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId)
        return TRUE;
    wchar_t className[16] = {};
    wchar_t title[256] = {};
    GetClassNameW(window, className, ARRAYSIZE(className));
    GetWindowTextW(window, title, ARRAYSIZE(title));
    if (wcscmp(className, L"#32770") == 0 && wcscmp(title, search->title) == 0 &&
        GetDlgItem(window, IDC_AGENT_CONNECTED) != nullptr)
    {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// A switch matches when the argument starts with "-" or "/" and the rest is the switch's
// text in any letter case; a switch whose text cannot be loaded never matches.
bool IsSwitch(const wchar_t* argument, UINT switchId)
{
    if (!argument || (argument[0] != L'-' && argument[0] != L'/'))
        return false;
    CStringEx text;
    return CResourceLoader::Instance().TryLoadString(switchId, text) && !text.IsEmpty() &&
           _wcsicmp(argument + 1, text) == 0;
}

}

const CKelvoAgentApp::AgentProcess* CKelvoAgentApp::ChooseAgentToStop(const std::vector<AgentProcess>& processes,
                                                                      DWORD ownProcessId, DWORD ownSessionId)
{
    const AgentProcess* last = nullptr;
    for (const AgentProcess& process : processes)
    {
        if (process.processId == ownProcessId || process.sessionId != ownSessionId)
            continue;
        if (process.window)
            return &process;
        last = &process;
    }
    return last;
}

CKelvoAgentApp::Switches CKelvoAgentApp::ParseSwitches(int argc, wchar_t** argv)
{
    Switches switches;
    for (int i = 1; i < argc; ++i)
    {
        if (IsSwitch(argv[i], IDS_AGENT_SWITCH_STOP))
            switches.stop = true;
        else if (IsSwitch(argv[i], IDS_AGENT_SWITCH_NO_AUTO_AUTH))
            switches.skipFirstAuthStart = true;
    }
    return switches;
}

std::vector<CKelvoAgentApp::AgentProcess> CKelvoAgentApp::FindOtherInstances()
{
    std::vector<AgentProcess> processes;
    wchar_t ownPath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, ownPath, MAX_PATH);
    const wchar_t* ownName = wcsrchr(ownPath, L'\\') ? wcsrchr(ownPath, L'\\') + 1 : ownPath;

    CFileHandleEx snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return processes;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more; more = Process32NextW(snapshot.Get(), &entry))
    {
        if (entry.th32ProcessID == GetCurrentProcessId() || _wcsicmp(entry.szExeFile, ownName) != 0)
            continue;
        AgentProcess process = { entry.th32ProcessID, 0, nullptr };
        // A process whose session cannot be told is not known to be ours.
        if (!ProcessIdToSessionId(entry.th32ProcessID, &process.sessionId))
            continue;
        WindowSearch search = { entry.th32ProcessID, GetAppTitle(), nullptr };
        EnumWindows(&FindAgentWindow, reinterpret_cast<LPARAM>(&search));
        process.window = search.found;
        processes.push_back(process);
    }
    return processes;
}

void CKelvoAgentApp::StopRunningAgent()
{
    DWORD ownSession = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &ownSession))
        return;
    const std::vector<AgentProcess> processes = FindOtherInstances();
    const AgentProcess* agent = ChooseAgentToStop(processes, GetCurrentProcessId(), ownSession);
    if (!agent)
        return;

    // A hung agent never answers a plain send; the wait and the termination follow anyway.
    if (agent->window)
    {
        DWORD_PTR answer = 0;
        SendMessageTimeoutW(agent->window, WM_AGENT_CLOSE, 0, 0, SMTO_ABORTIFHUNG | SMTO_NORMAL,
                            kCloseAnswerTimeoutMs, &answer);
    }
    CProcessEx process;
    if (!process.Open(agent->processId, SYNCHRONIZE | PROCESS_TERMINATE))
        return;
    if (WaitForSingleObject(process.GetHandle(), kEndWaitMs) == WAIT_TIMEOUT)
        TerminateProcess(process.GetHandle(), 0);
}

void CKelvoAgentApp::RunAgentWindow(bool skipFirstAuthStart)
{
    CKelvoAgentDlg window;
    window.SetSkipNextAuthStart(skipFirstAuthStart);
    if (window.DoModal() == -1)
        CMessageBoxEx::ShowRes(nullptr, IDS_AGENT_WINDOW_FAILED, GetAppTitle(), MB_OK | MB_ICONERROR, 0);
}

BOOL CKelvoAgentApp::InitInstance()
{
    // The satellite library, or the program's own text and the end.
    if (!InitResources())
        return FALSE;

    // One agent per session: two workers on one cart would read each other's answers. A
    // mutex that cannot be made at all (an agent of higher integrity holds it, or the name is
    // taken by another kind of object) is no licence to start: it counts as a running agent.
    const BOOL created = m_instanceMutex.Create(kInstanceMutexName);
    const bool alreadyRunning = !created || GetLastError() == ERROR_ALREADY_EXISTS;

    Switches switches;
    {
        int argc = 0;
        wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
        const CLocalMemEx owner(argv);
        if (argv)
            switches = ParseSwitches(argc, argv);
    }

    CStringEx title;
    CResourceLoader::Instance().LoadString(IDS_AGENT_TITLE, title);
    SetAppTitle(title);

    // A second start ends quietly; its stop form ends the running agent first.
    if (alreadyRunning)
    {
        if (switches.stop)
            StopRunningAgent();
        return FALSE;
    }
    if (switches.stop)
        return FALSE;

    INITCOMMONCONTROLSEX controls = { sizeof(controls), ICC_WIN95_CLASSES };
    InitCommonControlsEx(&controls);

    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr))
    {
        CStringEx text;
        CResourceLoader::Instance().FormatString(text, IDS_AGENT_COM_FAILED, static_cast<unsigned>(hr));
        CMessageBoxEx::Show(nullptr, text, GetAppTitle(), MB_OK | MB_ICONERROR, 0);
    }
    else
    {
        RunAgentWindow(switches.skipFirstAuthStart);
        CoUninitialize();
    }

    CUtilLogging& log = CUtilLogging::Instance();
    if (log.GetLevel() != 0)
    {
        log.LogRes(1, IDS_AGENT_LOG_STOPPED);
        log.Initialize(0, 0, GetAppName(), FOLDERID_LocalAppData);
    }
    return FALSE;
}
