#include "common/CUtilLogging.h"
#include "common/PostedObjectEx.h"
#include "common/CComPtrEx.h"
#include "common/CMutexAcquire.h"
#include "common/CResourceLoader.h"
#include "common/CUniqueAnyEx.h"
#include "resources/KVIdsLogging.h"
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

namespace
{
const __int64 kSecondsPerDay = 86400;
// The log folder below its root: the three program-data levels, then the log level.
const UINT kFolderLevels[] = { IDS_DATA_FOLDER_COMPANY, IDS_DATA_FOLDER_PRODUCT, IDS_DATA_FOLDER_PROGRAM,
                               IDS_LOG_FOLDER_NAME };
const int kFolderDepth = 4;
const DWORD kHexLevel = 5;
const DWORD kErrorLevel = 2;
// No log file is older than this many days (about 2700 years). A retention beyond it keeps
// every file, and the day arithmetic below stays within an int.
const DWORD kLongestRetentionDays = 1000000;
// A cleanup pass lists one folder and deletes files: a few kilobytes of stack.
const SIZE_T kCleanupStackReserve = 256 * 1024;

struct FileCloser
{
    void operator()(FILE* file) const { fclose(file); }
};
using CStdioFileEx = std::unique_ptr<FILE, FileCloser>;

struct EventSourceTraits
{
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type source) { DeregisterEventSource(source); }
};
using CEventSourceEx = CUniqueAnyEx<EventSourceTraits>;

__int64 NowSeconds()
{
    return static_cast<__int64>(time(nullptr));
}

// The user's temporary folder without its trailing backslash; empty when it cannot be read.
CStringEx TempFolder()
{
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH)
        return CStringEx();
    CStringEx folder(buffer, static_cast<int>(length));
    while (folder.GetLength() > 3 && folder.GetAt(folder.GetLength() - 1) == L'\\')
        folder = folder.Left(folder.GetLength() - 1);
    return folder;
}

bool IsAtOrBelow(const CStringEx& path, const CStringEx& folder)
{
    const int length = folder.GetLength();
    if (length == 0 || path.GetLength() < length || _wcsnicmp(path, folder, static_cast<size_t>(length)) != 0)
        return false;
    return path.GetLength() == length || path.GetAt(length) == L'\\';
}

// The day's file name without folder, for the local day of `day`.
CStringEx MakeDayFileName(const CStringEx& prefix, DWORD sessionNumber, const SYSTEMTIME& day)
{
    CStringEx name;
    if (sessionNumber != 0)
        name.Format(L"%s%04d%02d%02dS%02d.log", prefix.GetString(), day.wYear, day.wMonth, day.wDay,
                    static_cast<int>(sessionNumber));
    else
        name.Format(L"%s%04d%02d%02d.log", prefix.GetString(), day.wYear, day.wMonth, day.wDay);
    return name;
}

// Exclusive hold of a slim lock for the length of a scope.
class SrwHold
{
public:
    explicit SrwHold(SRWLOCK& lock) noexcept : m_lock(lock) { AcquireSRWLockExclusive(&m_lock); }
    ~SrwHold() { ReleaseSRWLockExclusive(&m_lock); }
    SrwHold(const SrwHold&) = delete;
    SrwHold& operator=(const SrwHold&) = delete;

private:
    SRWLOCK& m_lock;
};

// Whether a file name is one of the logger's own day files: the prefix, an eight-digit date,
// an optional session part ("S" and digits) and ".log". Another program's files may start
// with the same prefix ("KelvoAgentConfig..." next to "KelvoAgent...") and are not ours.
bool IsOwnDayFileName(const CStringEx& prefix, LPCWSTR name)
{
    const size_t prefixLength = static_cast<size_t>(prefix.GetLength());
    if (_wcsnicmp(name, prefix.GetString(), prefixLength) != 0)
        return false;
    const wchar_t* rest = name + prefixLength;
    for (int i = 0; i < 8; ++i, ++rest)
        if (!iswdigit(*rest))
            return false;
    if (*rest == L'S' || *rest == L's')
    {
        ++rest;
        if (!iswdigit(*rest))
            return false;
        while (iswdigit(*rest))
            ++rest;
    }
    return _wcsicmp(rest, L".log") == 0;
}

