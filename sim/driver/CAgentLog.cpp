#include "sim/driver/CAgentLog.h"
#include "sim/driver/ScenarioWait.h"
#include "resources/KVResourceIds.h"
#include <shlobj.h>

namespace
{
std::string ReadFrom(const CStringEx& path, size_t offset)
{
    // The program opens the file for every line: share everything so it never waits for us.
    CFileHandleEx file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return std::string();
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.Get(), &size) || static_cast<ULONGLONG>(size.QuadPart) <= offset)
        return std::string();
    LARGE_INTEGER start = {};
    start.QuadPart = static_cast<LONGLONG>(offset);
    SetFilePointerEx(file.Get(), start, nullptr, FILE_BEGIN);
    std::string text(static_cast<size_t>(size.QuadPart) - offset, '\0');
    DWORD read = 0;
    ReadFile(file.Get(), &text[0], static_cast<DWORD>(text.size()), &read, nullptr);
    text.resize(read);
    return text;
}
}

CAgentLog::CAgentLog(const CScenarioFolder& folder, Clock clock) : m_clock(clock)
{
    CTaskMemEx known;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, reinterpret_cast<PWSTR*>(known.Put()))))
        m_folder = static_cast<const wchar_t*>(known.Get());
    for (UINT id : {IDS_DATA_FOLDER_COMPANY, IDS_DATA_FOLDER_PRODUCT, IDS_DATA_FOLDER_PROGRAM, IDS_LOG_FOLDER_NAME})
    {
        CStringEx level;
        folder.GetResources().LoadText(id, level);
        m_folder += L"\\";
        m_folder += level;
    }
    const CStringEx& program = folder.GetProgramPath();
    m_name = program.Mid(program.ReverseFind(L'\\') + 1);
    if (m_name.ReverseFind(L'.') > 0)
        m_name = m_name.Left(m_name.ReverseFind(L'.'));
    Mark();
}

SYSTEMTIME CAgentLog::Now() const
{
    if (m_clock)
        return m_clock();
    SYSTEMTIME now;
    GetLocalTime(&now);
    return now;
}

CStringEx CAgentLog::GetPathOf(const SYSTEMTIME& day) const
{
    CStringEx path;
    path.Format(L"%s\\%s%04d%02d%02d.log", m_folder.GetString(), m_name.GetString(), day.wYear, day.wMonth, day.wDay);
    return path;
}

void CAgentLog::Mark()
{
    m_path = GetPathOf(Now());
    CFileHandleEx file(CreateFileW(m_path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    m_offset = file && GetFileSizeEx(file.Get(), &size) ? static_cast<size_t>(size.QuadPart) : 0;
}

std::string CAgentLog::NewText() const
{
    std::string text = ReadFrom(m_path, m_offset);
    const CStringEx today = GetPathOf(Now());
    if (today.CompareNoCase(m_path) != 0)
        text += ReadFrom(today, 0);
    return text;
}

bool CAgentLog::WaitForText(const char* text, DWORD boundMs) const
{
    return ScenarioWaitFor([&] { return NewText().find(text) != std::string::npos; }, boundMs);
}
