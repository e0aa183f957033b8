#include "tests/configsvc/ConfigSvcTestWorld.h"
#include "common/CResourceLoader.h"
#include "common/CUniqueAnyEx.h"
#include <objbase.h>
#include <shlobj.h>
#include <vector>

namespace
{
const wchar_t kAdsiKey[] = L"SOFTWARE\\Kelvo\\AdsiSim";
const wchar_t kBoxLogVariable[] = L"KELVO_MESSAGE_BOX_LOG";

struct ServiceHandleTraits { using Type = SC_HANDLE; static Type Invalid() { return nullptr; } static void Close(Type h) { CloseServiceHandle(h); } };
using CServiceHandle = CUniqueAnyEx<ServiceHandleTraits>;

std::wstring ProgramDataFolder()
{
    PWSTR path = nullptr;
    std::wstring folder;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &path)))
        folder = path;
    CoTaskMemFree(path);
    return folder + L"\\Kelvo\\Cart\\Agent";
}

void DeleteFolder(const std::wstring& folder)
{
    WIN32_FIND_DATAW data;
    CFindHandleEx find(FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (find)
    {
        do
        {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring path = folder + L"\\" + name;
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                DeleteFolder(path);
            else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveDirectoryW(path.c_str());
            else
            {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(find.Get(), &data));
    }
    find.Reset();
    RemoveDirectoryW(folder.c_str());
}

// Whatever a failed case left of the server's registration goes.
void RemoveRegistration()
{
    static const wchar_t* const kKeys[] = {
        L"Software\\Classes\\CLSID\\{8E02334E-BC54-43B4-87B3-5BA544D0D00A}",
        L"Software\\Classes\\CLSID\\{E386FD8A-4429-4429-8F51-D6AFDC69A12C}",
        L"Software\\Classes\\KelvoConfigSvc.AgentConfig", L"Software\\Classes\\KelvoConfigSvc.AgentConfig.1",
        L"Software\\Classes\\KelvoConfigSvc.ServiceConfig", L"Software\\Classes\\KelvoConfigSvc.ServiceConfig.1",
        L"Software\\Classes\\AppID\\{53CBB69E-3DC9-4843-BDC3-0F2C5EFED5B6}",
        L"Software\\Classes\\AppID\\KelvoConfigSvc.EXE",
        L"Software\\Classes\\TypeLib\\{53CBB69E-3DC9-4843-BDC3-0F2C5EFED5B6}",
    };
    for (HKEY root : { HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER })
    {
        for (const wchar_t* key : kKeys)
        {
            RegDeleteTreeW(root, key);
            RegDeleteKeyW(root, key);
        }
    }
}
}

void ConfigSvcWorld::SetUp()
{
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    m_comReady = true;
    // The directory queries of in-process objects read their texts from the library.
    ASSERT_EQ(0u, CResourceLoader::Instance().Load());
    // A case that was killed may have left its service behind.
    ForceRemoveService();
    RemoveRegistration();

    wchar_t text[MAX_PATH];
    DWORD length = ARRAYSIZE(text);
    ASSERT_TRUE(GetUserNameW(text, &length));
    m_user = text;
    length = ARRAYSIZE(text);
    ASSERT_TRUE(GetComputerNameW(text, &length));
    m_computer = text;
    m_appIdKey = L"AppID\\{53CBB69E-3DC9-4843-BDC3-0F2C5EFED5B6}";

    GetTempPathW(ARRAYSIZE(text), text);
    m_folder = std::wstring(text) + L"kelvo-svc-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
               std::to_wstring(GetTickCount64());
    ASSERT_TRUE(CreateDirectoryW(m_folder.c_str(), nullptr));
    m_boxLog = m_folder + L"\\boxes.txt";
    SetEnvironmentVariableW(kBoxLogVariable, m_boxLog.c_str());

    // The directory: this account and kiosk are local administrators, mallory is not.
    HMODULE standIn = LoadLibraryW(L"KelvoAdsiSim.dll");
    ASSERT_NE(nullptr, standIn);
    auto registerServer = reinterpret_cast<HRESULT(WINAPI*)()>(
        reinterpret_cast<void (*)()>(GetProcAddress(standIn, "DllRegisterServer")));
    ASSERT_NE(nullptr, registerServer);
    ASSERT_EQ(S_OK, registerServer());
    m_directoryData = m_folder + L"\\directory.ini";
    WriteFileText(m_directoryData, L"[computer]\r\nname = .\r\nworkgroup = WORKGROUP\r\n[local user " + m_user +
                                       L"]\r\n[local user kiosk]\r\n[local user mallory]\r\n"
                                       L"[local group Administrators]\r\nmember = " + m_user + L"\r\nmember = kiosk\r\n");
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, kAdsiKey, L"DataFile", REG_SZ, m_directoryData.c_str(),
                                             static_cast<DWORD>((m_directoryData.size() + 1) * sizeof(wchar_t))));
    SetEnvironmentVariableW(L"KELVO_ADSI_DATA", m_directoryData.c_str());
    WriteServiceConfig(5);
    m_logStart = ServiceLog().size();
}

void ConfigSvcWorld::TearDown()
{
    if (!m_program.empty() && GetFileAttributesW(m_program.c_str()) != INVALID_FILE_ATTRIBUTES)
        RunCopy(L"/unregserver", 30000);
    ForceRemoveService();
    RemoveRegistration();
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kAdsiKey, L"DataFile");
    SetEnvironmentVariableW(L"KELVO_ADSI_DATA", nullptr);
    SetEnvironmentVariableW(kBoxLogVariable, nullptr);
    if (!m_serviceConfig.empty())
        DeleteFileW(m_serviceConfig.c_str());
    if (!m_folder.empty())
        DeleteFolder(m_folder);
    if (m_comReady)
        CoUninitialize();
}

