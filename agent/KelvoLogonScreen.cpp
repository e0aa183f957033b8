#include "agent/KelvoLogonScreen.h"
#include "cartlink/CWtsMemoryEx.h"
#include "cartlink/KelvoWtsInfoEx.h"
#include <winternl.h>
#include <algorithm>
#include <cwctype>
#include <new>

namespace
{
constexpr std::wstring_view kLogonProgram = L"logonui.exe";
constexpr NTSTATUS kStatusInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);
constexpr ULONG kFirstListBytes = 128 * 1024;
constexpr ULONG kMostListBytes = 16 * 1024 * 1024;

struct DesktopTraits
{
    using Type = HDESK;
    static Type Invalid() { return nullptr; }
    static void Close(Type desktop) { CloseDesktop(desktop); }
};

bool SameImage(std::wstring_view image, std::wstring_view wanted)
{
    if (image.size() != wanted.size())
        return false;
    for (size_t i = 0; i < image.size(); ++i)
    {
        if (std::towlower(image[i]) != std::towlower(wanted[i]))
            return false;
    }
    return true;
}

// The facts of this machine for one session.
class CMachineFacts : public KelvoLogonScreen::IFacts
{
public:
    explicit CMachineFacts(DWORD session) : m_session(session) {}

    KelvoLogonScreen::LockState OwnLockState() override
    {
        CWtsMemoryEx<WCHAR> info;
        DWORD bytes = 0;
        if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, m_session, KELVO_WTS_SESSION_INFO_EX, info.Put(),
                                         &bytes) ||
            !info || bytes < sizeof(KelvoWtsInfoEx))
            return KelvoLogonScreen::LockState::Unknown;
        const auto* record = reinterpret_cast<const KelvoWtsInfoEx*>(info.Get());
        if (record->level != 1)
            return KelvoLogonScreen::LockState::Unknown;
        switch (record->data.level1.sessionFlags)
        {
        case KELVO_WTS_SESSIONSTATE_LOCK:
            return KelvoLogonScreen::LockState::Locked;
        case KELVO_WTS_SESSIONSTATE_UNLOCK:
            return KelvoLogonScreen::LockState::Unlocked;
        default:
            return KelvoLogonScreen::LockState::Unknown;
        }
    }

    bool InputDesktopOpens() override
    {
        const CUniqueAnyEx<DesktopTraits> desktop(OpenInputDesktop(0, FALSE, DESKTOP_SWITCHDESKTOP));
        return desktop.IsValid();
    }

    std::vector<KelvoLogonScreen::Process> ListProcesses() override
    {
        std::vector<KelvoLogonScreen::Process> processes;
        if (!ReadProcessList())
            return processes;
        // Only this session's processes matter; the images point into the list.
        for (size_t at = 0;;)
        {
            const auto* entry = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(m_list.data() + at);
            if (entry->SessionId == m_session)
                processes.push_back({entry->SessionId, entry->ImageName.Buffer
                                                           ? std::wstring_view(entry->ImageName.Buffer,
                                                                               entry->ImageName.Length / sizeof(WCHAR))
                                                           : std::wstring_view()});
            if (entry->NextEntryOffset == 0 || at + entry->NextEntryOffset + sizeof(*entry) > m_list.size())
                break;
            at += entry->NextEntryOffset;
        }
        return processes;
    }

    std::vector<KelvoLogonScreen::Session> ListSessions() override
    {
        std::vector<KelvoLogonScreen::Session> sessions;
        CWtsMemoryEx<WTS_SESSION_INFOW> info;
        DWORD count = 0;
        if (!WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, info.Put(), &count) || !info)
            return sessions;
        for (DWORD i = 0; i < count; ++i)
        {
            const WTS_SESSION_INFOW& item = info.Get()[i];
            KelvoLogonScreen::Session session{item.SessionId, item.State == WTSDisconnected, false};
            if (session.disconnected)
            {
                CWtsMemoryEx<WCHAR> user;
                DWORD bytes = 0;
                if (WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session.id, WTSUserName, user.Put(), &bytes))
                    session.hasUser = user && *user.Get() != L'\0';
            }
            sessions.push_back(session);
        }
        return sessions;
    }

private:
    // The system's process list (no account look-ups, no handles to the processes).
    bool ReadProcessList()
    {
        ULONG size = kFirstListBytes;
        for (;;)
        {
            m_list.assign(size, 0);
            ULONG needed = 0;
            const NTSTATUS status = NtQuerySystemInformation(SystemProcessInformation, m_list.data(), size, &needed);
            if (status >= 0)
                return needed >= sizeof(SYSTEM_PROCESS_INFORMATION);
            if (status != kStatusInfoLengthMismatch || size >= kMostListBytes)
                return false;
            // Room for the processes that start meanwhile.
            size = std::max(size * 2, needed + 16 * 1024);
        }
    }

    DWORD m_session;
    std::vector<BYTE> m_list;
};
}

namespace KelvoLogonScreen
{
bool Decide(IFacts& facts, DWORD ownSession)
{
    // A session the system calls locked is looked at at once. Otherwise an input desktop
    // this session may open is not the logon screen's: that decides nearly every tick. The
    // lock state alone does not rule the logon screen out, since Windows 7 and Server 2008 R2
    // swap its two flags.
    if (facts.OwnLockState() != LockState::Locked && facts.InputDesktopOpens())
        return false;

    bool logonProgram = false;
    for (const Process& process : facts.ListProcesses())
        logonProgram = logonProgram || (process.sessionId == ownSession && SameImage(process.image, kLogonProgram));
    if (!logonProgram)
        return false;
    for (const Session& session : facts.ListSessions())
    {
        if (session.disconnected && session.hasUser)
            return false;
    }
    return true;
}

bool Check()
{
    DWORD ownSession = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &ownSession))
        return false;
    try
    {
        CMachineFacts facts(ownSession);
        return Decide(facts, ownSession);
    }
    catch (const std::bad_alloc&)
    {
        // No room for the lists: the logon screen goes unseen this tick, and the next asks again.
        return false;
    }
}
}
