#include "tests/configsvc/ConfigSvcTestWorld.h"
#include "common/CUniqueAnyEx.h"
#include "KelvoConfigSvcLib.h"
#include <tlhelp32.h>
#include <atomic>
#include <map>
#include <thread>
#include <vector>

namespace
{
struct ServiceHandleTraits { using Type = SC_HANDLE; static Type Invalid() { return nullptr; } static void Close(Type h) { CloseServiceHandle(h); } };
using CServiceHandle = CUniqueAnyEx<ServiceHandleTraits>;

const wchar_t kOldDocument[] = L"<?xml version=\"1.0\"?>\r\n<configuration><appSettings>"
                               L"<add key=\"PollMs\"><value>500</value></add></appSettings></configuration>\r\n";
const wchar_t kNewDocument[] = L"<?xml version=\"1.0\"?><configuration><appSettings>"
                               L"<add key=\"PollMs\"><value>750</value></add></appSettings></configuration>";

// Names and sizes of the folder's files: what a refused call must leave exactly as it was.
std::map<std::wstring, std::wstring> Snapshot(const std::wstring& folder)
{
    std::map<std::wstring, std::wstring> files;
    WIN32_FIND_DATAW data;
    CFindHandleEx find(FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (!find)
        return files;
    do
    {
        const std::wstring path = folder + L"\\" + data.cFileName;
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            files[data.cFileName] = ConfigSvcWorld::ReadFileText(path).substr(0, 4096);
    } while (FindNextFileW(find.Get(), &data));
    return files;
}

// A BSTR of the whole text, NULs included; an empty text travels as a null BSTR, as a
// client's empty string does.
BSTR WholeText(const std::wstring& text)
{
    return text.empty() ? nullptr : SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

HRESULT Save(IAgentConfig* agent, const std::wstring& user, const std::wstring& domain, const std::wstring& path,
             const std::wstring& xml)
{
    CBstrEx u, d, p, x;
    u.Attach(WholeText(user));
    d.Attach(WholeText(domain));
    p.Attach(WholeText(path));
    x.Attach(WholeText(xml));
    return agent->SaveChanges(u.Get(), d.Get(), p.Get(), x.Get());
}

// A well-formed configuration of exactly the given length in characters.
std::wstring DocumentOfLength(size_t length)
{
    const std::wstring head = L"<configuration><appSettings><add key=\"Filler\"><value>";
    const std::wstring tail = L"</value></add></appSettings></configuration>";
    return head + std::wstring(length - head.size() - tail.size(), L'x') + tail;
}

HRESULT InvokeByName(IDispatch* object, LPCWSTR name, std::vector<std::wstring> arguments, DISPID* id)
{
    LPOLESTR names[] = { const_cast<LPOLESTR>(name) };
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, id);
    if (FAILED(hr))
        return hr;
    // Arguments go right to left.
    std::vector<VARIANT> args(arguments.size());
    for (size_t i = 0; i < arguments.size(); ++i)
    {
        VariantInit(&args[i]);
        args[i].vt = VT_BSTR;
        args[i].bstrVal = SysAllocString(arguments[arguments.size() - 1 - i].c_str());
    }
    DISPPARAMS params = { args.empty() ? nullptr : args.data(), nullptr, static_cast<UINT>(args.size()), 0 };
    CVariantEx result;
    hr = object->Invoke(*id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.Put(), nullptr, nullptr);
    for (VARIANT& arg : args)
        VariantClear(&arg);
    return hr;
}
}

class ServiceRoad : public ConfigSvcWorld
{
protected:
    void RegisterService()
    {
        InstallCopy();
        ASSERT_EQ(0u, RunCopy(L"/Service"));
        ASSERT_EQ(L"", Boxes());
    }
};

TEST_F(ServiceRoad, RegistersStartsOnActivationSavesForTheAdministratorFollowsItsLogLevelAndUnregistersCleanly)
{
    RegisterService();

    // A demand-start LocalSystem service after RPCSS, its path quoted, named by the AppID.
    {
        CServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        CServiceHandle service(OpenServiceW(manager.Get(), kServiceName, SERVICE_QUERY_CONFIG));
        ASSERT_TRUE(service);
        std::vector<BYTE> buffer(8192);
        DWORD needed = 0;
        ASSERT_TRUE(QueryServiceConfigW(service.Get(), reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()),
                                        static_cast<DWORD>(buffer.size()), &needed));
        const auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
        EXPECT_EQ(static_cast<DWORD>(SERVICE_DEMAND_START), config->dwStartType);
        EXPECT_EQ(L"\"" + m_program + L"\"", std::wstring(config->lpBinaryPathName));
        // Wine answers no dependencies here; the service key holds them.
        wchar_t dependencies[64] = {};
        DWORD bytes = sizeof(dependencies);
        EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\KelvoConfigSvc",
                                              L"DependOnService", RRF_RT_REG_MULTI_SZ, nullptr, dependencies, &bytes));
        EXPECT_STREQ(L"RPCSS", dependencies);
        EXPECT_TRUE(!config->lpServiceStartName || !*config->lpServiceStartName
                    || _wcsicmp(config->lpServiceStartName, L"LocalSystem") == 0);
    }
    wchar_t localService[64] = {};
    DWORD size = sizeof(localService);
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CLASSES_ROOT, m_appIdKey.c_str(), L"LocalService", RRF_RT_REG_SZ, nullptr,
                                          localService, &size));
    EXPECT_STREQ(kServiceName, localService);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState());

    // Creating an object starts the service.
    CComPtrEx<IAgentConfig> agent;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_AgentConfig, nullptr, CLSCTX_LOCAL_SERVER, IID_IAgentConfig, agent.PutVoid()));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState());

    // The administrator's own save replaces the file and grants the account, named by
    // this computer (never by the workgroup), full control of it.
    const std::wstring target = m_folder + L"\\Agent.exe.config";
    WriteFileText(target, kOldDocument);
    EXPECT_EQ(S_OK, Save(agent.Get(), m_user, m_computer, target, kNewDocument));
    EXPECT_NE(std::wstring::npos, ReadFileText(target).find(L"<value>750</value>"));
    EXPECT_TRUE(WaitForLog(L"Full control of '" + target + L"' granted to " + m_computer + L"\\" + m_user + L" (" +
                           OwnSidText() + L")"))
        << ServiceLog();

    // By late binding, as a script would: the name resolves to dispatch ID 1.
    CComPtrEx<IDispatch> agentDispatch;
    ASSERT_EQ(S_OK, agent.QueryInterface(IID_IDispatch, agentDispatch));
    DISPID id = 0;
    EXPECT_EQ(S_OK, InvokeByName(agentDispatch.Get(), L"SaveChanges", { m_user, m_computer, target, kOldDocument }, &id));
    EXPECT_EQ(1, id);
    EXPECT_NE(std::wstring::npos, ReadFileText(target).find(L"<value>500</value>"));

    // Changed, through the ProgID the editor uses: the service takes the new log level.
    CLSID serviceClass = {};
    ASSERT_EQ(S_OK, CLSIDFromProgID(L"KelvoConfigSvc.ServiceConfig", &serviceClass));
    EXPECT_TRUE(IsEqualCLSID(CLSID_ServiceConfig, serviceClass));
    CComPtrEx<IDispatch> serviceConfig;
    ASSERT_EQ(S_OK, CoCreateInstance(serviceClass, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, serviceConfig.PutVoid()));
    WriteServiceConfig(3);
    EXPECT_EQ(S_OK, InvokeByName(serviceConfig.Get(), L"Changed", {}, &id));
    EXPECT_EQ(1, id);
    EXPECT_TRUE(WaitForLog(L"started at level 3")) << ServiceLog();
    // At level 3 a save (logged at 4) leaves no line; a refusal that follows (2) does.
    const std::wstring quiet = m_folder + L"\\Quiet.exe.config";
    EXPECT_EQ(S_OK, Save(agent.Get(), m_user, m_computer, quiet, kNewDocument));
    EXPECT_EQ(E_INVALIDARG, Save(agent.Get(), m_user, m_computer, m_folder + L"\\Quiet.txt", kNewDocument));
    EXPECT_TRUE(WaitForLog(L"refused the path '" + m_folder + L"\\Quiet.txt'")) << ServiceLog();
    EXPECT_EQ(std::wstring::npos, ServiceLog().find(L"wrote '" + quiet + L"'"));

    // Stopped by hand while clients still hold objects, then unregistered: nothing is left.
    {
        CServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        CServiceHandle service(OpenServiceW(manager.Get(), kServiceName, SERVICE_STOP));
        SERVICE_STATUS status = {};
        ASSERT_TRUE(ControlService(service.Get(), SERVICE_CONTROL_STOP, &status));
    }
    EXPECT_TRUE(WaitForServiceState(SERVICE_STOPPED));
    agent.Reset();
    agentDispatch.Reset();
    serviceConfig.Reset();
    EXPECT_EQ(0u, RunCopy(L"/UnregServer"));
    EXPECT_EQ(0u, ServiceState());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, m_appIdKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\{8E02334E-BC54-43B4-87B3-5BA544D0D00A}"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\{E386FD8A-4429-4429-8F51-D6AFDC69A12C}"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"KelvoConfigSvc.AgentConfig"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"TypeLib\\{53CBB69E-3DC9-4843-BDC3-0F2C5EFED5B6}\\1.0"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
    // Unregistering what is not registered succeeds, silently.
    EXPECT_EQ(0u, RunCopy(L"/UnregServer"));
    EXPECT_EQ(L"", Boxes());
}

