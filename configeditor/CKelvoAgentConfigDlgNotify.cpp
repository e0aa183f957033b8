#include "configeditor/CKelvoAgentConfigDlgNotify.h"
#include "common/CComPtrEx.h"
#include "common/CErrorEx.h"
#include "common/CUniqueAnyEx.h"
#include "common/CUtilLogging.h"
#include "KelvoConfigSvcLib.h"
#include "resources/KVResourceIds.h"
#include <tlhelp32.h>
#include <vector>

namespace KelvoAgentConfigNotify
{
namespace
{
const wchar_t kExeSuffix[] = L".exe";
const int kExeSuffixLength = 4;
const wchar_t kDialogClass[] = L"#32770";

bool HasExeSuffix(const CStringEx& name)
{
    return name.GetLength() > kExeSuffixLength && name.Right(kExeSuffixLength).CompareNoCase(kExeSuffix) == 0;
}

// The IDs of every running process whose image belongs to the program.
std::vector<DWORD> FindProcesses(LPCWSTR programName)
{
    std::vector<DWORD> ids;
    CFileHandleEx snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return ids;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more; more = Process32NextW(snapshot.Get(), &entry))
    {
        if (entry.th32ProcessID != 0 && IsImageOf(entry.szExeFile, programName))
            ids.push_back(entry.th32ProcessID);
    }
    return ids;
}

struct WindowSearch
{
    DWORD processId;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectDialogWindow(HWND window, LPARAM context)
{
    auto* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId)
        return TRUE;
    wchar_t className[32] = {};
    if (GetClassNameW(window, className, ARRAYSIZE(className)) > 0 && wcscmp(className, kDialogClass) == 0)
        search->windows.push_back(window);
    return TRUE;
}
}

CStringEx ProgramBaseName(LPCWSTR programName)
{
    CStringEx name(programName);
    if (HasExeSuffix(name))
        return name.Left(name.GetLength() - kExeSuffixLength);
    return name;
}

bool IsImageOf(LPCWSTR imageName, LPCWSTR programName)
{
    const CStringEx program = ProgramBaseName(programName);
    return !program.IsEmpty() && ProgramBaseName(imageName).CompareNoCase(program) == 0;
}

int NotifyDesktopProgram(LPCWSTR programName)
{
    int posted = 0;
    for (const DWORD processId : FindProcesses(programName))
    {
        WindowSearch search{ processId, {} };
        EnumWindows(CollectDialogWindow, reinterpret_cast<LPARAM>(&search));
        for (const HWND window : search.windows)
        {
            if (PostMessageW(window, WM_AGENT_RELOAD_SETTINGS, 0, 0))
                ++posted;
            else
                CUtilLogging::Instance().LogRes(2, IDS_EDITOR_RELOAD_POST_FAILED, GetLastError());
        }
    }
    return posted;
}

HRESULT NotifyService(LPCWSTR serviceName)
{
    if (FindProcesses(serviceName).empty())
        return S_FALSE;
    try
    {
        CStringEx progId;
        progId.Format(L"%s.ServiceConfig", ProgramBaseName(serviceName).GetString());
        CLSID classId = {};
        ThrowIfFailed(CLSIDFromProgID(progId, &classId));
        CComPtrEx<IDispatch> dispatch;
        ThrowIfFailed(CoCreateInstance(classId, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, dispatch.PutVoid()));
        DISPPARAMS noArguments = {};
        CVariantEx result;
        // DISPID 1 is Changed, the interface's only method.
        return dispatch->Invoke(1, IID_NULL, 1024, DISPATCH_METHOD, &noArguments, result.Put(), nullptr, nullptr);
    }
    catch (...)
    {
        return HResultFromCaughtException();
    }
}

HRESULT SaveThroughService(LPCWSTR userName, LPCWSTR domainName, LPCWSTR path, LPCWSTR xml)
{
    try
    {
        CComPtrEx<IAgentConfig> agentConfig;
        const HRESULT created = CoCreateInstance(CLSID_AgentConfig, nullptr,
                                                 CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                                                     CLSCTX_REMOTE_SERVER,
                                                 IID_IAgentConfig, agentConfig.PutVoid());
        if (created != S_OK)
            return FAILED(created) ? created : E_FAIL;
        CBstrEx user(userName), domain(domainName), file(path), text(xml);
        return agentConfig->SaveChanges(user.Get(), domain.Get(), file.Get(), text.Get());
    }
    catch (...)
    {
        return HResultFromCaughtException();
    }
}
}
