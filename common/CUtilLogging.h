#pragma once
#include "common/CHandleEx.h"
#include "common/CStringEx.h"
#include <shlobj.h>

// The process-wide diagnostic log: one file per program and local day below a known folder.
// Levels: 1 start and stop, 2 errors, 4 events, 5 details and hex dumps; 0 is off.
class CUtilLogging
{
public:
    static CUtilLogging& Instance();

    // A non-zero level (re)starts logging in the known folder; 0 stops it.
    HRESULT Initialize(DWORD level, DWORD retentionDays, LPCWSTR prefix, REFKNOWNFOLDERID knownFolder);
    DWORD GetLevel();
    // 0 when written or skipped, otherwise a Windows error code (1460 when the writer lock timed out).
    DWORD Log(DWORD level, LPCWSTR format, ...);
    DWORD LogRes(DWORD level, UINT stringId, ...);
    DWORD LogHex(LPCWSTR label, const BYTE* bytes, DWORD count);
    void SetHandOffThread(DWORD threadId);
    DWORD WriteLine(LPCWSTR prefix, LPCWSTR text);
    DWORD ReportEvent(WORD type, LPCWSTR format, ...);
    DWORD ReportEventRes(WORD type, UINT stringId, ...);
};