void ConfigSvcWorld::InstallCopy(bool withResources)
{
    wchar_t own[MAX_PATH];
    GetModuleFileNameW(nullptr, own, MAX_PATH);
    std::wstring bin = own;
    bin.resize(bin.rfind(L'\\'));
    m_program = m_folder + L"\\KelvoConfigSvc.exe";
    ASSERT_TRUE(CopyFileW((bin + L"\\KelvoConfigSvc.exe").c_str(), m_program.c_str(), FALSE));
    if (withResources)
    {
        ASSERT_TRUE(CopyFileW((bin + L"\\KVResource.dll").c_str(), (m_folder + L"\\KVResource.dll").c_str(), FALSE));
    }
}

DWORD ConfigSvcWorld::RunCopy(const std::wstring& arguments, DWORD timeoutMs)
{
    std::wstring commandLine = L"\"" + m_program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(m_program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, m_folder.c_str(),
                        &startup, &process))
        return static_cast<DWORD>(-1);
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 99);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

std::wstring ConfigSvcWorld::Boxes() const
{
    return ReadFileText(m_boxLog);
}

void ConfigSvcWorld::WriteServiceConfig(int logLevel)
{
    const std::wstring folder = ProgramDataFolder();
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    m_serviceConfig = folder + L"\\KelvoConfigSvc.exe.config";
    WriteFileText(m_serviceConfig, L"<?xml version=\"1.0\"?>\r\n<configuration><appSettings>"
                                   L"<add key=\"LogLevel\"><value>" + std::to_wstring(logLevel) +
                                       L"</value></add></appSettings></configuration>\r\n");
}

std::wstring ConfigSvcWorld::ServiceLog()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t name[64];
    swprintf(name, ARRAYSIZE(name), L"\\Logs\\KelvoConfigSvc%04d%02d%02d.log", now.wYear, now.wMonth, now.wDay);
    return ReadFileText(ProgramDataFolder() + name);
}

bool ConfigSvcWorld::WaitForLog(const std::wstring& text, DWORD timeoutMs) const
{
    for (const ULONGLONG start = GetTickCount64(); GetTickCount64() - start < timeoutMs; Sleep(100))
    {
        // A new day's file (the case ran over midnight) is read from its start.
        const std::wstring log = ServiceLog();
        if (log.find(text, log.size() >= m_logStart ? m_logStart : 0) != std::wstring::npos)
            return true;
    }
    return false;
}

DWORD ConfigSvcWorld::ServiceState()
{
    CServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    CServiceHandle service(manager ? OpenServiceW(manager.Get(), kServiceName, SERVICE_QUERY_STATUS) : nullptr);
    SERVICE_STATUS status = {};
    if (!service || !QueryServiceStatus(service.Get(), &status))
        return 0;
    return status.dwCurrentState;
}

bool ConfigSvcWorld::WaitForServiceState(DWORD state, DWORD timeoutMs)
{
    for (const ULONGLONG start = GetTickCount64(); GetTickCount64() - start < timeoutMs; Sleep(100))
    {
        if (ServiceState() == state)
            return true;
    }
    return false;
}

void ConfigSvcWorld::ForceRemoveService()
{
    CServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    CServiceHandle service(manager ? OpenServiceW(manager.Get(), kServiceName, SERVICE_ALL_ACCESS) : nullptr);
    if (!service)
        return;
    SERVICE_STATUS status = {};
    ControlService(service.Get(), SERVICE_CONTROL_STOP, &status);
    if (!WaitForServiceState(SERVICE_STOPPED, 20000))
    {
        // A service that does not stop (it waits for something nobody gives it) is ended.
        SERVICE_STATUS_PROCESS process = {};
        DWORD needed = 0;
        if (QueryServiceStatusEx(service.Get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&process), sizeof(process),
                                 &needed) && process.dwProcessId)
        {
            HANDLE handle = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, process.dwProcessId);
            if (handle)
            {
                TerminateProcess(handle, 1);
                WaitForSingleObject(handle, 10000);
                CloseHandle(handle);
            }
        }
    }
    DeleteService(service.Get());
    // The service goes when the last handle to it closes.
    service.Reset();
    for (const ULONGLONG start = GetTickCount64(); GetTickCount64() - start < 10000; Sleep(100))
    {
        CServiceHandle again(OpenServiceW(manager.Get(), kServiceName, SERVICE_QUERY_STATUS));
        if (!again)
            break;
    }
}

std::wstring ConfigSvcWorld::ReadFileText(const std::wstring& path)
{
    CFileHandleEx file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file)
        return std::wstring();
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    size_t start = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    std::wstring text(bytes.size(), L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data() + start, static_cast<int>(bytes.size() - start), &text[0],
                                      static_cast<int>(text.size()));
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return text;
}

void ConfigSvcWorld::WriteFileText(const std::wstring& path, const std::wstring& text)
{
    CFileHandleEx file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    std::string utf8(text.size() * 4 + 1, '\0');
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0],
                                      static_cast<int>(utf8.size()), nullptr, nullptr);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.Get(), utf8.data(), static_cast<DWORD>(n), &written, nullptr));
}

bool ConfigSvcWorld::KeyExists(HKEY root, const std::wstring& path)
{
    CRegKeyEx key;
    return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

bool ConfigSvcWorld::ValueExists(HKEY root, const std::wstring& path, const wchar_t* name)
{
    return RegGetValueW(root, path.c_str(), name, RRF_RT_ANY, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}
