// Provisional implementation: replaced by the full logger (files, cleanup, hand-off).
#include "common/CUtilLogging.h"
#include "common/CResourceLoader.h"

CUtilLogging& CUtilLogging::Instance()
{
    static CUtilLogging logging;
    return logging;
}

HRESULT CUtilLogging::Initialize(DWORD, DWORD, LPCWSTR, REFKNOWNFOLDERID) { return S_OK; }
DWORD CUtilLogging::GetLevel() { return 0; }

DWORD CUtilLogging::Log(DWORD, LPCWSTR format, ...)
{
    CStringEx text;
    va_list args;
    va_start(args, format);
    text.FormatV(format, args);
    va_end(args);
    OutputDebugStringW(text);
    return 0;
}

DWORD CUtilLogging::LogRes(DWORD level, UINT stringId, ...)
{
    CStringEx format, text;
    CResourceLoader::Instance().LoadString(stringId, format);
    va_list args;
    va_start(args, stringId);
    text.FormatV(format, args);
    va_end(args);
    return Log(level, L"%s", text.GetString());
}

DWORD CUtilLogging::LogHex(LPCWSTR, const BYTE*, DWORD) { return 0; }
void CUtilLogging::SetHandOffThread(DWORD) {}
DWORD CUtilLogging::WriteLine(LPCWSTR, LPCWSTR) { return 0; }
DWORD CUtilLogging::ReportEvent(WORD, LPCWSTR, ...) { return 0; }
DWORD CUtilLogging::ReportEventRes(WORD, UINT, ...) { return 0; }
