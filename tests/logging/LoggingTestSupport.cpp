#include "tests/logging/LoggingTestSupport.h"
#include "common/CUniqueAnyEx.h"
#include <vector>

namespace LoggingTest
{
CStringEx UniqueName(LPCWSTR tag)
{
    // Wine reuses process IDs soon, so the start time of the process goes in as well.
    static LONG counter = 0;
    static const ULONGLONG started = [] {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return static_cast<ULONGLONG>(now.QuadPart);
    }();
    CStringEx name;
    name.Format(L"%s%lu_%llx_%ld_", tag, GetCurrentProcessId(), started & 0xFFFFFFFFFFULL, InterlockedIncrement(&counter));
    return name;
}

CStringEx KnownFolder(REFKNOWNFOLDERID id)
{
    CTaskMemEx path;
    if (FAILED(SHGetKnownFolderPath(id, 0, nullptr, reinterpret_cast<PWSTR*>(path.Put()))))
        return CStringEx();
    return CStringEx(static_cast<LPCWSTR>(path.Get()));
}

CStringEx TempFolder()
{
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    CStringEx folder(buffer, static_cast<int>(length));
    while (folder.GetLength() > 3 && folder.GetAt(folder.GetLength() - 1) == L'\\')
        folder = folder.Left(folder.GetLength() - 1);
    return folder;
}

CStringEx ProgramFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    CStringEx full(path, static_cast<int>(length));
    return full.Left(full.ReverseFind(L'\\'));
}

std::string ReadBytes(const CStringEx& path)
{
    CFileHandleEx file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return std::string();
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    return bytes;
}

bool FileExists(const CStringEx& path)
{
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string Narrow(const CStringEx& text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, text.GetLength(), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, text.GetLength(), &out[0], size, nullptr, nullptr);
    return out;
}

void DeleteTree(const CStringEx& folder)
{
    if (folder.GetLength() < 4)
        return;
    CStringEx pattern;
    pattern.Format(L"%s\\*", folder.GetString());
    WIN32_FIND_DATAW entry;
    CFindHandleEx find(FindFirstFileW(pattern, &entry));
    if (find)
    {
        do
        {
            const CStringEx name(entry.cFileName);
            if (name == L"." || name == L"..")
                continue;
            CStringEx path;
            path.Format(L"%s\\%s", folder.GetString(), entry.cFileName);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                DeleteTree(path);
            else
                DeleteFileW(path);
        } while (FindNextFileW(find.Get(), &entry));
    }
    find.Reset();
    RemoveDirectoryW(folder);
}

int CountOf(const std::string& haystack, const std::string& needle)
{
    int count = 0;
    for (size_t at = haystack.find(needle); !needle.empty() && at != std::string::npos; at = haystack.find(needle, at + 1))
        ++count;
    return count;
}

CStringEx TodaysFileName(const CStringEx& prefix, DWORD sessionNumber)
{
    SYSTEMTIME today;
    GetLocalTime(&today);
    CStringEx name;
    if (sessionNumber != 0)
        name.Format(L"%s%04d%02d%02dS%02d.log", prefix.GetString(), today.wYear, today.wMonth, today.wDay,
                    static_cast<int>(sessionNumber));
    else
        name.Format(L"%s%04d%02d%02d.log", prefix.GetString(), today.wYear, today.wMonth, today.wDay);
    return name;
}
}
