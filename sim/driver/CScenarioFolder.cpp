#include "sim/driver/CScenarioFolder.h"
#include "sim/driver/ScenarioWait.h"
#include "common/CConfigurationEx.h"
#include "common/CResourceLoader.h"
#include "resources/KVResourceIds.h"
#include <cstdarg>
#include <shlobj.h>

namespace
{
// Deletes a folder and everything below it; a file still in use stays.
void DeleteTree(const CStringEx& folder)
{
    WIN32_FIND_DATAW entry;
    CFindHandleEx find(FindFirstFileW(ScenarioPath(folder, L"*"), &entry));
    if (find)
    {
        do
        {
            const CStringEx name = entry.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const CStringEx path = ScenarioPath(folder, name);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                DeleteTree(path);
            else
            {
                SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path);
            }
        } while (FindNextFileW(find.Get(), &entry));
    }
    find.Reset();
    RemoveDirectoryW(folder);
}

// Initialises COM on the calling thread for the configuration writer, when it has not been.
class CComScope
{
public:
    CComScope() : m_hr(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~CComScope()
    {
        if (SUCCEEDED(m_hr))
            CoUninitialize();
    }

private:
    HRESULT m_hr;
};
}

CScenarioFolder::~CScenarioFolder()
{
    if (!m_path.IsEmpty() && !m_keep)
        DeleteTree(m_path);
}

DWORD CScenarioFolder::Fail(DWORD error, LPCWSTR format, ...)
{
    va_list args;
    va_start(args, format);
    m_error.FormatV(format, args);
    va_end(args);
    m_error.AppendFormat(L" (error %lu)", error);
    return error ? error : ERROR_GEN_FAILURE;
}

DWORD CScenarioFolder::Create(LPCWSTR programName, LPCWSTR sourceFolder)
{
    const CStringEx source = sourceFolder ? CStringEx(sourceFolder) : ScenarioProgramFolder();
    wchar_t temp[MAX_PATH] = {};
    if (GetTempPathW(ARRAYSIZE(temp), temp) == 0)
        return Fail(GetLastError(), L"The temporary folder is unknown.");
    CStringEx path = temp;
    path += ScenarioUniqueName(L"KelvoScenario");
    if (!CreateDirectoryW(path, nullptr))
        return Fail(GetLastError(), L"The scenario folder %s could not be made.", path.GetString());
    m_path = path;

    struct Copy { CStringEx from; LPCWSTR name; };
    const Copy copies[] = {
        {ScenarioPath(source, programName), programName},
        {ScenarioPath(source, L"KVResource.dll"), L"KVResource.dll"},
        {ScenarioPath(source, L"standins\\cfgmgr32.dll"), L"cfgmgr32.dll"},
        {ScenarioPath(source, L"standins\\hid.dll"), L"hid.dll"},
        {ScenarioPath(source, L"standins\\wtsapi32.dll"), L"wtsapi32.dll"},
    };
    for (const Copy& copy : copies)
    {
        if (const DWORD error = CopyIn(copy.from, copy.name))
            return error;
    }
    m_programPath = PathOf(programName);
    if (const DWORD error = PreferStandIns(programName))
        return error;
    if (const DWORD error = m_resources.Open(PathOf(L"KVResource.dll")))
        return Fail(error, L"%s could not be opened for its texts.", PathOf(L"KVResource.dll").GetString());
    return CheckNoSharedConfig();
}

DWORD CScenarioFolder::PreferStandIns(LPCWSTR programName)
{
    // Only Wine has the override; on Windows the program uses the machine's own libraries.
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr || GetProcAddress(ntdll, "wine_get_version") == nullptr)
        return 0;
    // Wine takes WINEDLLOVERRIDES from the Unix environment its first program started with,
    // never from the environment a Windows program hands to CreateProcess, so a scenario
    // cannot set it for one process. The per-program override in the registry is the
    // narrowest seam that works: it names this program and the stand-in libraries only, and a
    // program of that name without the stand-ins beside it still gets Wine's own. netapi32
    // is copied in only by scenarios whose computer is a domain member.
    CStringEx keyPath;
    keyPath.Format(L"Software\\Wine\\AppDefaults\\%s\\DllOverrides", programName);
    CRegKeyEx key;
    LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, keyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Put(), nullptr);
    for (LPCWSTR library : {L"cfgmgr32", L"hid", L"wtsapi32", L"netapi32"})
    {
        static const wchar_t kOrder[] = L"native,builtin";
        if (status == ERROR_SUCCESS)
            status = RegSetValueExW(key.Get(), library, 0, REG_SZ, reinterpret_cast<const BYTE*>(kOrder), sizeof(kOrder));
    }
    if (status != ERROR_SUCCESS)
        return Fail(static_cast<DWORD>(status), L"The library override HKCU\\%s could not be written.", keyPath.GetString());
    return 0;
}