// Each refusal returns its code, says why in the service's log, and leaves every file as
// it was: in the install folder, below it, beside it and in the configuration folder.
TEST_F(ServiceRoad, RefusedCallsReturnTheirCodeSayWhyAndTouchNoFile)
{
    RegisterService();
    CComPtrEx<IAgentConfig> agent;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_AgentConfig, nullptr, CLSCTX_LOCAL_SERVER, IID_IAgentConfig, agent.PutVoid()));

    const std::wstring target = m_folder + L"\\Agent.exe.config";
    WriteFileText(target, kOldDocument);
    // A folder below the install folder, and one reached through a symbolic link.
    const std::wstring real = m_folder + L"\\real";
    const std::wstring linked = m_folder + L"\\linked";
    ASSERT_TRUE(CreateDirectoryW(real.c_str(), nullptr));
    const bool haveLink = MakeFolderLink(linked, real);
    if (!haveLink)
        std::printf("note: no symbolic link could be made here; the reparse-point case is left out\n");
    // A second name (a hard link) in the install folder of a file outside it.
    const std::wstring victim = m_folder + L"-victim.ini";
    WriteFileText(victim, L"[victim]\r\n");
    const std::wstring second = m_folder + L"\\Second.exe.config";
    const bool haveHardLink = CreateHardLinkW(second.c_str(), victim.c_str(), nullptr) != FALSE;
    if (!haveHardLink)
        std::printf("note: no hard link could be made here; the second-name case is left out\n");

    // A folder whose name ends in a space, beside a plain folder of the name without it:
    // a look-up of the path up to the folder drops the space and finds the plain one.
    const std::wstring spaced = m_folder + L"\\spaced ";
    ASSERT_TRUE(CreateDirectoryW((m_folder + L"\\spaced").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + spaced).c_str(), nullptr));

    // Files outside the product's two folders that a save must never create.
    const std::wstring drive = target.substr(0, 2);
    const std::wstring beside = m_folder + L"-beside.config";
    const std::wstring system = drive + L"\\windows\\system32\\KelvoProbe.exe.config";
    // Left by a run of a service that wrote them (the prefix outlives a run).
    DeleteFileW(beside.c_str());
    DeleteFileW(system.c_str());

    const std::wstring nul(1, L'\0');
    const std::wstring refusedPath = L"SaveChanges refused the path '";
    const std::wstring notProductFolder = L"': only a .config file directly in the configuration folder";
    const std::wstring plainForm = L"': only an absolute local path to a .config file";
    struct Refusal
    {
        const char* what;
        std::wstring user, domain, path, xml;
        HRESULT expected;
        std::wstring logged;    // the reason the service's log gives
        std::wstring installFolder = std::wstring(); // recorded instead of the case's folder
    };
    std::vector<Refusal> refusals = {
        { "malformed XML", m_user, m_computer, target, L"<configuration><appSettings>", E_FAIL,
          L"refused the XML for '" + target + L"'" },
        { "external entity", m_user, m_computer, target,
          L"<?xml version=\"1.0\"?><!DOCTYPE c [<!ENTITY x SYSTEM \"file:///" + drive + L"/windows/win.ini\">]><c>&x;</c>", E_FAIL,
          L"declares a document type" },
        { "no user name", L"", m_computer, target, kNewDocument, E_ACCESSDENIED, L"but the request names .\r\n" },
        { "no domain", m_user, L"", target, kNewDocument, E_ACCESSDENIED, L"but the request names the domain .\r\n" },
        { "foreign domain", m_user, L"ELSEWHERE", target, kNewDocument, E_ACCESSDENIED,
          L"but the request names the domain ELSEWHERE." },
        { "another administrator's name", L"kiosk", m_computer, target, kNewDocument, E_ACCESSDENIED,
          L"but the request names kiosk." },
        { "a user who is no administrator", L"mallory", m_computer, target, kNewDocument, E_ACCESSDENIED,
          L"but the request names mallory." },
        { "NUL inside the user name", m_user + nul + L"x", m_computer, target, kNewDocument, E_INVALIDARG,
          L"bstrUserName holds a NUL at character " + std::to_wstring(m_user.size()) },
        { "NUL inside the domain", m_user, m_computer + nul + L"x", target, kNewDocument, E_INVALIDARG,
          L"bstrDomainName holds a NUL" },
        { "NUL inside the path", m_user, m_computer, target + nul + L".exe", kNewDocument, E_INVALIDARG,
          L"bstrConfigFileName holds a NUL" },
        { "NUL inside the document", m_user, m_computer, target, kNewDocument + nul + L"<unclosed", E_INVALIDARG,
          L"bstrXML holds a NUL" },
        { "a document over the limit", m_user, m_computer, target, DocumentOfLength(256 * 1024 + 1), E_INVALIDARG,
          L"bstrXML has 262145 characters, more than the 262144 accepted" },
        { "a user name over the limit", std::wstring(257, L'u'), m_computer, target, kNewDocument, E_INVALIDARG,
          L"bstrUserName has 257 characters" },
        { "empty path", m_user, m_computer, L"", kNewDocument, E_INVALIDARG, refusedPath + L"'" },
        { "relative path", m_user, m_computer, L"Agent.exe.config", kNewDocument, E_INVALIDARG, plainForm },
        { "UNC path", m_user, m_computer, L"\\\\localhost\\c$\\Agent.exe.config", kNewDocument, E_INVALIDARG, plainForm },
        { "device path", m_user, m_computer, L"\\\\?\\" + target, kNewDocument, E_INVALIDARG, plainForm },
        { "stream", m_user, m_computer, target + L":hidden.config", kNewDocument, E_INVALIDARG, plainForm },
        { "dot-dot part", m_user, m_computer, real + L"\\..\\Agent.exe.config", kNewDocument, E_INVALIDARG, plainForm },
        { "forward slashes", m_user, m_computer, drive + L"/Agent.exe.config", kNewDocument, E_INVALIDARG, plainForm },
        { "not a .config file", m_user, m_computer, m_folder + L"\\Agent.exe.ini", kNewDocument, E_INVALIDARG, plainForm },
        { "device name", m_user, m_computer, m_folder + L"\\CON.config", kNewDocument, E_INVALIDARG, plainForm },
        { "folder name ending in a space", m_user, m_computer, spaced + L"\\Agent.exe.config", kNewDocument, E_INVALIDARG,
          plainForm },
        { "a folder below the install folder", m_user, m_computer, real + L"\\Agent.exe.config", kNewDocument, E_INVALIDARG,
          notProductFolder },
        { "a file beside the install folder", m_user, m_computer, beside, kNewDocument, E_INVALIDARG, notProductFolder },
        { "a program's file in the system folder", m_user, m_computer, system, kNewDocument, E_INVALIDARG, notProductFolder },
    };
    if (haveLink)
        refusals.push_back({ "an install folder that is a link", m_user, m_computer, linked + L"\\Agent.exe.config",
                             kNewDocument, E_INVALIDARG, L"without links or second names", linked });
    if (haveHardLink)
        refusals.push_back({ "a second name of another file", m_user, m_computer, second, kNewDocument, E_INVALIDARG,
                             L"without links or second names" });

    const auto before = Snapshot(m_folder);
    const auto configFolderBefore = Snapshot(ConfigFolder());
    for (const Refusal& refusal : refusals)
    {
        SCOPED_TRACE(refusal.what);
        if (!refusal.installFolder.empty())
            RecordProductFolders(ConfigFolder(), refusal.installFolder);
        MarkLog();
        EXPECT_EQ(refusal.expected, Save(agent.Get(), refusal.user, refusal.domain, refusal.path, refusal.xml));
        EXPECT_TRUE(WaitForLog(refusal.logged, 5000)) << ServiceLog().substr(ServiceLog().size() > 2000 ? ServiceLog().size() - 2000 : 0);
        RecordProductFolders(ConfigFolder(), m_folder);
        EXPECT_EQ(before, Snapshot(m_folder));
        EXPECT_EQ(configFolderBefore, Snapshot(ConfigFolder()));
        EXPECT_TRUE(Snapshot(real).empty());
        EXPECT_TRUE(Snapshot(L"\\\\?\\" + spaced).empty());
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(beside.c_str()));
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(system.c_str()));
        EXPECT_EQ(L"[victim]\r\n", ReadFileText(victim));
    }
    // The folder is removed by its exact name; the world's clean-up would miss it.
    RemoveDirectoryW((L"\\\\?\\" + spaced).c_str());
    DeleteFileW(second.c_str());
    DeleteFileW(victim.c_str());

    // Without the installer's record of the two folders nothing is written.
    RecordProductFolders(std::wstring(), std::wstring());
    MarkLog();
    EXPECT_EQ(E_INVALIDARG, Save(agent.Get(), m_user, m_computer, target, kNewDocument));
    EXPECT_TRUE(WaitForLog(L"the product's folders are not recorded", 5000)) << ServiceLog();
    EXPECT_EQ(kOldDocument, ReadFileText(target));
    RecordProductFolders(ConfigFolder(), m_folder);

    // The same connection still saves for the administrator, a document at the limit too.
    const ULONGLONG started = GetTickCount64();
    EXPECT_EQ(S_OK, Save(agent.Get(), m_user, m_computer, target, DocumentOfLength(256 * 1024)));
    std::printf("a save of a document at the limit (262144 characters) took %llu ms\n", GetTickCount64() - started);
    EXPECT_EQ(S_OK, Save(agent.Get(), m_user, m_computer, target, kNewDocument));
    EXPECT_NE(std::wstring::npos, ReadFileText(target).find(L"<value>750</value>"));

    // The caller is the administrator it names, but the directory says the account is not
    // one: refused by the directory, and the file stays.
    WriteDirectory(false);
    MarkLog();
    EXPECT_EQ(E_ACCESSDENIED, Save(agent.Get(), m_user, m_computer, target, kOldDocument));
    EXPECT_TRUE(WaitForLog(L"SaveChanges refused: " + m_computer + L"\\" + m_user + L" is not an administrator of this computer",
                           5000))
        << ServiceLog();
    EXPECT_NE(std::wstring::npos, ReadFileText(target).find(L"<value>750</value>"));
}

