#include "tests/logging/LoggingTestSupport.h"
#include <algorithm>
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

std::vector<CStringEx> DayFiles(const CStringEx& folder, const CStringEx& prefix, DWORD sessionNumber)
{
    CStringEx suffix = L".log";
    if (sessionNumber != 0)
        suffix.Format(L"S%02d.log", static_cast<int>(sessionNumber));
    std::vector<CStringEx> files;
    WIN32_FIND_DATAW entry;
    CFindHandleEx find(FindFirstFileW(folder + L"\\" + prefix + L"*", &entry));
    if (!find)
        return files;
    do
    {
        // The prefix, eight digits and the suffix, nothing else.
        const std::wstring name = entry.cFileName;
        const size_t digits = prefix.GetLength();
        if (name.size() != digits + 8 + suffix.GetLength() || name.compare(digits + 8, std::wstring::npos, suffix.GetString()) != 0)
            continue;
        if (std::all_of(name.begin() + digits, name.begin() + digits + 8, [](wchar_t c) { return c >= L'0' && c <= L'9'; }))
            files.push_back(folder + L"\\" + entry.cFileName);
    } while (FindNextFileW(find.Get(), &entry));
    std::sort(files.begin(), files.end(), [](const CStringEx& a, const CStringEx& b) { return a.Str() < b.Str(); });
    return files;
}

std::string ReadDayFiles(const CStringEx& folder, const CStringEx& prefix, DWORD sessionNumber)
{
    std::string text;
    for (const CStringEx& file : DayFiles(folder, prefix, sessionNumber))
        text += ReadBytes(file);
    return text;
}
}
