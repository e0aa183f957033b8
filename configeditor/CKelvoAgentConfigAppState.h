#pragma once
#include "common/CStringEx.h"
#include <windows.h>

// What the configuration editor knows about its own process: the program's folder and
// name, its caption, who runs it and whether that account administers this computer
// (decided once), and whether the picker library has been started. One per process.
class CKelvoAgentConfigAppState
{
public:
    static CKelvoAgentConfigAppState& Instance();

    // The program's folder (no trailing backslash) and file name without extension.
    const CStringEx& GetFolder();
    const CStringEx& GetOwnName();
    // The first part of the editor's log file names. The editor logs into the agent's log
    // folder, and the agent's cleanup takes every file there that begins with the agent's
    // name, so the editor's names must not begin with it (as "KelvoAgentConfig" would).
    static LPCWSTR GetLogPrefix() noexcept { return L"KelvoConfigEditor"; }
    // The caption of the editor's window and message boxes (loaded on first use).
    const CStringEx& GetCaption();

    // Whether the account running the editor is an administrator of this computer. Decided
    // on the first call and kept: only a domain account of this computer's own domain that
    // belongs to the local administrators group is one. A domain whose directory cannot be
    // searched shows a message over owner (once) and counts as no.
    bool IsAdministrator(HWND owner = nullptr);
    // The account's name without domain and the DNS name of its domain, both empty unless
    // the account is a domain account of this computer's domain (filled by the test above).
    const CStringEx& GetUserName();
    const CStringEx& GetDomainName();

    // The log retention the editor last gave the logger (30 days until then).
    DWORD GetLogRetention() const noexcept { return m_logRetention; }
    void SetLogRetention(DWORD days) noexcept { m_logRetention = days; }

    bool IsConfigSecStarted() const noexcept { return m_configSecStarted; }
    void SetConfigSecStarted(bool started) noexcept { m_configSecStarted = started; }

    // Message boxes with the editor's caption, owned by owner.
    int ShowMessage(HWND owner, LPCWSTR text, UINT style = MB_OK | MB_ICONWARNING);
    int ShowMessageRes(HWND owner, UINT id, UINT style = MB_OK | MB_ICONWARNING);
    int ShowMessageFormat(HWND owner, UINT id, UINT style, ...);

    // Run-time seam: answers the account name in the DOMAIN\user form in place of
    // GetUserNameExW(NameSamCompatible), for tests that play a domain account on a computer
    // whose only accounts are local. Setting it forgets the decided administrator test.
    using AccountNameHook = BOOL (*)(CStringEx& samName);
    static void SetAccountNameHook(AccountNameHook hook);

private:
    CKelvoAgentConfigAppState() = default;
    void ReadModulePath();
    void DecideAdministrator(HWND owner);
    static void ReadDomainNames(CStringEx& dnsDomain, CStringEx& netbiosDomain);

    CStringEx m_folder;
    CStringEx m_ownName;
    bool m_pathRead = false;
    CStringEx m_caption;
    bool m_captionLoaded = false;
    bool m_adminDecided = false;
    bool m_admin = false;
    CStringEx m_userName;
    CStringEx m_domainName;
    bool m_configSecStarted = false;
    DWORD m_logRetention = 30;
};
