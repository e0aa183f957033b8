// wtsapi32.dll stand-in: the terminal services as a workstation with one local session shows
// them, where Wine answers no sessions and no lock state. The process's own session is the
// only one, active, and it reads as locked while the logonui.exe stand-in runs in it (see
// WtsSimLogonScreen.h). Session notifications are accepted and never sent, as under Wine:
// the tests post them.
#include "WtsSimLogonScreen.h"
#include "cartlink/KelvoWtsInfoEx.h"
#include <cstring>

namespace
{
DWORD OwnSession()
{
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return session;
}

bool IsLogonScreenShown(DWORD session)
{
    wchar_t name[64];
    WtsSimLogonScreenName(session, name);
    HANDLE shown = OpenEventW(SYNCHRONIZE, FALSE, name);
    if (shown == nullptr)
        return false;
    CloseHandle(shown);
    return true;
}

void* Allocate(size_t bytes)
{
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
}

void UserName(wchar_t* name, DWORD chars)
{
    if (GetEnvironmentVariableW(L"USERNAME", name, chars) >= chars)
        name[0] = L'\0';
}

BOOL Answer(void* data, DWORD bytes, LPWSTR* buffer, DWORD* returned)
{
    if (data == nullptr)
    {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    *buffer = static_cast<LPWSTR>(data);
    *returned = bytes;
    return TRUE;
}
}

extern "C" BOOL WINAPI WTSRegisterSessionNotification(HWND, DWORD)
{
    return TRUE;
}

extern "C" BOOL WINAPI WTSUnRegisterSessionNotification(HWND)
{
    return TRUE;
}

extern "C" void WINAPI WTSFreeMemory(PVOID memory)
{
    if (memory != nullptr)
        HeapFree(GetProcessHeap(), 0, memory);
}

extern "C" BOOL WINAPI WTSEnumerateSessionsW(HANDLE, DWORD reserved, DWORD version, PWTS_SESSION_INFOW* sessions,
                                             DWORD* count)
{
    if (reserved != 0 || version != 1 || sessions == nullptr || count == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // One record and its station name in one block, freed with WTSFreeMemory.
    static const wchar_t kStation[] = L"Console";
    auto* record = static_cast<WTS_SESSION_INFOW*>(Allocate(sizeof(WTS_SESSION_INFOW) + sizeof(kStation)));
    if (record == nullptr)
    {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    auto* station = reinterpret_cast<wchar_t*>(record + 1);
    memcpy(station, kStation, sizeof(kStation));
    *record = {OwnSession(), station, WTSActive};
    *sessions = record;
    *count = 1;
    return TRUE;
}

extern "C" BOOL WINAPI WTSQuerySessionInformationW(HANDLE, DWORD sessionId, WTS_INFO_CLASS infoClass, LPWSTR* buffer,
                                                   DWORD* returned)
{
    if (buffer == nullptr || returned == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *buffer = nullptr;
    *returned = 0;
    const DWORD own = OwnSession();
    if (sessionId != WTS_CURRENT_SESSION && sessionId != own)
    {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    if (infoClass == WTSUserName)
    {
        auto* name = static_cast<wchar_t*>(Allocate(257 * sizeof(wchar_t)));
        if (name != nullptr)
            UserName(name, 257);
        return Answer(name, name ? static_cast<DWORD>((wcslen(name) + 1) * sizeof(wchar_t)) : 0, buffer, returned);
    }
    if (infoClass == KELVO_WTS_SESSION_INFO_EX)
    {
        auto* record = static_cast<KelvoWtsInfoEx*>(Allocate(sizeof(KelvoWtsInfoEx)));
        if (record != nullptr)
        {
            record->level = 1;
            record->data.level1.sessionId = own;
            record->data.level1.sessionState = WTSActive;
            record->data.level1.sessionFlags =
                IsLogonScreenShown(own) ? KELVO_WTS_SESSIONSTATE_LOCK : KELVO_WTS_SESSIONSTATE_UNLOCK;
            wcscpy(record->data.level1.winStationName, L"Console");
            UserName(record->data.level1.userName, ARRAYSIZE(record->data.level1.userName));
        }
        return Answer(record, sizeof(KelvoWtsInfoEx), buffer, returned);
    }
    // Wine answers no other class either.
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}
