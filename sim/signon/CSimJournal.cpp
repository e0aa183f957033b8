#include "sim/signon/CSimJournal.h"
#include "sim/signon/CSimConfig.h"
#include "common/CUniqueAnyEx.h"
#include <mutex>
#include <string>

void CSimJournal::Write(LPCWSTR format, ...)
{
    CStringEx line;
    va_list args;
    va_start(args, format);
    line.FormatV(format, args);
    va_end(args);
    line += L"\r\n";

    const int bytes = WideCharToMultiByte(CP_UTF8, 0, line, line.GetLength(), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, line, line.GetLength(), &text[0], bytes, nullptr, nullptr);

    // Calls arrive on the client's thread and on the stand-in's callback threads.
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    const CStringEx path = CSimConfig::GetJournalPath();
    CFileHandleEx file(CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    // A journal that cannot be written only loses the record; the product plays on.
    if (!file)
        return;
    DWORD written = 0;
    WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}