DWORD CScenarioFolder::CheckNoSharedConfig()
{
    // The program reads its configuration from the shared program-data folder first.
    CTaskMemEx folder;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, reinterpret_cast<PWSTR*>(folder.Put()))))
        return 0;
    CStringEx shared = static_cast<const wchar_t*>(folder.Get());
    for (UINT id : {IDS_DATA_FOLDER_COMPANY, IDS_DATA_FOLDER_PRODUCT, IDS_DATA_FOLDER_PROGRAM})
    {
        CStringEx level;
        if (!m_resources.LoadText(id, level))
            return Fail(ERROR_RESOURCE_NAME_NOT_FOUND, L"KVResource has no string %u.", id);
        shared += L"\\";
        shared += level;
    }
    const int slash = m_programPath.ReverseFind(L'\\');
    shared.AppendFormat(L"\\%s.config", m_programPath.Mid(slash + 1).GetString());
    if (GetFileAttributesW(shared) != INVALID_FILE_ATTRIBUTES)
        return Fail(ERROR_ALREADY_EXISTS,
                    L"%s exists: the program would read it instead of the scenario's configuration. Remove it.",
                    shared.GetString());
    return 0;
}

DWORD CScenarioFolder::CopyIn(LPCWSTR sourcePath, LPCWSTR name)
{
    CStringEx target;
    if (name)
        target = PathOf(name);
    else
    {
        const CStringEx from = sourcePath;
        target = PathOf(from.Mid(from.ReverseFind(L'\\') + 1));
    }
    if (!CopyFileW(sourcePath, target, FALSE))
        return Fail(GetLastError(), L"%s could not be copied to %s.", sourcePath, target.GetString());
    return 0;
}

CStringEx CScenarioFolder::PathOf(LPCWSTR name) const
{
    return ScenarioPath(m_path, name);
}

CStringEx CScenarioFolder::GetConfigPath() const
{
    CStringEx path = m_programPath;
    path += L".config";
    return path;
}

DWORD CScenarioFolder::WriteConfig(const std::vector<Setting>& settings)
{
    CComScope com;
    // The writer takes its element names from this process's own KVResource.
    if (CResourceLoader::Instance().GetModule() == nullptr && CResourceLoader::Instance().Load() != 0)
        return Fail(ERROR_FILE_NOT_FOUND, L"This program has no KVResource.dll of its release beside it.");
    CConfigurationEx config;
    HRESULT hr = config.CreateFromTemplate(GetConfigPath());
    for (const Setting& setting : settings)
    {
        if (FAILED(hr))
            break;
        CStringEx key;
        if (!m_resources.LoadText(setting.keyId, key))
            return Fail(ERROR_RESOURCE_NAME_NOT_FOUND, L"KVResource has no key string %u.", setting.keyId);
        hr = setting.values.size() == 1 ? config.SetValue(key, setting.values[0]) : config.SetList(key, setting.values);
    }
    if (SUCCEEDED(hr))
        hr = config.Save();
    if (FAILED(hr))
        return Fail(static_cast<DWORD>(hr), L"The configuration %s could not be written.", GetConfigPath().GetString());
    return 0;
}

DWORD CScenarioFolder::CopyConfig(LPCWSTR sourcePath)
{
    if (!CopyFileW(sourcePath, GetConfigPath(), FALSE))
        return Fail(GetLastError(), L"%s could not be copied to %s.", sourcePath, GetConfigPath().GetString());
    return 0;
}

DWORD CScenarioFolder::SetHidDevices(const std::vector<HidDevice>& devices)
{
    std::string text = "# Devices the cfgmgr32.dll and hid.dll stand-ins present: path;vendor;product\r\n";
    for (const HidDevice& device : devices)
    {
        char numbers[32];
        snprintf(numbers, sizeof(numbers), ";%04X;%04X\r\n", device.vendorId, device.productId);
        text += ScenarioUtf8(device.path) + numbers;
    }
    const CStringEx path = PathOf(L"KelvoHidSim.ini");
    CFileHandleEx file(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
    DWORD written = 0;
    if (!file || !WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
        return Fail(GetLastError(), L"%s could not be written.", path.GetString());
    return 0;
}

std::string CScenarioFolder::ReadHidTrace() const
{
    // The stand-ins open the file for every line: share everything so they never wait for us.
    CFileHandleEx file(CreateFileW(GetHidTracePath(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string text;
    char chunk[4096];
    DWORD read = 0;
    while (file && ReadFile(file.Get(), chunk, sizeof(chunk), &read, nullptr) && read > 0)
        text.append(chunk, read);
    return text;
}

CStringEx CScenarioFolder::HardwareId(USHORT vendorId, USHORT productId) const
{
    CStringEx vendorToken, productToken, id;
    m_resources.LoadText(IDS_CART_VENDOR_ID_TOKEN, vendorToken);
    m_resources.LoadText(IDS_CART_PRODUCT_ID_TOKEN, productToken);
    id.Format(L"HID\\%s_%04X&%s_%04X", vendorToken.GetString(), vendorId, productToken.GetString(), productId);
    return id;
}
