#pragma once
#include "common/CHandleEx.h"
#include "common/CStringEx.h"
#include <shlobj.h>
#include <atomic>
#include <cstdarg>

// The process-wide diagnostic log: one file per program and local day below a known folder.
// Levels: 1 start and stop, 2 errors, 4 events, 5 details and hex dumps; 0 is off.
class CUtilLogging
{
public:
    // The thread message a hand-off target receives: wParam and lParam are BSTRs with the
    // line's time prefix and its text; the receiver writes them with WriteLine and frees both.
    static constexpr UINT kHandOffMessage = WM_USER + 10;
    // Event ID of every event-log entry the programs write.
    static constexpr DWORD kEventId = 1000;

    static CUtilLogging& Instance();

    // Programs log through Instance(); a separate logger is for tools and tests.
    CUtilLogging();
    ~CUtilLogging();
    CUtilLogging(const CUtilLogging&) = delete;
    CUtilLogging& operator=(const CUtilLogging&) = delete;

    // A non-zero level (re)starts logging in the known folder; 0 stops it.
    HRESULT Initialize(DWORD level, DWORD retentionDays, LPCWSTR prefix, REFKNOWNFOLDERID knownFolder);
    DWORD GetLevel();
    // Whether a line of this level would be written, asked without the writer lock: for a
    // caller that only wants to skip work (a hot path that dumps at level 5), where a level
    // changing meanwhile costs one line at most.
    bool IsLevelOn(DWORD level) const { return HasLevel(m_level, level); }
    // 0 when written or skipped, otherwise a Windows error code (1460 when the writer lock timed out).
    DWORD Log(DWORD level, LPCWSTR format, ...);
    DWORD LogV(DWORD level, LPCWSTR format, va_list args);
    DWORD LogRes(DWORD level, UINT stringId, ...);
    DWORD LogHex(LPCWSTR label, const BYTE* bytes, DWORD count);
    void SetHandOffThread(DWORD threadId);
    DWORD WriteLine(LPCWSTR prefix, LPCWSTR text);
    DWORD ReportEvent(WORD type, LPCWSTR format, ...);
    DWORD ReportEventRes(WORD type, UINT stringId, ...);

    // Non-zero session numbers become part of the file names ("...S01.log").
    void SetSessionNumber(DWORD sessionNumber);
    // The event-log source name; the program's file name without extension until set.
    void SetEventSourceName(LPCWSTR name);
    // Changes the retention alone, starting or stopping the cleanup thread to match.
    void SetRetentionDays(DWORD retentionDays);
    // The current log folder (full path, no trailing backslash) and today's file in it.
    CStringEx GetFolder();
    CStringEx GetFilePath();
    // True once the log moved to the temporary folder; never reset while the logger lives.
    bool HasSwitchedToTemp() const { return m_switched.load() != 0; }
    // The writer lock, for code that must keep the log still for a moment.
    const CMutexEx& GetWriterLock() const { return m_lock; }
    // Waits until the current cleanup pass (if any) has ended; false on time-out.
    bool WaitForCleanup(DWORD timeoutMs);

    // Run-time seam: folders at or below this path answer ERROR_ACCESS_DENIED when a
    // missing level is created in them or a file is created or opened for writing, as a
    // folder whose permissions refuse this account does. Tests run as an account that
    // permissions do not stop. Null or empty switches it off.
    void SetDeniedFolder(LPCWSTR folder);

private:
    class CCleanupPass;

    DWORD LogLocked(DWORD level, const CStringEx& message);
    DWORD HandOff(DWORD target, const CStringEx& message);
    DWORD ReportEventText(WORD type, const CStringEx& text);
    DWORD WriteLocked(const CStringEx& prefix, const CStringEx& text);
    DWORD AppendToFile(const CStringEx& path, const CStringEx& prefix, const CStringEx& text);
    CStringEx BuildTimePrefix();
    CStringEx DayFileName(bool withFolder, const CStringEx& folder) const;
    DWORD BuildFolder(const CStringEx& root, CStringEx& folder);
    DWORD EnsureLevel(CStringEx& path, int depth);
    DWORD SwitchToTemp(int depth, CStringEx& path);
    void StartCleanupLocked();
    void StopCleanupLocked();
    DWORD DeniedError(const CStringEx& path, bool creatingFolder) const;
    static bool HasLevel(DWORD configured, DWORD level) { return configured != 0 && level <= configured; }

    CMutexEx m_lock;
    CStringEx m_prefix;
    DWORD m_sessionNumber = 0;
    std::atomic<DWORD> m_level{ 0 };
    DWORD m_retentionDays = 0;
    CEventEx m_stopEvent;
    CThreadEx m_cleanupThread;
    CStringEx m_folder;
    std::atomic<DWORD> m_switched{ 0 };
    __int64 m_lastCleanupStart = 0;

    std::atomic<DWORD> m_handOffThread{ 0 };
    SRWLOCK m_eventSourceLock = SRWLOCK_INIT;  // guards the event source name alone
    CStringEx m_eventSource;
    CStringEx m_deniedFolder;
};
