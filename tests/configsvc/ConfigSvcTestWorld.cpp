#include "tests/configsvc/ConfigSvcTestWorld.h"
#include "common/CResourceLoader.h"
#include "common/CUniqueAnyEx.h"
#include "common/CUtilLogging.h"
#include <objbase.h>
#include <sddl.h>
#include <shlobj.h>
#include <functional>
#include <vector>

namespace
{
const wchar_t kAdsiKey[] = L"SOFTWARE\\Kelvo\\AdsiSim";
const wchar_t kProductKey[] = L"Software\\Kelvo\\Cart";
// This process's own log: the objects it creates in process log here.
const wchar_t kOwnLogPrefix[] = L"ConfigSvcTests";
const wchar_t kBoxLogVariable[] = L"KELVO_MESSAGE_BOX_LOG";

struct ServiceHandleTraits { using Type = SC_HANDLE; static Type Invalid() { return nullptr; } static void Close(Type h) { CloseServiceHandle(h); } };
using CServiceHandle = CUniqueAnyEx<ServiceHandleTraits>;

void SetProductFolder(HKEY key, const wchar_t* name, const std::wstring& folder)
{
    if (folder.empty())
    {
        RegDeleteValueW(key, name);
        return;
    }
    // As the installer writes it: with a trailing backslash.
    const std::wstring value = folder + L"\\";
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
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
                ConfigSvcWorld::RemoveFolderLink(path);
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
    WriteDirectory();
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, kAdsiKey, L"DataFile", REG_SZ, m_directoryData.c_str(),
                                             static_cast<DWORD>((m_directoryData.size() + 1) * sizeof(wchar_t))));
    SetEnvironmentVariableW(L"KELVO_ADSI_DATA", m_directoryData.c_str());
    WriteServiceConfig(5);
    m_logStart = ServiceLog().size();
    // The case's folder is where the program is "installed".
    RecordProductFolders(ConfigFolder(), m_folder);
    CUtilLogging::Instance().Initialize(5, 30, kOwnLogPrefix, FOLDERID_ProgramData);
    m_ownLogStart = OwnLog().size();
}

void ConfigSvcWorld::TearDown()
{
    if (!m_program.empty() && GetFileAttributesW(m_program.c_str()) != INVALID_FILE_ATTRIBUTES)
        RunCopy(L"/unregserver", 30000);
    ForceRemoveService();
    RemoveRegistration();
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kAdsiKey, L"DataFile");
    RecordProductFolders(std::wstring(), std::wstring());
    CUtilLogging::Instance().Initialize(0, 0, kOwnLogPrefix, FOLDERID_ProgramData);
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
    SHCreateDirectoryExW(nullptr, ConfigFolder().c_str(), nullptr);
    m_serviceConfig = ServiceConfigPath();
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
    return ReadFileText(ConfigFolder() + name);
}

void ConfigSvcWorld::WriteDirectory(bool thisAccountIsAdministrator, DWORD delayMs)
{
    WriteFileText(m_directoryData, L"[directory]\r\ndelay_ms = " + std::to_wstring(delayMs) + L"\r\n[computer]\r\nname = .\r\nworkgroup = WORKGROUP\r\n[local user " + m_user +
                                       L"]\r\n[local user kiosk]\r\n[local user mallory]\r\n"
                                       L"[local group Administrators]\r\n" +
                                       (thisAccountIsAdministrator ? L"member = " + m_user + L"\r\n" : std::wstring()) +
                                       L"member = kiosk\r\n");
}

std::wstring ConfigSvcWorld::ConfigFolder()
{
    PWSTR path = nullptr;
    std::wstring folder;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &path)))
        folder = path;
    CoTaskMemFree(path);
    return folder + L"\\Kelvo\\Cart\\Agent";
}

std::wstring ConfigSvcWorld::ServiceConfigPath()
{
    return ConfigFolder() + L"\\KelvoConfigSvc.exe.config";
}