// The text as the runtime can write it in the locale's narrow code page: a character that
// page lacks would make the runtime stop writing there, losing the rest of the line and its
// line break, so it becomes '?'.
std::wstring Writable(const CStringEx& text)
{
    std::wstring writable = text.Str();
    char bytes[MB_LEN_MAX];
    for (wchar_t& c : writable)
    {
        if (c >= 0x80 && wctomb(bytes, c) <= 0)
            c = L'?';
    }
    return writable;
}

// msvcrt leaves the error of its CreateFileW in place; errno is the fall-back.
DWORD OpenError()
{
    const DWORD error = GetLastError();
    if (error != 0)
        return error;
    switch (errno)
    {
    case EACCES: return ERROR_ACCESS_DENIED;
    case ENOENT: return ERROR_PATH_NOT_FOUND;
    default: return ERROR_OPEN_FAILED;
    }
}
}

// One cleanup pass, with its own copies of what it needs so that it takes no lock.
class CUtilLogging::CCleanupPass : public CObjectEx
{
public:
    CStringEx m_folder;
    CStringEx m_prefix;
    DWORD m_sessionNumber = 0;
    DWORD m_retentionDays = 0;
    CEventEx m_stopEvent;

    static DWORD WINAPI ThreadProc(LPVOID context)
    {
        _CObjectExPtr<CCleanupPass> pass;
        pass.Attach(static_cast<CCleanupPass*>(context));
        pass->Run();
        return 0;
    }

private:
    void Run() const
    {
        // Files created before midnight at the start of the UTC day `retention` days ago go.
        // A retention too long to count back (a negative number from a settings file turns
        // into such a one) must never wrap around into deleting everything.
        if (m_retentionDays > kLongestRetentionDays)
            return;
        const time_t now = time(nullptr);
        const tm* utc = gmtime(&now);
        if (utc == nullptr)
            return;
        tm cutoff = *utc;
        cutoff.tm_mday -= static_cast<int>(m_retentionDays);
        cutoff.tm_hour = 12; // noon: normalising never crosses a day boundary
        cutoff.tm_min = cutoff.tm_sec = 0;
        cutoff.tm_isdst = -1;
        if (mktime(&cutoff) == static_cast<time_t>(-1))
            return;

        SYSTEMTIME today;
        GetLocalTime(&today);
        const CStringEx todaysFile = MakeDayFileName(m_prefix, m_sessionNumber, today);

        CStringEx pattern;
        pattern.Format(L"%s\\%s*.log", m_folder.GetString(), m_prefix.GetString());
        WIN32_FIND_DATAW entry;
        CFindHandleEx find(FindFirstFileW(pattern, &entry));
        if (!find)
            return;
        do
        {
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsOwnDayFileName(m_prefix, entry.cFileName) &&
                todaysFile.CompareNoCase(entry.cFileName) != 0)
                DeleteIfOlder(entry.cFileName, cutoff);
            if (m_stopEvent.IsSet())
                return;
        } while (FindNextFileW(find.Get(), &entry));
    }

    void DeleteIfOlder(LPCWSTR name, const tm& cutoff) const
    {
        CStringEx path;
        path.Format(L"%s\\%s", m_folder.GetString(), name);
        FILETIME created;
        {
            // A file that cannot be opened (still being written elsewhere, or no rights) stays.
            CFileHandleEx file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!file || !GetFileTime(file.Get(), &created, nullptr, nullptr))
                return;
        }
        SYSTEMTIME date;
        if (!FileTimeToSystemTime(&created, &date))
            return;
        const int year = date.wYear, cutoffYear = cutoff.tm_year + 1900;
        const int month = date.wMonth, cutoffMonth = cutoff.tm_mon + 1;
        const bool before = year < cutoffYear || (year == cutoffYear && (month < cutoffMonth
                            || (month == cutoffMonth && date.wDay < cutoff.tm_mday)));
        if (before)
            DeleteFileW(path);
    }
};

CUtilLogging& CUtilLogging::Instance()
{
    static CUtilLogging logging;
    return logging;
}

CUtilLogging::CUtilLogging()
{
    m_lock.Create(nullptr);
    CStringEx folder;
    CResourceLoader::GetModulePath(folder, m_eventSource, FALSE);
}

