#include "configsvc/CKelvoConfigSvcModule.h"
#include "common/CComPtrEx.h"
#include "common/CConfiguration.h"
#include "common/CResourceLoader.h"
#include "common/CUniqueAnyEx.h"
#include "common/CUtilLogging.h"
#include "common/com/CComInitializeEx.h"
#include "common/com/CComRegistrarEx.h"
#include "configsvc/CKelvoComSecurity.h"
#include "resources/KVIdsConfigSvc.h"
#include "resources/KVIdsLogging.h"
#include "resources/ProgramStrings.h"
#include <objbase.h>
#include <cwchar>
#include <memory>

namespace
{
// Load's answer for a library of another release.
const DWORD kResourceMismatch = 425;
// Buffer for the AppID's LocalService value, in bytes.
const DWORD kLocalServiceBytes = 520;
// How long a stopping service is waited for before it is deleted, and how long a new
// service waits for the deleted one's last handles to close.
const DWORD kStopWaitMs = 30000;
const DWORD kRecreateWaitMs = 10000;

struct ServiceHandleTraits { using Type = SC_HANDLE; static Type Invalid() { return nullptr; } static void Close(Type h) { CloseServiceHandle(h); } };
using CServiceHandleEx = CUniqueAnyEx<ServiceHandleTraits>;

// Under this environment variable a file name may be given: every message box of the
// program is then appended to that file (caption, tab, text) and answered OK instead of
// being shown, so that a run nobody watches never waits for a click.
const wchar_t kBoxLogVariable[] = L"KELVO_MESSAGE_BOX_LOG";

CStringEx AppIdText()
{
    wchar_t text[40] = {};
    StringFromGUID2(LIBID_KelvoConfigSvcLib, text, ARRAYSIZE(text));
    return CStringEx(text);
}

void WriteUtf8(HANDLE file, LPCWSTR text)
{
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1)
        return;
    std::string narrow(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &narrow[0], bytes, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(file, narrow.data(), static_cast<DWORD>(bytes - 1), &written, nullptr);
}

bool IsCommandSeparator(wchar_t c)
{
    return c == L'\0' || c == L' ' || c == L'\t';
}

// The word at text, compared without regard to case and followed by a separator.
bool MatchesWord(LPCWSTR text, LPCWSTR word)
{
    const size_t length = wcslen(word);
    return _wcsnicmp(text, word, length) == 0 && IsCommandSeparator(text[length]);
}

CKelvoConfigSvcModule* g_instance = nullptr;
}

CKelvoConfigSvcModule::CKelvoConfigSvcModule()
{
    g_instance = this;
    m_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    m_status.dwCurrentState = SERVICE_STOPPED;
    m_status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
}

CKelvoConfigSvcModule::~CKelvoConfigSvcModule()
{
    if (g_instance == this)
        g_instance = nullptr;
}

CKelvoConfigSvcModule& CKelvoConfigSvcModule::Instance()
{
    return *g_instance;
}

int CKelvoConfigSvcModule::WinMain(LPCWSTR argumentText)
{
    const LPCWSTR arguments = argumentText ? argumentText : L"";
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length > 0 && length < MAX_PATH)
        m_modulePath = CStringEx(path, static_cast<int>(length));

    // The texts first; registration works without them.
    int exitCode = 0;
    if (!LoadResourcesAtStart(arguments, exitCode))
        return exitCode;

    HRESULT result = S_OK;
    if (ParseCommandLine(GetCommandLineW(), result))
        return static_cast<int>(result);

    if (!m_resourcesLoaded && !LoadResourcesLate(exitCode))
        return exitCode;

    SetUpLogging();
    // Log lines are written by the thread that logs: the hand-off target is the service
    // thread as known now, which is none.
    CUtilLogging::Instance().SetEventSourceName(m_serviceName);
    CUtilLogging::Instance().SetHandOffThread(m_serviceThreadId);
    const DWORD code = Start();
    if (!m_service && m_comInitialized)
    {
        ReleaseTypeLibrary();
        CoUninitialize();
        m_comInitialized = false;
    }
    return static_cast<int>(code);
}

