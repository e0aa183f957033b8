#include "sim/driver/CFileTail.h"
#include "common/CUniqueAnyEx.h"

namespace
{
CFileHandleEx OpenShared(const CStringEx& path)
{
    return CFileHandleEx(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}
}

CFileTail::CFileTail(const CStringEx& path, bool fromEnd) : m_path(path)
{
    CFileHandleEx file = OpenShared(m_path);
    LARGE_INTEGER size = {};
    if (fromEnd && file && GetFileSizeEx(file.Get(), &size))
        m_offset = static_cast<ULONGLONG>(size.QuadPart);
}

std::vector<std::string> CFileTail::ReadNewLines()
{
    std::vector<std::string> lines;
    CFileHandleEx file = OpenShared(m_path);
    LARGE_INTEGER size = {};
    if (!file || !GetFileSizeEx(file.Get(), &size) || static_cast<ULONGLONG>(size.QuadPart) <= m_offset)
        return lines;
    LARGE_INTEGER start = {};
    start.QuadPart = static_cast<LONGLONG>(m_offset);
    SetFilePointerEx(file.Get(), start, nullptr, FILE_BEGIN);
    std::string text(static_cast<size_t>(static_cast<ULONGLONG>(size.QuadPart) - m_offset), '\0');
    DWORD read = 0;
    if (!ReadFile(file.Get(), &text[0], static_cast<DWORD>(text.size()), &read, nullptr))
        return lines;
    text.resize(read);
    m_offset += read;
    m_partial += text;
    size_t end;
    while ((end = m_partial.find('\n')) != std::string::npos)
    {
        std::string line = m_partial.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        m_partial.erase(0, end + 1);
    }
    return lines;
}
