#pragma once
#include "agent/CKelvoSignInRun.h"
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
    void SetSkipNextAuthStart(bool skip) { m_bSkipNextAuthStart = skip; }
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
    // Stops and releases the worker thread, and ends the sign-in run for the reason.
    void StopWorkerAndEndRun(KelvoRunEnd reason);
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

    // Authorization (CCartAgentDlgAuth.cpp). Each message carries the number of its
    // sign-in run in lParam.
    LRESULT OnAuthStarted(WPARAM, LPARAM run, BOOL&);
    LRESULT OnAuthResult(WPARAM result, LPARAM run, BOOL&);
    LRESULT OnAuthorize(WPARAM, LPARAM run, BOOL&);

    // Session and cart presence (CKelvoAgentDlgPresence.cpp).
    LRESULT OnSessionChange(WPARAM event, LPARAM sessionId, BOOL&);
    LRESULT OnRemoteSession(WPARAM started, LPARAM, BOOL&);
    // Timer 14: starts an authentication of the sign-on product.
    void OnAuthStartTimer();
    // Timer 15 after the connect attempt: watches for the logon screen.
    void OnLogonScreenTimer();
    // Timer 16: the product never reported on the prompt of the current run.
    void OnPromptAnswerTimer();
    // Arms timer 14 after a button press (`pressed`) or for an automatic start.
    void ArmAuthStart(bool pressed);
    // True when the logon screen is up and no disconnected session holds a user.
    virtual bool IsLogonScreenShown();

    // --- Sign-in runs (CCartAgentDlgAuth.cpp) ---
    // The one start of a run: the product's prompt for a new run number. S_OK when the
    // prompt is up or a run is active already; otherwise the product's failure.
    HRESULT BeginRun(BOOL showMessages);
    // Whether a sign-in may start: the cart connected, the session here and not ending, and
    // no Citrix session holding the cart.
    bool MaySignInHere() const;
    // Stops the polling and tells the cart that the prompt of run `run` opened.
    void AnnouncePrompt(ULONG run);
    // Drops an armed or retried start (timer 14); every event that ends a run does.
    void CancelPendingStart();
    // The one end of a run, for the reason, which is logged: the cart hears that an open
    // prompt is over, the product's side ends, and the cart is polled again. Nothing
    // happens when no run is active.
    void EndRun(KelvoRunEnd reason);
    // Logs and drops a message of a run that is no longer current or not at the stage
    // that expects it.
    void DropStale(UINT message, ULONG run);
    // Tells the cart that the prompt of run `run` opened (0x80) or is over (0x01); the
    // base has no cart.
    virtual void SendPromptStatus(ULONG run, BYTE status);
    // Reads who signed in and how, then posts WM_AGENT_AUTHORIZE; throws on failure.
    void IdentifyUser(ULONG run);
    // Drops a pending automatic start: timers 14 and 15, the skip, watch and pending flags
    // and the retries.
    void ClearAutoStart();

    // The current sign-in run, or the last one.
    CKelvoSignInRun m_run;
    // Start bookkeeping of the session logic, cleared by every start of a run.
    bool m_bSkipNextAuthStart = false;   // the switch that skips the first automatic start
    bool m_bAutoStartPending = true;     // the next cart status may start a sign-in by itself
    int m_nAuthRetries = 0;              // automatic starts left
    // --- end sign-in runs ---

    // Session state.
    bool m_bCartConnected = false;
    bool m_bSessionAway = false;
    bool m_bWatchLogonScreen = false;
    bool m_bCitrixSessionActive = false;
    bool m_bIsRemote = false;
    bool m_bEnding = false;
    bool m_bExited = false;         // the exit ran; the window only waits for its loop to end
    // The sign-on product.
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
