#pragma once
#include "agent/CKelvoSignOnClient.h"
#include "agent/KelvoAgentMessages.h"
#include "cartlink/CCartUSBCommThread.h"
#include "cartlink/CEndpointSession.h"
#include "cartlink/CVirtualChannelImpl.h"
#include "common/CConfiguration.h"
#include "common/CObjectExPtr.h"
#include "common/ui/CNotifyIconEx.h"
#include "common/ui/CUiHandlesEx.h"
#include "common/ui/CUtilDialogEx.h"

// Commands of the notification-area menu (and of the window itself).
enum : UINT
{
    IDM_AGENT_EXIT = 10,            // end the agent
    IDM_AGENT_START_AUTH = 11,      // start an authentication now
    IDM_AGENT_END_ACCESS = 12,      // end drawer access on the cart
    IDM_AGENT_RECONNECT = 17,       // find and connect the cart again
};

// The agent's only window, never shown: it receives the session, device, timer, icon and
// inter-process messages, owns the notification-area icon with its menu, holds the agent's
// state and settings, and owns the worker thread. This class holds everything that needs
// no cart; CKelvoAgentDlg adds the cart.
//
// The bodies of the authorization handlers live in CCartAgentDlgAuth.cpp, those of the
// session handling in CKelvoAgentDlgPresence.cpp; this file's source has the window, the
// icon, the menu, the settings and the exit.
class CCartAgentDlg : public CUtilDialogEx<CDialogEx>
{
    KELVO_DECLARE_MESSAGE_MAP()
public:
    CCartAgentDlg();
    ~CCartAgentDlg() override;

    // Reads the settings of the configuration file; logging follows the configured level.
    virtual void LoadSettings();
    // Shows the cart as connected or not: icon, tooltip and state fields.
    virtual void SetConnected(bool connected);
    // Ends drawer access on the cart, with or without message boxes, through the worker
    // thread or directly.
    virtual void EndAccess(bool showMessages, bool throughThread) = 0;
    // Finds and connects the cart again; FALSE when that failed.
    virtual BOOL Reconnect() = 0;
    virtual bool IsCartReady();
    virtual bool IsCartFault();
    // One mouse message of the notification icon; true when the menu is to be shown.
    virtual bool OnNotifyIcon(UINT mouseMessage);
    // Hands an object to the worker thread (wParam = this window); false when no worker
    // takes it, and then the object has been released.
    virtual bool PostToAgentThread(UINT message, _CObjectExPtr<CObjectEx> object);

    // From the command line: do not start an authentication on its own after the first connect.
    void SetSkipNextAuthStart(bool skip) { m_signOn.m_bSkipNextAuthStart = skip; }
    // Asks the worker thread to poll the cart every 500 ms, or to stop polling.
    void StartPolling();
    void StopPolling();

    // Settings as read by LoadSettings.
    struct Settings
    {
        bool showExitItem = false;              // 444
        bool endAccessOnLockAndExit = true;     // 450
        bool retryAuthStart = true;             // 453
        int promptTimeoutSeconds = 15;          // 449, 1 to 99
        CStringEx startAuthItemText;            // 516 (517 when empty)
        CStringEx endAccessItemText;            // 451 (452 when empty)
        int logLevel = 0;                       // 542
        int logRetentionDays = 30;              // 541
    };
    const Settings& GetSettings() const { return m_settings; }
    bool IsConnected() const { return m_bCartConnected; }

    // Builds the notification menu for the current state: null when no menu is due.
    CMenuEx BuildNotifyMenu();

protected:
    BOOL OnInitDialog() override;

    // Reads the settings from a loaded configuration; a derived window reads its own after
    // the base ones.
    virtual void ReadSettings(CConfiguration& config);
    // Writes every value of the configuration to the log at level 5.
    void LogConfiguration(CConfiguration& config);
    // Shows a box with the application title that closes itself after the time-out.
    int ShowMessage(UINT stringId, UINT style, DWORD timeoutMs);
    // Shows the three state fields of the template as "%d".
    void RefreshStateFields();
    // Lets the three messages of other processes through the privilege filter.
    void AllowMessagesFromOtherProcesses();
    // Opens the Citrix channel to the endpoint and pings it (remote sessions only).
    void OpenChannelAndPing();
    // Stops and releases the worker thread; a running authentication ends with code 2.
    void StopWorkerAndEndSignOn();
    void ShowNotifyMenu();
    // The cart's icon and tooltip for the state on this taskbar.
    static bool IsTaskbarDark();
    void ExitAgent();