CUtilLogging::~CUtilLogging()
{
    if (m_cleanupThread.IsRunning())
        m_stopEvent.Set();
}

HRESULT CUtilLogging::Initialize(DWORD level, DWORD retentionDays, LPCWSTR prefix, REFKNOWNFOLDERID knownFolder)
{
    try
    {
        if (level != 0 && (prefix == nullptr || *prefix == L'\0'))
            return E_INVALIDARG;
        CMutexAcquire lock(m_lock);
        if (!lock.IsAcquired())
            return HRESULT_FROM_WIN32(ERROR_TIMEOUT);

        if (level == 0)
        {
            m_level = 0;
            StopCleanupLocked();
            return S_OK;
        }

        CTaskMemEx knownPath;
        if (FAILED(SHGetKnownFolderPath(knownFolder, 0, nullptr, reinterpret_cast<PWSTR*>(knownPath.Put()))))
            return E_FAIL;
        // Once the log has moved below the temporary folder it stays there: a new start (new
        // settings) in the folder that refused it would lose every later line.
        CStringEx root(static_cast<LPCWSTR>(knownPath.Get()));
        if (m_switched != 0)
        {
            root = TempFolder();
            if (root.IsEmpty())
                return E_FAIL;
        }
        CStringEx folder;
        const DWORD error = BuildFolder(root, folder);
        if (error != 0)
            return HRESULT_FROM_WIN32(error);

        m_level = level;
        m_retentionDays = retentionDays;
        m_prefix = prefix;
        m_folder = folder;

        // A folder that exists but takes no files moves the log once, like one that may not
        // be created.
        CStringEx probe;
        probe.Format(L"%s\\%s.tmp", m_folder.GetString(), m_prefix.GetString());
        DWORD probeError = DeniedError(probe, false);
        if (probeError == 0)
        {
            CFileHandleEx file(CreateFileW(probe, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY,
                                           nullptr));
            probeError = file ? 0 : GetLastError();
        }
        if (probeError == 0)
            DeleteFileW(probe);
        else if (m_switched == 0)
            EnsureLevel(m_folder, kFolderDepth);

        if (m_retentionDays != 0 && !m_cleanupThread.IsRunning())
            StartCleanupLocked();
        return S_OK;
    }
    catch (...)
    {
        return E_FAIL;
    }
}

DWORD CUtilLogging::GetLevel()
{
    CMutexAcquire lock(m_lock);
    return lock.IsAcquired() ? m_level.load() : 0;
}

DWORD CUtilLogging::Log(DWORD level, LPCWSTR format, ...)
{
    va_list args;
    va_start(args, format);
    const DWORD result = LogV(level, format, args);
    va_end(args);
    return result;
}

DWORD CUtilLogging::LogV(DWORD level, LPCWSTR format, va_list args)
{
    try
    {
        // Skipped lines cost neither the lock nor the formatting.
        if (!HasLevel(m_level, level))
            return 0;
        CStringEx message;
        message.FormatV(format, args);
        // A handed-off line is only posted: the caller never waits for the thread that writes.
        if (const DWORD target = m_handOffThread)
            return HandOff(target, message);
        CMutexAcquire lock(m_lock);
        if (!lock.IsAcquired())
            return ERROR_TIMEOUT;
        return LogLocked(level, message);
    }
    catch (...)
    {
        return static_cast<DWORD>(E_FAIL);
    }
}

DWORD CUtilLogging::LogLocked(DWORD level, const CStringEx& message)
{
    if (!HasLevel(m_level, level))
        return 0;
    return WriteLocked(BuildTimePrefix(), message);
}

DWORD CUtilLogging::HandOff(DWORD target, const CStringEx& message)
{
    // The target thread writes the line and frees both strings; a failed post frees them here.
    CBstrEx prefixText(BuildTimePrefix()), messageText(message);
    if (prefixText.Get() == nullptr || messageText.Get() == nullptr)
        return ERROR_OUTOFMEMORY;
    if (!PostThreadMessageW(target, kHandOffMessage, reinterpret_cast<WPARAM>(prefixText.Get()),
                            reinterpret_cast<LPARAM>(messageText.Get())))
        return GetLastError();
    prefixText.Detach();
    messageText.Detach();
    return 0;
}