// The service's own settings are read as SYSTEM: a file that declares a document type
// (entities, external resources) is not read at all, and the settings stay as they were.
TEST_F(ServiceRoad, ItsOwnSettingsWithADocumentTypeAreNotRead)
{
    RegisterService();
    CComPtrEx<IDispatch> serviceConfig;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ServiceConfig, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, serviceConfig.PutVoid()));
    ASSERT_TRUE(WaitForLog(L"started at level 5")) << ServiceLog();

    WriteFileText(ServiceConfigPath(), L"<?xml version=\"1.0\"?>\r\n<!DOCTYPE configuration [<!ENTITY level \"3\">]>\r\n"
                                       L"<configuration><appSettings><add key=\"LogLevel\"><value>&level;</value></add>"
                                       L"</appSettings></configuration>\r\n");
    MarkLog();
    DISPID id = 0;
    EXPECT_EQ(S_OK, InvokeByName(serviceConfig.Get(), L"Changed", {}, &id));
    EXPECT_TRUE(WaitForLog(L"The XML document '" + ServiceConfigPath() + L"' declares a document type")) << ServiceLog();
    // The set-up that refused the file ended there: the level is still 5.
    EXPECT_FALSE(WaitForLog(L"started at level", 500)) << ServiceLog();

    WriteServiceConfig(3);
    EXPECT_EQ(S_OK, InvokeByName(serviceConfig.Get(), L"Changed", {}, &id));
    EXPECT_TRUE(WaitForLog(L"started at level 3")) << ServiceLog();
}