void ConfigSvcWorld::RecordProductFolders(const std::wstring& configFolder, const std::wstring& installFolder)
{
    CRegKeyEx key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, key.Put(),
                        nullptr) != ERROR_SUCCESS)
        return;
    SetProductFolder(key.Get(), L"ConfigFolder", configFolder);
    SetProductFolder(key.Get(), L"InstallFolder", installFolder);
    key.Reset();
    if (configFolder.empty() && installFolder.empty())
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kProductKey, KEY_WOW64_64KEY, 0);
}

void ConfigSvcWorld::MarkLog()
{
    m_logStart = ServiceLog().size();
}

std::wstring ConfigSvcWorld::OwnLog() const
{
    const std::wstring log = ReadFileText(std::wstring(CUtilLogging::Instance().GetFilePath().GetString()));
    return log.size() >= m_ownLogStart ? log.substr(m_ownLogStart) : log;
}

std::wstring ConfigSvcWorld::OwnSidText()
{
    CKernelHandleEx token;
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD length = 0;
    LPWSTR text = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put())
        || !GetTokenInformation(token.Get(), TokenUser, buffer, sizeof(buffer), &length)
        || !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text))
        return std::wstring();
    CLocalMemEx memory(text);
    return text;
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

namespace
{
// The Unix name of a path under Wine (its folder's, and its own name after it, so that the
// path itself need not exist); empty elsewhere.
std::wstring UnixPath(const std::wstring& path)
{
    using UnixNameFn = char*(CDECL*)(LPCWSTR);
    const auto unixName = reinterpret_cast<UnixNameFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    const size_t slash = path.rfind(L'\\');
    if (!unixName || slash == std::wstring::npos)
        return std::wstring();
    char* folder = unixName(path.substr(0, slash).c_str());
    if (!folder)
        return std::wstring();
    const std::wstring text = std::wstring(folder, folder + strlen(folder)) + L"/" + path.substr(slash + 1);
    HeapFree(GetProcessHeap(), 0, folder);
    return text;
}

// Runs a Unix program under Wine and waits (bounded) until done() holds: a Unix program's
// process handle cannot be waited for.
bool RunUnixUntil(std::wstring command, const std::function<bool()>& done)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    if (process.hThread)
        CloseHandle(process.hThread);
    if (process.hProcess)
        CloseHandle(process.hProcess);
    for (const ULONGLONG start = GetTickCount64(); GetTickCount64() - start < 5000; Sleep(50))
    {
        if (done())
            return true;
    }
    return false;
}
}

bool ConfigSvcWorld::MakeFolderLink(const std::wstring& link, const std::wstring& target)
{
    const auto isLink = [&] {
        const DWORD attributes = GetFileAttributesW(link.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    };
    if (CreateSymbolicLinkW(link.c_str(), target.c_str(),
                            SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)
        && isLink())
        return true;
    const std::wstring unixLink = UnixPath(link), unixTarget = UnixPath(target);
    return !unixLink.empty() && RunUnixUntil(L"/bin/ln -s \"" + unixTarget + L"\" \"" + unixLink + L"\"", isLink);
}

void ConfigSvcWorld::RemoveFolderLink(const std::wstring& link)
{
    // Under Wine the link is a Unix one, and removing it as a folder removes its target.
    const std::wstring unixLink = UnixPath(link);
    if (unixLink.empty())
        RemoveDirectoryW(link.c_str());
    else
        RunUnixUntil(L"/bin/rm -f \"" + unixLink + L"\"",
                     [&] { return GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES; });
}

bool ConfigSvcWorld::RenameFromOutside(const std::wstring& from, const std::wstring& to)
{
    const std::wstring unixFrom = UnixPath(from), unixTo = UnixPath(to);
    return !unixFrom.empty() && !unixTo.empty()
           && RunUnixUntil(L"/bin/mv \"" + unixFrom + L"\" \"" + unixTo + L"\"",
                           [&] { return GetFileAttributesW(to.c_str()) != INVALID_FILE_ATTRIBUTES; });
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
