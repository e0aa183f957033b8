#include "tests/configsvc/ConfigSvcTestWorld.h"
#include "common/CUniqueAnyEx.h"
#include "KelvoConfigSvcLib.h"
#include <map>
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

HRESULT Save(IAgentConfig* agent, const std::wstring& user, const std::wstring& domain, const std::wstring& path,
             const std::wstring& xml)
{
    CBstrEx u(user.c_str()), d(domain.c_str()), p(path.c_str()), x(xml.c_str());
    // An empty text travels as a null BSTR, as a client's empty string does.
    return agent->SaveChanges(user.empty() ? nullptr : u.Get(), domain.empty() ? nullptr : d.Get(),
                              path.empty() ? nullptr : p.Get(), xml.empty() ? nullptr : x.Get());
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
    EXPECT_TRUE(WaitForLog(L"Full control of '" + target + L"' granted to " + m_computer + L"\\" + m_user))
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
    EXPECT_TRUE(WaitForLog(L"logging at level 3")) << ServiceLog();
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

TEST_F(ServiceRoad, RefusedCallsReturnTheirCodeAndTouchNoFile)
{
    RegisterService();
    CComPtrEx<IAgentConfig> agent;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_AgentConfig, nullptr, CLSCTX_LOCAL_SERVER, IID_IAgentConfig, agent.PutVoid()));

    const std::wstring target = m_folder + L"\\Agent.exe.config";
    WriteFileText(target, kOldDocument);
    // A folder reached through a symbolic link (a reparse point on the way).
    const std::wstring real = m_folder + L"\\real";
    const std::wstring linked = m_folder + L"\\linked";
    ASSERT_TRUE(CreateDirectoryW(real.c_str(), nullptr));
    const bool haveLink =
        CreateSymbolicLinkW(linked.c_str(), real.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)
        && (GetFileAttributesW(linked.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
    if (!haveLink)
        std::printf("note: no symbolic link could be made here; the reparse-point case is left out\n");

    const std::wstring drive = target.substr(0, 2);
    struct Refusal
    {
        const char* what;
        std::wstring user, domain, path, xml;
        HRESULT expected;
    };
    std::vector<Refusal> refusals = {
        { "malformed XML", m_user, m_computer, target, L"<configuration><appSettings>", E_FAIL },
        { "external entity", m_user, m_computer, target,
          L"<?xml version=\"1.0\"?><!DOCTYPE c [<!ENTITY x SYSTEM \"file:///" + drive + L"/windows/win.ini\">]><c>&x;</c>", E_FAIL },
        { "no user name", L"", m_computer, target, kNewDocument, E_ACCESSDENIED },
        { "no domain", m_user, L"", target, kNewDocument, E_ACCESSDENIED },
        { "foreign domain", m_user, L"ELSEWHERE", target, kNewDocument, E_ACCESSDENIED },
        { "another administrator's name", L"kiosk", m_computer, target, kNewDocument, E_ACCESSDENIED },
        { "a user who is no administrator", L"mallory", m_computer, target, kNewDocument, E_ACCESSDENIED },
        { "empty path", m_user, m_computer, L"", kNewDocument, E_INVALIDARG },
        { "relative path", m_user, m_computer, L"Agent.exe.config", kNewDocument, E_INVALIDARG },
        { "UNC path", m_user, m_computer, L"\\\\localhost\\c$\\Agent.exe.config", kNewDocument, E_INVALIDARG },
        { "device path", m_user, m_computer, L"\\\\?\\" + target, kNewDocument, E_INVALIDARG },
        { "stream", m_user, m_computer, target + L":hidden.config", kNewDocument, E_INVALIDARG },
        { "dot-dot part", m_user, m_computer, m_folder + L"\\real\\..\\Agent.exe.config", kNewDocument, E_INVALIDARG },
        { "forward slashes", m_user, m_computer, drive + L"/Agent.exe.config", kNewDocument, E_INVALIDARG },
        { "not a .config file", m_user, m_computer, m_folder + L"\\Agent.exe.ini", kNewDocument, E_INVALIDARG },
        { "device name", m_user, m_computer, m_folder + L"\\CON.config", kNewDocument, E_INVALIDARG },
    };
    if (haveLink)
        refusals.push_back({ "link on the way", m_user, m_computer, linked + L"\\Agent.exe.config", kNewDocument, E_INVALIDARG });

    const auto before = Snapshot(m_folder);
    for (const Refusal& refusal : refusals)
    {
        SCOPED_TRACE(refusal.what);
        EXPECT_EQ(refusal.expected, Save(agent.Get(), refusal.user, refusal.domain, refusal.path, refusal.xml));
        EXPECT_EQ(before, Snapshot(m_folder));
        EXPECT_TRUE(Snapshot(real).empty());
    }
    // The same connection still saves for the administrator.
    EXPECT_EQ(S_OK, Save(agent.Get(), m_user, m_computer, target, kNewDocument));
}