void CKelvoConfigSvcModule::TakeResourceLibrary()
{
    m_resourcesLoaded = true;
    CStringEx name;
    if (CResourceLoader::Instance().TryLoadString(IDS_SVC_SERVICE_NAME, name))
        m_serviceName = name.Left(256);
}

bool CKelvoConfigSvcModule::LoadResourcesAtStart(LPCWSTR argumentText, int& exitCode)
{
    const DWORD loaded = CResourceLoader::Instance().Load();
    if (loaded == 0)
    {
        TakeResourceLibrary();
        return true;
    }
    // Registration and unregistration go on without the texts, whichever way the word is
    // written (the installer writes "/UnregServer"); installing the service needs its name.
    const Word word = FindWord(GetCommandLineW());
    if (word != Word::None && word != Word::Service)
        return true;
    const CStringEx text = CResourceLoader::Instance().LoadText(loaded == kResourceMismatch ? IDS_PROG_RESOURCE_FILE_OLDER
                                                                                           : IDS_PROG_NO_RESOURCE_FILE);
    const wchar_t* slash = wcsrchr(argumentText, L'\\');
    const CStringEx caption(slash ? slash + 1 : argumentText);
    // A start by the Service Control Manager has nobody to answer a box: the text goes to
    // the event log and the service ends.
    if (IsRegisteredAsService() && !*argumentText)
        LogEvent(EVENTLOG_ERROR_TYPE, text);
    else
        ShowBox(text, caption);
    exitCode = static_cast<int>(loaded);
    return false;
}

bool CKelvoConfigSvcModule::LoadResourcesLate(int& exitCode)
{
    const DWORD loaded = CResourceLoader::Instance().Load();
    if (loaded == 0)
    {
        TakeResourceLibrary();
        return true;
    }
    if (m_service)
        LogEvent(EVENTLOG_ERROR_TYPE, CResourceLoader::Instance().LoadText(
                                          loaded == kResourceMismatch ? IDS_PROG_RESOURCE_FILE_OLDER : IDS_PROG_NO_RESOURCE_FILE));
    exitCode = static_cast<int>(loaded);
    return false;
}

CKelvoConfigSvcModule::Word CKelvoConfigSvcModule::FindWord(LPCWSTR commandLine)
{
    static const struct
    {
        LPCWSTR text;
        Word word;
    } kWords[] = {
        { L"UnregServer", Word::UnregServer },
        { L"RegServer", Word::RegServer },
        { L"UnregServerPerUser", Word::UnregServerPerUser },
        { L"RegServerPerUser", Word::RegServerPerUser },
        { L"Service", Word::Service },
    };
    for (LPCWSTR p = commandLine ? commandLine : L""; *p; ++p)
    {
        if (*p != L'-' && *p != L'/')
            continue;
        for (const auto& known : kWords)
        {
            if (MatchesWord(p + 1, known.text))
                return known.word;
        }
    }
    return Word::None;
}

bool CKelvoConfigSvcModule::ParseCommandLine(LPCWSTR commandLine, HRESULT& result)
{
    const Word word = FindWord(commandLine);
    // Without the texts an installed service is known by the name its registration recorded,
    // so that registering and unregistering still take it away.
    if (m_serviceName.IsEmpty())
        m_serviceName = ReadLocalService(word == Word::RegServerPerUser || word == Word::UnregServerPerUser);
    switch (word)
    {
    case Word::UnregServer:
        result = UnregisterServer(false);
        return true;
    case Word::RegServer:
        result = RegisterServer(false, false);
        return true;
    case Word::UnregServerPerUser:
        result = UnregisterServer(true);
        return true;
    case Word::RegServerPerUser:
        result = RegisterServer(true, false);
        return true;
    case Word::Service:
        result = RegisterServer(false, true);
        return true;
    case Word::None:
        break;
    }
    return false;
}

