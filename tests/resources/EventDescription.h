#pragma once
#include <windows.h>
#include <string>
#include <vector>

// What Event Viewer shows as an event's description: the event's message, looked up by its
// full event ID in the message files its source names in the registry, with the event's
// insertion strings put in.
class CEventDescription
{
public:
    // The Application log's registration of one event source.
    static constexpr wchar_t kSourcesKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";

    // The description from one message file (loaded as data, as Event Viewer loads it).
    // Empty, with the Windows error in error, when the file or the message is missing.
    static std::wstring FromMessageFile(LPCWSTR path, DWORD eventId, const std::vector<std::wstring>& strings,
                                        DWORD& error);

    // The description from the message files that the source's EventMessageFile value names
    // (environment variables expanded, several files separated by ";"; the first that holds
    // the message wins). Empty, with the Windows error in error, when none does.
    static std::wstring FromRegisteredSource(LPCWSTR source, DWORD eventId, const std::vector<std::wstring>& strings,
                                             DWORD& error);
};
