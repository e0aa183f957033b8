#include "HidSimDevices.h"
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <memory>

extern "C" IMAGE_DOS_HEADER __ImageBase;

const GUID kHidSimInterfaceClass = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

namespace
{
struct FileCloser
{
    void operator()(HANDLE handle) const
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
};
using UniqueFile = std::unique_ptr<void, FileCloser>;

const wchar_t kPipePrefix[] = L"\\\\.\\pipe\\";

std::wstring Environment(const wchar_t* name)
{
    const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0)
        return std::wstring();
    std::wstring value(needed, L'\0');
    const DWORD got = GetEnvironmentVariableW(name, &value[0], needed);
    value.resize(got < needed ? got : 0);
    return value;
}

std::wstring IniBesideModule()
{
    wchar_t path[MAX_PATH * 2] = {};
    const DWORD length = GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase), path, ARRAYSIZE(path));
    if (length == 0 || length >= ARRAYSIZE(path))
        return std::wstring();
    std::wstring folder(path, length);
    const size_t slash = folder.find_last_of(L"\\/");
    folder.resize(slash == std::wstring::npos ? 0 : slash + 1);
    return folder + L"KelvoHidSim.ini";
}

// The ini file as text; it is plain ASCII or UTF-8.
std::wstring ReadIni(const std::wstring& path)
{
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE)
        return std::wstring();
    std::string bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file.get(), chunk, sizeof(chunk), &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    if (bytes.empty())
        return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], length);
    return text;
}

std::wstring Trim(const std::wstring& text)
{
    size_t first = 0, end = text.size();
    while (first < end && iswspace(text[first]))
        ++first;
    while (end > first && iswspace(text[end - 1]))
        --end;
    return text.substr(first, end - first);
}

std::vector<std::wstring> Split(const std::wstring& text, const wchar_t* separators)
{
    std::vector<std::wstring> parts;
    size_t start = 0;
    for (;;)
    {
        const size_t end = text.find_first_of(separators, start);
        parts.push_back(text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
        if (end == std::wstring::npos)
            return parts;
        start = end + 1;
    }
}

// A hexadecimal 16-bit number; FALSE for anything else.
bool ParseHex16(const std::wstring& text, USHORT& value)
{
    const std::wstring digits = Trim(text);
    if (digits.empty())
        return false;
    wchar_t* end = nullptr;
    const unsigned long number = wcstoul(digits.c_str(), &end, 16);
    if (end == digits.c_str() || *end != L'\0' || number > 0xFFFF)
        return false;
    value = static_cast<USHORT>(number);
    return true;
}

bool ParseEntry(const std::wstring& entry, HidSimDevice& device)
{
    const std::vector<std::wstring> fields = Split(entry, L";");
    if (fields.size() < 3 || fields.size() > 4)
        return false;
    device.path = Trim(fields[0]);
    if (device.path.empty())
        return false;
    if (device.path[0] != L'\\')
        device.path = kPipePrefix + device.path;
    if (!ParseHex16(fields[1], device.vendorId) || !ParseHex16(fields[2], device.productId))
        return false;
    return fields.size() < 4 || ParseHex16(fields[3], device.versionNumber);
}

// The pipe name part of a device path ("\\.\pipe\name" gives "name"); empty for other paths.
std::wstring PipeName(const std::wstring& path)
{
    const size_t prefixLength = ARRAYSIZE(kPipePrefix) - 1;
    if (path.size() <= prefixLength || _wcsnicmp(path.c_str(), kPipePrefix, prefixLength) != 0)
        return std::wstring();
    return path.substr(prefixLength);
}
}

bool HidSimDevice::IsPresent() const
{
    // A pipe whose instances are all busy answers the wait with a time-out; only a pipe
    // that does not exist at all is a removed device.
    return WaitNamedPipeW(path.c_str(), 1) || GetLastError() != ERROR_FILE_NOT_FOUND;
}

std::vector<HidSimDevice> HidSimReadDevices()
{
    std::wstring text = Environment(L"KELVO_HID_SIM_DEVICES");
    if (text.empty())
        text = ReadIni(IniBesideModule());
    std::vector<HidSimDevice> devices;
    for (const std::wstring& raw : Split(text, L"|\r\n"))
    {
        const std::wstring entry = Trim(raw);
        if (entry.empty() || entry[0] == L'#')
            continue;
        HidSimDevice device;
        if (ParseEntry(entry, device))
            devices.push_back(device);
        else
            HidSimTrace(L"ignored device entry '%ls': expected path;vendor;product[;version] in hexadecimal",
                        entry.c_str());
    }
    return devices;
}

std::vector<WCHAR> HidSimBuildInterfaceList(const std::vector<HidSimDevice>& devices, bool presentOnly)
{
    std::vector<WCHAR> list;
    for (const HidSimDevice& device : devices)
    {
        if (!presentOnly || device.IsPresent())
            list.insert(list.end(), device.path.c_str(), device.path.c_str() + device.path.size() + 1);
    }
    if (list.empty())
        list.push_back(L'\0');
    list.push_back(L'\0');
    return list;
}

const HidSimDevice* HidSimFindByHandle(const std::vector<HidSimDevice>& devices, HANDLE handle)
{
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_PIPE)
        return nullptr;
    // A pipe handle names its pipe relative to the pipe file system: "\name".
    BYTE buffer[sizeof(FILE_NAME_INFO) + MAX_PATH * 2 * sizeof(WCHAR)] = {};
    auto* info = reinterpret_cast<FILE_NAME_INFO*>(buffer);
    if (!GetFileInformationByHandleEx(handle, FileNameInfo, info, sizeof(buffer) - sizeof(WCHAR)))
        return nullptr;
    std::wstring name(info->FileName, info->FileNameLength / sizeof(WCHAR));
    if (!name.empty() && name[0] == L'\\')
        name.erase(0, 1);
    for (const HidSimDevice& device : devices)
    {
        if (_wcsicmp(PipeName(device.path).c_str(), name.c_str()) == 0)
            return &device;
    }
    return nullptr;
}

void HidSimTrace(const wchar_t* format, ...)
{
    const std::wstring path = Environment(L"KELVO_HID_SIM_TRACE");
    if (path.empty())
        return;
    wchar_t line[1024];
    va_list args;
    va_start(args, format);
    const int length = _vsnwprintf(line, ARRAYSIZE(line) - 3, format, args);
    va_end(args);
    std::wstring text(line, length < 0 ? ARRAYSIZE(line) - 3 : static_cast<size_t>(length));
    text += L"\r\n";
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                          nullptr, nullptr);
    std::string narrow(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &narrow[0], bytes, nullptr, nullptr);
    // Several processes may trace into one file: each line is one appending write.
    UniqueFile file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file.get(), narrow.data(), static_cast<DWORD>(narrow.size()), &written, nullptr);
}