HRESULT CKelvoConfigSvcModule::UpdateClasses(bool perUser, bool registering)
{
    CComRegistrarEx registrar(perUser);
    registrar.AddModuleReplacements(m_modulePath);
    registrar.AddReplacement(L"APPID", AppIdText());
    HMODULE own = GetModuleHandleW(nullptr);
    HRESULT hr = registrar.UpdateFromResource(own, CAgentConfig::kRegistryScript, registering);
    if (SUCCEEDED(hr))
        hr = registrar.UpdateFromResource(own, CServiceConfig::kRegistryScript, registering);
    if (SUCCEEDED(hr))
        hr = registering ? registrar.RegisterTypeLibrary(m_modulePath) : registrar.UnregisterTypeLibrary(m_modulePath);
    return hr;
}

HRESULT CKelvoConfigSvcModule::RegisterServer(bool perUser, bool service)
{
    HRESULT hr = RegisterAppId(perUser, service);
    if (SUCCEEDED(hr))
        hr = UpdateClasses(perUser, true);
    return hr;
}

HRESULT CKelvoConfigSvcModule::UnregisterServer(bool perUser)
{
    HRESULT hr = UpdateClasses(perUser, false);
    if (SUCCEEDED(hr))
        hr = UnregisterAppId(perUser);
    return hr;
}

