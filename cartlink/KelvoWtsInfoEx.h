#pragma once
#include <windows.h>
#include <wtsapi32.h>

// The terminal services' extended record of one session (WTSQuerySessionInformationW with
// class 25, level 1), which the toolchain's headers lack. Laid out as the system gives it.
constexpr WTS_INFO_CLASS KELVO_WTS_SESSION_INFO_EX = static_cast<WTS_INFO_CLASS>(25);
constexpr LONG KELVO_WTS_SESSIONSTATE_LOCK = 0;
constexpr LONG KELVO_WTS_SESSIONSTATE_UNLOCK = 1;

struct KelvoWtsInfoExLevel1
{
    ULONG sessionId;
    WTS_CONNECTSTATE_CLASS sessionState;
    LONG sessionFlags;
    WCHAR winStationName[33];
    WCHAR userName[21];
    WCHAR domainName[18];
    LARGE_INTEGER logonTime;
    LARGE_INTEGER connectTime;
    LARGE_INTEGER disconnectTime;
    LARGE_INTEGER lastInputTime;
    LARGE_INTEGER currentTime;
    DWORD incomingBytes;
    DWORD outgoingBytes;
    DWORD incomingFrames;
    DWORD outgoingFrames;
    DWORD incomingCompressedBytes;
    DWORD outgoingCompressedBytes;
};

struct KelvoWtsInfoEx
{
    DWORD level;
    union
    {
        KelvoWtsInfoExLevel1 level1;
    } data;
};