    // Message handlers of the table.
    LRESULT OnPaint(WPARAM, LPARAM, BOOL& handled);
    LRESULT OnQueryDragIcon(WPARAM, LPARAM, BOOL&);
    LRESULT OnClose(WPARAM, LPARAM, BOOL&);
    LRESULT OnWindowPosChanging(WPARAM, LPARAM lParam, BOOL& handled);
    LRESULT OnTimer(WPARAM id, LPARAM, BOOL&);
    LRESULT OnExitCommand(WPARAM, LPARAM, BOOL&);
    LRESULT OnIgnoredCommand(WPARAM, LPARAM, BOOL&);
    LRESULT OnStartAuthCommand(WPARAM, LPARAM, BOOL&);
    LRESULT OnEndAccessCommand(WPARAM, LPARAM, BOOL&);
    LRESULT OnReconnectCommand(WPARAM, LPARAM, BOOL&);
    LRESULT OnQueryEndSession(WPARAM, LPARAM, BOOL&);
    LRESULT OnEndSession(WPARAM ending, LPARAM, BOOL&);
    LRESULT OnTaskbarCreated(WPARAM, LPARAM, BOOL&);
    LRESULT OnAgentClose(WPARAM, LPARAM, BOOL&);
    LRESULT OnNotifyIconMessage(WPARAM, LPARAM mouseMessage, BOOL&);
    LRESULT OnReloadSettings(WPARAM, LPARAM, BOOL&);
    LRESULT OnDestroy(WPARAM, LPARAM, BOOL& handled);

    // Authorization (CCartAgentDlgAuth.cpp).
    LRESULT OnAuthStarted(WPARAM, LPARAM, BOOL&);
    LRESULT OnAuthResult(WPARAM result, LPARAM, BOOL&);
    LRESULT OnAuthorize(WPARAM, LPARAM, BOOL&);
    LRESULT OnAuthDone(WPARAM code, LPARAM, BOOL&);

    // Session and cart presence (CKelvoAgentDlgPresence.cpp).
    LRESULT OnSessionChange(WPARAM event, LPARAM sessionId, BOOL&);
    LRESULT OnRemoteSession(WPARAM started, LPARAM, BOOL&);
    // Timer 14: starts an authentication of the sign-on product.
    void OnAuthStartTimer();
    // Timer 15 after the connect attempt: watches for the logon screen.
    void OnLogonScreenTimer();
    // Arms timer 14 after a button press or for an automatic start.
    void ArmAuthStart();
    // True when the logon screen is up and no disconnected session holds a user.
    virtual bool IsLogonScreenShown();

    // --- Authorization runs (agent-auth) ---
    // Ends the current run with an end code: posts WM_AGENT_AUTH_DONE.
    void EndRun(DWORD code);
    // True while sign-in number `signIn` is still the current one and the session is present:
    // a run that waited in a message box goes on only then.
    bool IsSameSignIn(ULONG signIn) const;
    // Reads who signed in and how, then posts WM_AGENT_AUTHORIZE; throws on failure.
    void IdentifyUser();
    // Drops a pending automatic start: timers 14 and 15, the skip, watch and pending flags
    // and the retries.
    void ClearAutoStart();
    ULONG m_nSignIn = 0;    // counts the sign-ins of this agent
    // --- end agent-auth ---

    // Session state.
    bool m_bCartConnected = false;
    bool m_bSessionAway = false;
    bool m_bWatchLogonScreen = false;
    bool m_bCitrixSessionActive = false;
    bool m_bIsRemote = false;
    bool m_bEnding = false;
    bool m_bExited = false;         // the exit ran; the window only waits for its loop to end
    // The sign-on product and the user's session state (authenticating, signed in, user,
    // domain, method flags, start bookkeeping, prompt time-out).
    CKelvoSignOnClient m_signOn;

    Settings m_settings;
    CIconEx m_appIcon;              // icon 101, big
    CIconEx m_appIconSmall;         // icon 101, small
    CIconEx m_notifyIconHandle;     // the icon the notification area shows
    CNotifyIconEx m_notifyIcon;
    CStringEx m_strStartAuthText;   // menu texts
    CStringEx m_strEndAccessText;
    _CObjectExPtr<CCartUSBCommThread> m_spThread;   // holds a CKelvoAgentThread
    _CObjectExPtr<CEndpointSession> m_spSession;
    CObjectExQIPtr<CVirtualChannelImpl> m_spChannel;
    bool m_sessionNotificationRegistered = false;
    DWORD m_logRetentionInUse = 0;  // the retention the log was last started or set with
};
