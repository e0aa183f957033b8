#include "CtxEndpointConfig.h"
#include <cstdarg>
#include <cstdio>
#include <cwctype>
#include <memory>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace
{
struct FileCloser
{
    void operator()(HANDLE h) const { if (h != INVALID_HANDLE_VALUE) CloseHandle(h); }
};
using UniqueFile = std::unique_ptr<void, FileCloser>;

UniqueFile OpenShared(const std::wstring& path, DWORD access, DWORD disposition)
{
    return UniqueFile(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::wstring ConfigPath()
{
    wchar_t path[MAX_PATH * 2] = {};
    const DWORD n = GetEnvironmentVariableW(L"KELVO_CITRIX_ENDPOINT", path, ARRAYSIZE(path));
    if (n > 0 && n < ARRAYSIZE(path))
        return path;
    // No variable: the file beside this DLL.
    const DWORD m = GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase), path, ARRAYSIZE(path));
    if (m == 0 || m >= ARRAYSIZE(path))
        return std::wstring();
    std::wstring beside(path, m);
    const size_t slash = beside.find_last_of(L"\\/");
    return beside.substr(0, slash == std::wstring::npos ? 0 : slash + 1) + L"wfapi64.ini";
}

std::string ReadAll(const std::wstring& path)
{
    std::string text;
    if (path.empty())
        return text;
    UniqueFile file = OpenShared(path, GENERIC_READ, OPEN_EXISTING);
    if (file.get() == INVALID_HANDLE_VALUE)
        return text;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file.get(), chunk, sizeof(chunk), &got, nullptr) && got > 0)
        text.append(chunk, got);
    return text;
}

std::string Trim(const std::string& s)
{
    size_t b = 0, e = s.size();
    while (b < e && isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

std::wstring Widen(const std::string& s)
{
    if (s.empty())
        return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &w[0], n);
    return w;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Pairs of hex digits; anything else separates bytes.
std::vector<BYTE> ParseHex(const std::string& s)
{
    std::vector<BYTE> bytes;
    int high = -1;
    for (char c : s)
    {
        const int d = HexDigit(c);
        if (d < 0)
        {
            high = -1;
            continue;
        }
        if (high < 0)
            high = d;
        else
        {
            bytes.push_back(static_cast<BYTE>(high * 16 + d));
            high = -1;
        }
    }
    return bytes;
}
}

CtxEndpointConfig CtxEndpointConfig::Read()
{
    CtxEndpointConfig config;
    const std::string text = ReadAll(ConfigPath());
    size_t start = 0;
    while (start < text.size())
    {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = Trim(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = Trim(line.substr(0, eq));
        const std::string value = Trim(line.substr(eq + 1));
        if (_stricmp(key.c_str(), "ClientName") == 0)
            config.clientName = Widen(value);
        else if (_stricmp(key.c_str(), "Channel") == 0)
            config.channel = value;
        else if (_stricmp(key.c_str(), "PacketSize") == 0)
            config.packetSize = atoi(value.c_str());
        else if (_stricmp(key.c_str(), "ClientDataSize") == 0)
            config.clientDataSize = atoi(value.c_str());
        else if (_stricmp(key.c_str(), "Reply") == 0)
        {
            config.hasReply = true;
            config.reply = ParseHex(value);
        }
        else if (_stricmp(key.c_str(), "ReplyDelayMs") == 0)
            config.replyDelayMs = static_cast<DWORD>(strtoul(value.c_str(), nullptr, 10));
        else if (_stricmp(key.c_str(), "ReadError") == 0)
        {
            config.hasReadError = true;
            config.readError = static_cast<DWORD>(strtoul(value.c_str(), nullptr, 10));
        }
        else if (_stricmp(key.c_str(), "Trace") == 0)
            config.tracePath = Widen(value);
    }
    return config;
}

void CtxTrace(const char* format, ...)
{
    // Tracing must not disturb the caller's last error.
    const DWORD error = GetLastError();
    const CtxEndpointConfig config = CtxEndpointConfig::Read();
    if (!config.tracePath.empty())
    {
        char line[1024];
        va_list args;
        va_start(args, format);
        int n = vsnprintf(line, sizeof(line) - 2, format, args);
        va_end(args);
        if (n < 0)
            n = 0;
        if (n > static_cast<int>(sizeof(line)) - 3)
            n = static_cast<int>(sizeof(line)) - 3;
        line[n++] = '\r';
        line[n++] = '\n';
        UniqueFile file = OpenShared(config.tracePath, FILE_APPEND_DATA, OPEN_ALWAYS);
        DWORD written = 0;
        if (file.get() != INVALID_HANDLE_VALUE)
            WriteFile(file.get(), line, static_cast<DWORD>(n), &written, nullptr);
    }
    SetLastError(error);
}