DWORD CUtilLogging::LogRes(DWORD level, UINT stringId, ...)
{
    try
    {
        if (stringId == 0)
            return 0;
        CStringEx format;
        if (!CResourceLoader::Instance().TryLoadString(stringId, format))
        {
            CStringEx failure;
            failure.Format(L"String (%d) failed to load.", static_cast<int>(stringId));
            Log(kErrorLevel, L"%s\n", failure.GetString());
            return Log(level, L"%s\n", failure.GetString());
        }
        // A text of the resource file may also serve a message box and so lack a line break;
        // in the log it is always one line of its own.
        if (format.IsEmpty() || format.GetString()[format.GetLength() - 1] != L'\n')
            format += L'\n';
        va_list args;
        va_start(args, stringId);
        const DWORD result = LogV(level, format, args);
        va_end(args);
        return result;
    }
    catch (...)
    {
        return static_cast<DWORD>(E_FAIL);
    }
}

DWORD CUtilLogging::LogHex(LPCWSTR label, const BYTE* bytes, DWORD count)
{
    if (bytes == nullptr || count == 0)
        return ERROR_INVALID_PARAMETER;
    if (m_level < kHexLevel)
        return 0;
    try
    {
        CStringEx text;
        text.Format(count > 10 ? L"%s:\n" : L"%s: ", label ? label : L"");
        for (DWORD i = 0; i < count; ++i)
        {
            text.AppendFormat(L" 0x%02x", bytes[i]);
            if ((i + 1) % 10 == 0)
                text += L'\n';
        }
        if (count % 10 != 0)
            text += L'\n';
        return Log(kHexLevel, L"%s", text.GetString());
    }
    catch (...)
    {
        return static_cast<DWORD>(E_FAIL);
    }
}

void CUtilLogging::SetHandOffThread(DWORD threadId)
{
    m_handOffThread = threadId;
}

DWORD CUtilLogging::WriteLine(LPCWSTR prefix, LPCWSTR text)
{
    try
    {
        CMutexAcquire lock(m_lock);
        if (!lock.IsAcquired())
            return ERROR_TIMEOUT;
        return WriteLocked(prefix, text);
    }
    catch (...)
    {
        return static_cast<DWORD>(E_FAIL);
    }
}

DWORD CUtilLogging::WriteLocked(const CStringEx& prefix, const CStringEx& text)
{
    // A long-running program cleans up again once a day.
    if (m_retentionDays != 0 && NowSeconds() - m_lastCleanupStart > kSecondsPerDay && !m_cleanupThread.IsRunning())
        StartCleanupLocked();
    if (m_folder.IsEmpty())
        return ERROR_INVALID_STATE;

    DWORD error = AppendToFile(DayFileName(true, m_folder), prefix, text);
    if (error == ERROR_ACCESS_DENIED && m_switched == 0)
    {
        // Once per process the log moves below the temporary folder and stays there.
        m_switched = 1;
        CStringEx folder;
        const CStringEx temp = TempFolder();
        if (temp.IsEmpty())
            return error;
        const DWORD buildError = BuildFolder(temp, folder);
        if (buildError != 0)
            return buildError;
        m_folder = folder;
        error = AppendToFile(DayFileName(true, m_folder), prefix, text);
    }
    return error;
}

DWORD CUtilLogging::AppendToFile(const CStringEx& path, const CStringEx& prefix, const CStringEx& text)
{
    const DWORD denied = DeniedError(path, false);
    if (denied != 0)
        return denied;
    // Text mode: the runtime converts to the locale's narrow code page and writes CR LF.
    SetLastError(0);
    errno = 0;
    CStdioFileEx file(_wfopen(path, L"at"));
    if (!file)
        return OpenError();
    // Both pieces are written as they are, never used as format texts.
    if (fputws(Writable(prefix).c_str(), file.get()) == WEOF || fputws(Writable(text).c_str(), file.get()) == WEOF)
        return ERROR_WRITE_FAULT;
    return fclose(file.release()) == 0 ? 0 : ERROR_WRITE_FAULT;
}