HRESULT CKelvoConfigSvcModule::RegisterAppId(bool perUser, bool service)
{
    // Every registration starts from no service at all.
    if (IsInstalled() && !Uninstall())
        return E_FAIL;

    CComRegistrarEx registrar(perUser);
    registrar.AddModuleReplacements(m_modulePath);
    registrar.AddReplacement(L"APPID", AppIdText());
    HRESULT hr = registrar.UpdateFromResource(GetModuleHandleW(nullptr), kAppIdScript, true);
    if (FAILED(hr))
        return hr;

    LONG error = ERROR_SUCCESS;
    CRegKeyEx classes(registrar.OpenClassesRoot(KEY_READ | KEY_WRITE, &error));
    if (!classes)
        return HRESULT_FROM_WIN32(error);
    CStringEx keyName(L"AppID\\");
    keyName += AppIdText();
    CRegKeyEx appId;
    error = RegCreateKeyExW(classes.Get(), keyName, 0, nullptr, 0, KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE, nullptr,
                            appId.Put(), nullptr);
    if (error != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(error);
    RegDeleteValueW(appId.Get(), L"LocalService");
    if (FAILED(hr = WritePermissions(appId.Get())))
        return hr;
    if (!service)
        return S_OK;

    error = RegSetValueExW(appId.Get(), L"LocalService", 0, REG_SZ, reinterpret_cast<const BYTE*>(m_serviceName.GetString()),
                           static_cast<DWORD>((m_serviceName.GetLength() + 1) * sizeof(wchar_t)));
    if (error != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(error);
    return Install() ? S_OK : E_FAIL;
}

HRESULT CKelvoConfigSvcModule::WritePermissions(HKEY appId)
{
    // Who may start the server and call it; the process sets the same for its calls.
    const struct
    {
        LPCWSTR value;
        const wchar_t* sddl;
    } kPermissions[] = {
        { L"LaunchPermission", CKelvoComSecurity::kLaunchSddl },
        { L"AccessPermission", CKelvoComSecurity::kAccessSddl },
    };
    for (const auto& permission : kPermissions)
    {
        DWORD error = ERROR_SUCCESS;
        const std::vector<BYTE> descriptor = CKelvoComSecurity::SelfRelative(permission.sddl, &error);
        if (descriptor.empty())
            return HRESULT_FROM_WIN32(error);
        error = RegSetValueExW(appId, permission.value, 0, REG_BINARY, descriptor.data(),
                               static_cast<DWORD>(descriptor.size()));
        if (error != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(error);
    }
    return S_OK;
}

CStringEx CKelvoConfigSvcModule::ReadLocalService(bool perUser)
{
    CComRegistrarEx registrar(perUser);
    CRegKeyEx classes(registrar.OpenClassesRoot(KEY_READ, nullptr));
    CStringEx keyName(L"AppID\\");
    keyName += AppIdText();
    wchar_t name[kLocalServiceBytes / sizeof(wchar_t)] = {};
    DWORD size = sizeof(name) - sizeof(wchar_t);
    if (!classes || RegGetValueW(classes.Get(), keyName, L"LocalService", RRF_RT_REG_SZ, nullptr, name, &size) != ERROR_SUCCESS)
        return CStringEx();
    return CStringEx(name).Left(256);
}

HRESULT CKelvoConfigSvcModule::UnregisterAppId(bool perUser)
{
    if (IsInstalled() && !Uninstall())
        return E_FAIL;
    CComRegistrarEx registrar(perUser);
    registrar.AddModuleReplacements(m_modulePath);
    registrar.AddReplacement(L"APPID", AppIdText());
    {
        CRegKeyEx classes(registrar.OpenClassesRoot(KEY_READ | KEY_WRITE, nullptr));
        CStringEx keyName(L"AppID\\");
        keyName += AppIdText();
        CRegKeyEx appId;
        if (classes && RegOpenKeyExW(classes.Get(), keyName, 0, KEY_SET_VALUE, appId.Put()) == ERROR_SUCCESS)
            RegDeleteValueW(appId.Get(), L"LocalService");
    }
    return registrar.UpdateFromResource(GetModuleHandleW(nullptr), kAppIdScript, false);
}

bool CKelvoConfigSvcModule::IsInstalled()
{
    if (m_serviceName.IsEmpty())
        return false;
    CServiceHandleEx manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return false;
    CServiceHandleEx service(OpenServiceW(manager.Get(), m_serviceName, SERVICE_QUERY_CONFIG));
    return static_cast<bool>(service);
}

bool CKelvoConfigSvcModule::Install()
{
    if (IsInstalled())
        return true;
    // The path is quoted, so a folder with a space in its name cannot start another program.
    if (m_modulePath.IsEmpty() || m_modulePath.GetLength() >= MAX_PATH - 2)
        return false;
    CStringEx command;
    command.Format(L"\"%s\"", m_modulePath.GetString());

    CServiceHandleEx manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
    {
        ShowRegistrationBox(IDS_SVC_CANNOT_OPEN_SCM, L"Could not open Service Manager");
        return false;
    }
    CServiceHandleEx service;
    // A service deleted a moment ago stays until its last handle closes: wait for that.
    for (const ULONGLONG start = GetTickCount64();;)
    {
        service.Reset(CreateServiceW(manager.Get(), m_serviceName, m_serviceName, SERVICE_ALL_ACCESS,
                                     SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, command, nullptr,
                                     nullptr, L"RPCSS\0", nullptr, nullptr));
        if (service || GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE || GetTickCount64() - start > kRecreateWaitMs)
            break;
        Sleep(200);
    }
    if (!service)
    {
        ShowRegistrationBox(IDS_SVC_CANNOT_CREATE_SERVICE, L"Could not start service");
        return false;
    }
    return true;
}

bool CKelvoConfigSvcModule::Uninstall()
{
    if (!IsInstalled())
        return true;
    CServiceHandleEx manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
    {
        ShowRegistrationBox(IDS_SVC_CANNOT_OPEN_SCM, L"Could not open Service Manager");
        return false;
    }
    CServiceHandleEx service(OpenServiceW(manager.Get(), m_serviceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (!service)
    {
        ShowRegistrationBox(IDS_SVC_CANNOT_OPEN_SERVICE, L"Could not open service");
        return false;
    }
    SERVICE_STATUS status = {};
    if (!ControlService(service.Get(), SERVICE_CONTROL_STOP, &status))
    {
        const DWORD error = GetLastError();
        const bool stopping = error == ERROR_SERVICE_CANNOT_ACCEPT_CTRL && status.dwCurrentState == SERVICE_STOP_PENDING;
        if (error != ERROR_SERVICE_NOT_ACTIVE && !stopping)
            ShowRegistrationBox(IDS_SVC_CANNOT_STOP_SERVICE, L"Could not stop service");
    }
    // A running service is given its time to stop, so that the program file is free and a
    // new registration can create the service again at once.
    for (const ULONGLONG start = GetTickCount64(); GetTickCount64() - start < kStopWaitMs; Sleep(100))
    {
        if (!QueryServiceStatus(service.Get(), &status) || status.dwCurrentState == SERVICE_STOPPED)
            break;
    }
    if (!DeleteService(service.Get()) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
    {
        ShowRegistrationBox(IDS_SVC_CANNOT_DELETE_SERVICE, L"Could not delete service");
        return false;
    }
    // A deleted service stays, marked for deletion, until its last handle closes: the
    // registration that follows must not take it for an installed one.
    service.Reset();
    for (const ULONGLONG start = GetTickCount64(); IsInstalled() && GetTickCount64() - start < kRecreateWaitMs;)
        Sleep(100);
    return true;
}

DWORD CKelvoConfigSvcModule::Start()
{
    CStringEx keyName(L"AppID\\");
    keyName += AppIdText();
    CRegKeyEx appId;
    LONG error = RegOpenKeyExW(HKEY_CLASSES_ROOT, keyName, 0, KEY_READ, appId.Put());
    if (error != ERROR_SUCCESS)
    {
        m_status.dwWin32ExitCode = static_cast<DWORD>(error);
        return m_status.dwWin32ExitCode;
    }
    BYTE buffer[kLocalServiceBytes + sizeof(wchar_t)] = {};
    DWORD type = 0, size = kLocalServiceBytes;
    error = RegQueryValueExW(appId.Get(), L"LocalService", nullptr, &type, buffer, &size);
    const wchar_t* text = reinterpret_cast<const wchar_t*>(buffer);
    const DWORD count = size / sizeof(wchar_t);
    const bool isText = error == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ) && size % sizeof(wchar_t) == 0
                        && (count == 0 || wmemchr(text, L'\0', count) != nullptr);
    if (isText)
    {
        m_service = true;
        SERVICE_TABLE_ENTRYW table[] = { { const_cast<LPWSTR>(m_serviceName.GetString()), &ServiceMainEntry },
                                         { nullptr, nullptr } };
        if (!StartServiceCtrlDispatcherW(table))
            m_status.dwWin32ExitCode = GetLastError();
        return m_status.dwWin32ExitCode;
    }

    m_service = false;
    HRESULT hr = CoInitialize(nullptr);
    if (SUCCEEDED(hr))
        m_comInitialized = true;
    if (SUCCEEDED(hr) || (hr == RPC_E_CHANGED_MODE && GetModuleHandleW(L"Mscoree.dll")))
        m_status.dwWin32ExitCode = static_cast<DWORD>(Run());
    else
        m_status.dwWin32ExitCode = static_cast<DWORD>(hr);
    return m_status.dwWin32ExitCode;
}

void WINAPI CKelvoConfigSvcModule::ServiceMainEntry(DWORD, LPWSTR*)
{
    Instance().ServiceMain();
}

DWORD WINAPI CKelvoConfigSvcModule::HandlerEntry(DWORD control, DWORD, LPVOID, LPVOID)
{
    Instance().OnControl(control);
    return NO_ERROR;
}

void CKelvoConfigSvcModule::ServiceMain()
{
    // The queue the stop control posts to exists before the handler can be called.
    m_loop.Prepare();
    m_state = SERVICE_START_PENDING;
    m_serviceThreadId = GetCurrentThreadId();
    SetMessageThreadId(m_serviceThreadId);
    m_statusHandle = RegisterServiceCtrlHandlerExW(m_serviceName, &HandlerEntry, nullptr);
    if (!m_statusHandle)
    {
        LogEvent(EVENTLOG_INFORMATION_TYPE, L"Handler not installed");
        return;
    }
    m_status.dwWin32ExitCode = 0;
    m_status.dwCheckPoint = 0;
    m_status.dwWaitHint = 0;
    ReportStatus(SERVICE_START_PENDING);

    HRESULT hr = CoInitialize(nullptr);
    if (SUCCEEDED(hr))
        m_comInitialized = true;
    if (SUCCEEDED(hr) || (hr == RPC_E_CHANGED_MODE && GetModuleHandleW(L"Mscoree.dll")))
        m_status.dwWin32ExitCode = static_cast<DWORD>(Run());
    else
        m_status.dwWin32ExitCode = static_cast<DWORD>(hr);
    if (m_comInitialized)
    {
        ReleaseTypeLibrary();
        CoUninitialize();
        m_comInitialized = false;
    }
    // Every way out of the service reports the stop, so the manager never waits for it.
    m_state = SERVICE_STOPPED;
    ReportStatus(SERVICE_STOPPED);
    LogEvent(EVENTLOG_INFORMATION_TYPE, L"Service stopped");
}

void CKelvoConfigSvcModule::OnControl(DWORD control)
{
    switch (control)
    {
    case SERVICE_CONTROL_STOP:
        m_state = SERVICE_STOP_PENDING;
        ReportStatus(SERVICE_STOP_PENDING);
        m_loop.RequestStop();
        break;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
    case SERVICE_CONTROL_INTERROGATE:
    case SERVICE_CONTROL_SHUTDOWN:
        break;
    default:
        LogEvent(EVENTLOG_INFORMATION_TYPE, L"Bad service request");
        break;
    }
}

void CKelvoConfigSvcModule::ReportStatus(DWORD state)
{
    m_status.dwCurrentState = state;
    if (m_statusHandle)
        SetServiceStatus(m_statusHandle, &m_status);
}

HRESULT CKelvoConfigSvcModule::Run()
{
    // The objects are served only by the service.
    if (!m_service)
    {
        CUtilLogging::Instance().LogRes(4, IDS_SVC_NOT_A_SERVICE);
        return 1;
    }
    // Only SYSTEM, administrators and interactive users of this computer may call;
    // calls are authenticated and encrypted, and the objects identify their callers.
    HRESULT hr = CKelvoComSecurity::InitializeProcess();
    if (FAILED(hr))
        return hr;
    if (FAILED(hr = RegisterClassObjects()))
        return hr;
    LONG pending = SERVICE_START_PENDING;
    if (m_state.compare_exchange_strong(pending, SERVICE_RUNNING))
    {
        LogEvent(EVENTLOG_INFORMATION_TYPE, L"Service started/resumed");
        ReportStatus(SERVICE_RUNNING);
    }
    if (FAILED(hr = CoResumeClassObjects()))
    {
        RevokeClassObjects();
        return hr;
    }
    // A stop during the start is not reported as running; the loop then ends at once.
    m_loop.Run([this](const MSG& message) { return OnLoopMessage(message); });
    RevokeClassObjects();

    if (CUtilLogging::Instance().GetLevel() != 0)
    {
        CUtilLogging::Instance().LogRes(1, IDS_SVC_STOPPING);
        CUtilLogging::Instance().Initialize(0, 0, m_serviceName, FOLDERID_ProgramData);
    }
    return S_OK;
}

HRESULT CKelvoConfigSvcModule::RegisterClassObjects()
{
    const DWORD flags = REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED;
    HRESULT hr = CoRegisterClassObject(CLSID_AgentConfig, &m_agentFactory, CLSCTX_LOCAL_SERVER, flags, &m_agentCookie);
    if (SUCCEEDED(hr))
        hr = CoRegisterClassObject(CLSID_ServiceConfig, &m_serviceFactory, CLSCTX_LOCAL_SERVER, flags, &m_serviceCookie);
    if (FAILED(hr))
        RevokeClassObjects();
    return hr;
}

void CKelvoConfigSvcModule::RevokeClassObjects()
{
    if (m_agentCookie && SUCCEEDED(CoRevokeClassObject(m_agentCookie)))
        m_agentCookie = 0;
    if (m_serviceCookie && SUCCEEDED(CoRevokeClassObject(m_serviceCookie)))
        m_serviceCookie = 0;
}

bool CKelvoConfigSvcModule::OnLoopMessage(const MSG& message)
{
    // The settings notice is a thread message; a window message with the same number
    // belongs to that window.
    if (message.hwnd != nullptr || message.message != WM_CONFIG_CHANGED)
        return false;
    CUtilLogging::Instance().LogRes(4, IDS_SVC_SETTINGS_CHANGED);
    SetUpLogging();
    return true;
}

void CKelvoConfigSvcModule::SetUpLogging()
{
    // COM of its own, unless the service thread initialised it; a thread on which COM is
    // already initialised (S_FALSE) or cannot be (another apartment) is left as it was.
    std::unique_ptr<CComInitializeEx> com;
    if (!m_comInitialized || GetCurrentThreadId() != m_serviceThreadId)
    {
        com = std::make_unique<CComInitializeEx>(COINIT_APARTMENTTHREADED);
        if (com->Result() != S_OK)
            return;
    }
    {
        CConfiguration configuration;
        if (configuration.Load(nullptr))
        {
            const long level = configuration.GetNumber(IDS_CFG_LOG_LEVEL, 2);
            const long retention = configuration.GetNumber(IDS_CFG_LOG_RETENTION_DAYS, 30);
            CUtilLogging& log = CUtilLogging::Instance();
            log.Initialize(static_cast<DWORD>(level < 0 ? 0 : level), static_cast<DWORD>(retention < 0 ? 0 : retention),
                           m_serviceName, FOLDERID_ProgramData);
            const DWORD error = log.LogRes(1, IDS_SVC_LOGGING_STARTED, static_cast<int>(level),
                                           CResourceLoader::GetProgramVersion().GetString());
            if (error != 0 && m_service)
                log.ReportEventRes(EVENTLOG_INFORMATION_TYPE, IDS_SVC_LOG_FAILED, static_cast<int>(error));
        }
    }
}

void CKelvoConfigSvcModule::LogEvent(WORD type, LPCWSTR text)
{
    CStringEx line(text ? text : L"");
    line = line.Left(255);
    if (!m_service)
    {
        HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
        if (output && output != INVALID_HANDLE_VALUE)
        {
            WriteUtf8(output, line);
            WriteUtf8(output, L"\r\n");
        }
    }
    CUtilLogging::Instance().ReportEvent(type, L"%s", line.GetString());
}

bool CKelvoConfigSvcModule::IsInteractive()
{
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    HWINSTA station = GetProcessWindowStation();
    return station && GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), &needed)
           && (flags.dwFlags & WSF_VISIBLE) != 0;
}

bool CKelvoConfigSvcModule::IsRegisteredAsService()
{
    CStringEx keyName(L"AppID\\");
    keyName += AppIdText();
    CRegKeyEx appId;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, keyName, 0, KEY_READ, appId.Put()) != ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    return RegQueryValueExW(appId.Get(), L"LocalService", nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS
           && (type == REG_SZ || type == REG_EXPAND_SZ);
}

void CKelvoConfigSvcModule::ShowBox(LPCWSTR text, LPCWSTR caption)
{
    wchar_t boxLog[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(kBoxLogVariable, boxLog, ARRAYSIZE(boxLog));
    if (length > 0 && length < ARRAYSIZE(boxLog))
    {
        CFileHandleEx file(CreateFileW(boxLog, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file)
        {
            CStringEx line;
            line.Format(L"%s\t%s\r\n", caption ? caption : L"", text ? text : L"");
            WriteUtf8(file.Get(), line);
        }
        return;
    }
    // Where no one could see the box (a service's or an installer's session), the text
    // goes to the event log and the program goes on as after an OK.
    if (!IsInteractive())
    {
        LogEvent(EVENTLOG_ERROR_TYPE, text);
        return;
    }
    MessageBoxW(nullptr, text, caption, MB_OK | MB_TOPMOST);
}

void CKelvoConfigSvcModule::ShowRegistrationBox(UINT id, LPCWSTR englishText)
{
    CStringEx text;
    if (!CResourceLoader::Instance().TryLoadString(id, text))
        text = englishText;
    ShowBox(text, m_serviceName);
}
