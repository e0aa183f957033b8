#include "ConfigTestSupport.h"
#include "common/CResourceLoader.h"
#include "common/CUniqueAnyEx.h"
#include "common/CUtilLogging.h"
#include <objbase.h>

namespace
{
// COM for the test thread and the satellite texts, once per test program.
class CConfigEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_EQ(0u, CResourceLoader::Instance().Load());
        ASSERT_EQ(S_OK, CUtilLogging::Instance().Initialize(5, 0, UniqueName(L"KvConfigTests"), FOLDERID_LocalAppData));
    }
    void TearDown() override
    {
        const CStringEx log = CUtilLogging::Instance().GetFilePath();
        CUtilLogging::Instance().Initialize(0, 0, nullptr, FOLDERID_LocalAppData);
        DeleteFileW(log);
        CoUninitialize();
    }
};

::testing::Environment* const g_environment = ::testing::AddGlobalTestEnvironment(new CConfigEnvironment);
}

CStringEx Concat(LPCWSTR first, LPCWSTR second)
{
    CStringEx text(first);
    text += second;
    return text;
}

CStringEx UniqueName(LPCWSTR prefix)
{
    static LONG counter;
    CStringEx name;
    name.Format(L"%s-%lu-%lu-%ld", prefix, GetCurrentProcessId(), GetTickCount(), InterlockedIncrement(&counter));
    return name;
}

CLogMark::CLogMark() : m_offset(ReadBytes(CUtilLogging::Instance().GetFilePath()).size())
{
}

std::string CLogMark::NewText() const
{
    const std::string all = ReadBytes(CUtilLogging::Instance().GetFilePath());
    return all.size() > m_offset ? all.substr(m_offset) : std::string();
}

void CTempFolderTest::SetUp()
{
    wchar_t temp[MAX_PATH + 1];
    ASSERT_NE(0u, GetTempPathW(MAX_PATH + 1, temp));
    m_folder = temp;
    m_folder += UniqueName(L"kvconfig");
    ASSERT_TRUE(CreateDirectoryW(m_folder, nullptr)) << GetLastError();
}

void CTempFolderTest::TearDown()
{
    DeleteTree(m_folder);
}

CStringEx CTempFolderTest::PathOf(LPCWSTR name) const
{
    CStringEx path(m_folder);
    path += L"\\";
    path += name;
    return path;
}

void WriteBytes(LPCWSTR path, const std::string& bytes)
{
    CFileHandleEx file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << GetLastError();
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    ASSERT_EQ(bytes.size(), written);
}

std::string ReadBytes(LPCWSTR path)
{
    CFileHandleEx file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file)
        return std::string();
    std::string bytes(GetFileSize(file.Get(), nullptr), '\0');
    DWORD read = 0;
    if (!bytes.empty() && !ReadFile(file.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr))
        return std::string();
    bytes.resize(read);
    return bytes;
}

bool FileExists(LPCWSTR path)
{
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::wstring> FilesIn(LPCWSTR folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    CStringEx pattern(folder);
    pattern += L"\\*";
    CFindHandleEx find(FindFirstFileW(pattern, &data));
    if (!find)
        return names;
    do
    {
        if (wcscmp(data.cFileName, L".") != 0 && wcscmp(data.cFileName, L"..") != 0)
            names.push_back(data.cFileName);
    } while (FindNextFileW(find.Get(), &data));
    return names;
}

void DeleteTree(LPCWSTR folder)
{
    for (const std::wstring& name : FilesIn(folder))
    {
        CStringEx path(folder);
        path += L"\\";
        path += name.c_str();
        const DWORD attributes = GetFileAttributesW(path);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        {
            DeleteTree(path);
            continue;
        }
        SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path);
    }
    RemoveDirectoryW(folder);
}

std::string Utf8(LPCWSTR text)
{
    if (!text || !*text)
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    out.resize(static_cast<size_t>(size - 1));
    return out;
}