CStringEx CUtilLogging::BuildTimePrefix()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t date[100], clock[100];
    CStringEx prefix;
    if (GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &now, nullptr, date, 100)
        && GetTimeFormatW(LOCALE_USER_DEFAULT, TIME_NOTIMEMARKER | TIME_FORCE24HOURFORMAT, &now, nullptr, clock, 100))
    {
        prefix.Format(L"%s %s.%03d ", date, clock, now.wMilliseconds);
        return prefix;
    }
    // The fall-back format is loaded quietly: reporting its absence would log, and so come here again.
    CStringEx format;
    if (!CResourceLoader::Instance().TryLoadString(IDS_LOG_FALLBACK_TIMESTAMP, format))
        format = L"%02d/%02d/%04d %02d:%02d:%02d.%03d ";
    prefix.Format(format, now.wMonth, now.wDay, now.wYear, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    return prefix;
}

CStringEx CUtilLogging::DayFileName(bool withFolder, const CStringEx& folder) const
{
    SYSTEMTIME today;
    GetLocalTime(&today);
    const CStringEx name = MakeDayFileName(m_prefix, m_sessionNumber, today);
    if (!withFolder)
        return name;
    CStringEx path;
    path.Format(L"%s\\%s", folder.GetString(), name.GetString());
    return path;
}

DWORD CUtilLogging::BuildFolder(const CStringEx& root, CStringEx& folder)
{
    folder = root;
    DWORD error = EnsureLevel(folder, 0);
    for (int depth = 1; error == 0 && depth <= kFolderDepth; ++depth)
    {
        CStringEx name;
        if (!CResourceLoader::Instance().TryLoadString(kFolderLevels[depth - 1], name) || name.IsEmpty())
            return ERROR_INVALID_PARAMETER;
        folder += L"\\";
        folder += name;
        error = EnsureLevel(folder, depth);
    }
    return error;
}

DWORD CUtilLogging::EnsureLevel(CStringEx& path, int depth)
{
    if (path.IsEmpty())
        return ERROR_INVALID_PARAMETER;
    DWORD error = DeniedError(path, true);
    if (error == 0)
        error = CreateDirectoryW(path, nullptr) ? 0 : GetLastError();
    if (error == 0 || error == ERROR_ALREADY_EXISTS)
        return 0;
    if (error == ERROR_ACCESS_DENIED && m_switched == 0)
        return SwitchToTemp(depth, path);
    return error;
}

DWORD CUtilLogging::SwitchToTemp(int depth, CStringEx& path)
{
    // The last `depth` levels of the path are the log's own; they move below the temp folder.
    std::vector<CStringEx> levels;
    CStringEx rest = path;
    for (int i = 0; i < depth; ++i)
    {
        const int slash = rest.ReverseFind(L'\\');
        if (slash < 0)
            return ERROR_ACCESS_DENIED;
        levels.insert(levels.begin(), rest.Mid(slash + 1));
        rest = rest.Left(slash);
    }
    CStringEx moved = TempFolder();
    if (moved.IsEmpty())
        return ERROR_ACCESS_DENIED;
    m_switched = 1;
    for (const CStringEx& level : levels)
    {
        moved += L"\\";
        moved += level;
        const DWORD error = EnsureLevel(moved, 0);
        if (error != 0)
            return error;
    }
    path = moved;
    return 0;
}

void CUtilLogging::StartCleanupLocked()
{
    if (!m_stopEvent.IsValid())
        m_stopEvent.Create();
    else
        m_stopEvent.Reset();
    m_lastCleanupStart = NowSeconds();

    _CObjectExPtr<CCleanupPass> pass = MakeObjectEx<CCleanupPass>();
    pass->m_folder = m_folder;
    pass->m_prefix = m_prefix;
    pass->m_sessionNumber = m_sessionNumber;
    pass->m_retentionDays = m_retentionDays;
    pass->m_stopEvent = m_stopEvent;
    // The thread takes over the pass's reference; when it cannot start, the reference is dropped here.
    PostObjectWith(std::move(pass), [this](LPARAM context) {
        return m_cleanupThread.Create(&CCleanupPass::ThreadProc, reinterpret_cast<LPVOID>(context), 0,
                                      kCleanupStackReserve) != 0;
    });
}