// A thread message with the number the logger once used to hand lines over, posted to the
// service's threads from another process, is not taken for a line: nothing reads or frees
// what its parameters point to, and the service goes on serving.
TEST_F(ServiceRoad, AForeignThreadMessageFreesNothingAndTheServiceGoesOn)
{
    RegisterService();
    CComPtrEx<IAgentConfig> agent;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_AgentConfig, nullptr, CLSCTX_LOCAL_SERVER, IID_IAgentConfig, agent.PutVoid()));

    DWORD processId = 0;
    {
        CServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        CServiceHandle service(OpenServiceW(manager.Get(), kServiceName, SERVICE_QUERY_STATUS));
        SERVICE_STATUS_PROCESS status = {};
        DWORD needed = 0;
        ASSERT_TRUE(QueryServiceStatusEx(service.Get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                         sizeof(status), &needed));
        processId = status.dwProcessId;
    }
    ASSERT_NE(0u, processId);
    int posted = 0;
    {
        CKernelHandleEx snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
        THREADENTRY32 entry = {};
        entry.dwSize = sizeof(entry);
        for (BOOL more = Thread32First(snapshot.Get(), &entry); more; more = Thread32Next(snapshot.Get(), &entry))
        {
            // Pointers to nothing: reading them as strings ends the process.
            if (entry.th32OwnerProcessID == processId && PostThreadMessageW(entry.th32ThreadID, WM_USER + 10, 0x10, 0x20))
                ++posted;
        }
    }
    ASSERT_GT(posted, 0) << "no thread of the service took a message";

    const std::wstring target = m_folder + L"\\Agent.exe.config";
    EXPECT_EQ(S_OK, Save(agent.Get(), m_user, m_computer, target, kNewDocument));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState());
}