void CUtilLogging::StopCleanupLocked()
{
    // The pass sees the event between two files and ends by itself; nobody waits for it.
    if (m_cleanupThread.IsRunning())
        m_stopEvent.Set();
    m_cleanupThread.Close();
    m_stopEvent.Close();
}

DWORD CUtilLogging::ReportEvent(WORD type, LPCWSTR format, ...)
{
    try
    {
        CStringEx text;
        va_list args;
        va_start(args, format);
        text.FormatV(format, args);
        va_end(args);
        return ReportEventText(type, text);
    }
    catch (...)
    {
        return static_cast<DWORD>(E_FAIL);
    }
}

DWORD CUtilLogging::ReportEventRes(WORD type, UINT stringId, ...)
{
    try
    {
        CStringEx format, text;
        if (!CResourceLoader::Instance().LoadString(stringId, format))
            text = format;
        else
        {
            va_list args;
            va_start(args, stringId);
            text.FormatV(format, args);
            va_end(args);
        }
        return ReportEventText(type, text);
    }
    catch (...)
    {
        return static_cast<DWORD>(E_FAIL);
    }
}

DWORD CUtilLogging::ReportEventText(WORD type, const CStringEx& text)
{
    OutputDebugStringW(text);
    // The event log is where a program reports what it cannot log, a writer lock that never
    // comes free among it: the source name has a lock of its own.
    CStringEx sourceName;
    {
        const SrwHold hold(m_eventSourceLock);
        sourceName = m_eventSource;
    }
    // The source is registered for this one event only.
    CEventSourceEx source(RegisterEventSourceW(nullptr, sourceName));
    if (!source)
        return GetLastError();
    LPCWSTR strings[] = { text.GetString() };
    if (!::ReportEventW(source.Get(), type, 0, kEventId, nullptr, 1, 0, strings, nullptr))
        return GetLastError();
    return 0;
}

void CUtilLogging::SetSessionNumber(DWORD sessionNumber)
{
    CMutexAcquire lock(m_lock);
    m_sessionNumber = sessionNumber;
}

void CUtilLogging::SetEventSourceName(LPCWSTR name)
{
    if (name == nullptr || *name == L'\0')
        return;
    const SrwHold hold(m_eventSourceLock);
    m_eventSource = name;
}

void CUtilLogging::SetRetentionDays(DWORD retentionDays)
{
    CMutexAcquire lock(m_lock);
    if (!lock.IsAcquired())
        return;
    m_retentionDays = retentionDays;
    if (retentionDays == 0)
        StopCleanupLocked();
    else if (m_level != 0 && !m_cleanupThread.IsRunning())
        StartCleanupLocked();
}

CStringEx CUtilLogging::GetFolder()
{
    CMutexAcquire lock(m_lock);
    return lock.IsAcquired() ? m_folder : CStringEx();
}

CStringEx CUtilLogging::GetFilePath()
{
    CMutexAcquire lock(m_lock);
    return lock.IsAcquired() && !m_folder.IsEmpty() ? DayFileName(true, m_folder) : CStringEx();
}

bool CUtilLogging::WaitForCleanup(DWORD timeoutMs)
{
    CThreadEx thread;
    {
        CMutexAcquire lock(m_lock);
        if (!lock.IsAcquired())
            return false;
        thread = m_cleanupThread;
    }
    return !thread.IsValid() || thread.Wait(timeoutMs) == WAIT_OBJECT_0;
}

void CUtilLogging::SetDeniedFolder(LPCWSTR folder)
{
    CMutexAcquire lock(m_lock);
    m_deniedFolder = folder ? folder : L"";
    while (m_deniedFolder.GetLength() > 3 && m_deniedFolder.GetAt(m_deniedFolder.GetLength() - 1) == L'\\')
        m_deniedFolder = m_deniedFolder.Left(m_deniedFolder.GetLength() - 1);
}

DWORD CUtilLogging::DeniedError(const CStringEx& path, bool creatingFolder) const
{
    if (!IsAtOrBelow(path, m_deniedFolder))
        return 0;
    // An existing folder answers "already exists" even where nothing may be added to it.
    if (creatingFolder && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES)
        return 0;
    return ERROR_ACCESS_DENIED;
}