// An outside client renames the configuration folder, or its parent, and puts a link to a
// folder elsewhere in its place while a save of a large document, its folder held, waits
// in its directory query. A rename of the held folder through Windows is refused; any
// other rename (of the parent, or from outside Wine, which no handle can prevent) makes the
// save refuse to write. Nothing outside the folder is created or changed, and no temporary
// file stays anywhere.
TEST_F(ServiceRoad, AFolderSwappedForALinkDuringASaveLeadsTheWriteNowhereElse)
{
    RegisterService();
    const std::wstring parent = m_folder + L"\\p", config = parent + L"\\cfg", outside = m_folder + L"\\outside";
    const std::wstring target = config + L"\\Agent.exe.config";
    for (const std::wstring& folder : { parent, config, outside, outside + L"\\cfg" })
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    // Where a link in place of the folder or of its parent leads the target's path.
    WriteFileText(outside + L"\\cfg\\Agent.exe.config", kOldDocument);
    RecordProductFolders(config, m_folder);
    WriteDirectory(true, 300);
    CComPtrEx<IAgentConfig> agent;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_AgentConfig, nullptr, CLSCTX_LOCAL_SERVER, IID_IAgentConfig, agent.PutVoid()));
    const std::wstring large = DocumentOfLength(256 * 1024);

    const struct
    {
        bool parentRenamed;
        bool throughWindows;
        DWORD afterMs;
    } rows[] = { { false, true, 0 }, { false, true, 250 }, { false, false, 0 }, { false, false, 250 },
                 { true, true, 0 }, { true, false, 250 } };
    for (const auto& row : rows)
    {
        const std::string what = std::string(row.parentRenamed ? "parent" : "folder") +
                                 (row.throughWindows ? " renamed through Windows" : " renamed from outside") + " after " +
                                 std::to_string(row.afterMs) + " ms";
        SCOPED_TRACE(what);
        const std::wstring renamed = row.parentRenamed ? parent : config, moved = renamed + L"-moved";
        WriteFileText(target, kOldDocument);
        MarkLog();
        DWORD renameError = 0;
        bool swapped = false;
        std::thread outsider([&] {
            if (!WaitForLog(L"holds the folder of '" + target + L"'"))
                return;
            Sleep(row.afterMs);
            if (row.throughWindows && !MoveFileExW(renamed.c_str(), moved.c_str(), 0))
                renameError = GetLastError();
            else if (row.throughWindows || RenameFromOutside(renamed, moved))
                swapped = MakeFolderLink(renamed, row.parentRenamed ? outside : outside + L"\\cfg");
        });
        const HRESULT hr = Save(agent.Get(), m_user, m_computer, target, large);
        outsider.join();
        std::printf("%s: rename error %lu, swapped %d, 0x%08lX\n", what.c_str(), renameError, swapped ? 1 : 0,
                    static_cast<unsigned long>(hr));

        // Outside the folder nothing is created or changed; the held folder has the old
        // file or, from a save that succeeded, the new one, and no temporary file.
        EXPECT_EQ(kOldDocument, ReadFileText(outside + L"\\cfg\\Agent.exe.config"));
        EXPECT_EQ(1u, Snapshot(outside + L"\\cfg").size());
        const std::wstring held = !swapped ? config : row.parentRenamed ? moved + L"\\cfg" : moved;
        EXPECT_EQ(1u, Snapshot(held).size());
        if (swapped)
        {
            EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), hr);
            EXPECT_EQ(kOldDocument, ReadFileText(held + L"\\Agent.exe.config"));
            EXPECT_TRUE(WaitForLog(L"its folder '" + config + L"' was moved or replaced while the save held it", 5000))
                << ServiceLog();
            RemoveFolderLink(renamed);
            ASSERT_TRUE(RenameFromOutside(moved, renamed));
        }
        else
        {
            // Only a rename through Windows is refused, and of the held folder always.
            EXPECT_TRUE(row.throughWindows);
            EXPECT_TRUE(row.parentRenamed || renameError == ERROR_SHARING_VIOLATION) << renameError;
            EXPECT_EQ(S_OK, hr);
            EXPECT_NE(std::wstring::npos, ReadFileText(target).find(L"Filler"));
        }
    }
}
