#pragma once
#include "common/CStringEx.h"

// Why a sign-in run ended. Each reason has a text for the log and an end code: 0 when the
// cart granted access, 2 when the user was told or the run was cut off by an event, and 1
// for a failure nobody was told of.
enum class KelvoRunEnd
{
    Granted,            // the cart granted drawer access
    NotSignedIn,        // the sign-on product reported that nobody signed in
    Failed,             // a step failed; the user was not told
    FailedShown,        // refused or failed, and the user was told in a box
    Declined,           // binding the cart here was not answered Yes
    PromptUnanswered,   // the product gave no result within the prompt's time-out
    SessionAway,        // the session was locked or disconnected
    CartDisconnected,   // the cart went away or could not be reached
    WorkerRestarted,    // the worker that carried the run's requests was replaced
    SessionEnding,      // Windows ends the session
    AgentExit,          // the agent ends
    RemoteSession,      // a Citrix session of this user has the cart
    CartGone,           // the worker found the cart gone and stopped
};

// One sign-in from the prompt to the cart's last answer: its number, where it stands, and
// who signed in. The agent window holds one record: it starts a run when the sign-on
// product's prompt is up and ends it in one place; nothing else changes the record's state.
// Every request and report of a run carries its number; a number that is not the current
// run's, or a run not at the stage that expects the report, marks the report as stale.
class CKelvoSignInRun
{
public:
    // In the order a run goes through them.
    enum class Stage
    {
        None,            // no run
        Starting,        // the product is asked to open its prompt; an event may end the
                         // run while the start waits, and a report is held until it returns
        Prompt,          // the product's prompt is open; its report is awaited
        Reported,        // the product reported; the prompt is closed
        Deciding,        // a user signed in and is being authorized
        AwaitingAccess,  // AuthDrawerAccess is with the worker
        Asking,          // the user is asked whether to bind the cart to this computer
        AwaitingBind,    // BindComputerName is with the worker
    };

    // The number the next run will carry; numbers only grow, so a late report of an
    // earlier run never matches a later one.
    ULONG NextNumber() const noexcept { return m_number + 1; }
    // Starts run `number` (NextNumber()) at its prompt's start, with nobody signed in.
    void Begin(ULONG number);
    // Ends the current run and forgets its user; its number stays, for stale reports.
    void End();

    bool IsActive() const noexcept { return m_stage != Stage::None; }
    // The current run's number, 0 when no run is active.
    ULONG GetNumber() const noexcept { return IsActive() ? m_number : 0; }
    Stage GetStage() const noexcept { return m_stage; }
    // True when `number` is the current run.
    bool IsCurrent(ULONG number) const noexcept { return IsActive() && number == m_number; }
    // True when `number` is the current run and it stands at `stage`.
    bool IsAt(ULONG number, Stage stage) const noexcept { return IsCurrent(number) && m_stage == stage; }
    // A user signed in: the run has got past the product's report with a success.
    bool IsSignedIn() const noexcept { return m_stage >= Stage::Deciding; }
    void MoveTo(Stage stage) noexcept { m_stage = stage; }
    // The cart heard that this run's prompt opened; it may hear "result in" only after that.
    bool IsAnnounced() const noexcept { return m_announced; }
    void SetAnnounced() noexcept { m_announced = true; }
    // A report that came while the prompt was still starting waits for the start's return.
    void HoldResult(LONG result) noexcept { m_held = true; m_heldResult = result; }
    bool TakeHeldResult(LONG& result) noexcept
    {
        result = m_heldResult;
        const bool held = m_held;
        m_held = false;
        return held;
    }

    // Who signed in and with which authentication-method flags.
    void SetUser(const CStringEx& name, const CStringEx& domain, BYTE flags);
    const CStringEx& GetUser() const noexcept { return m_userName; }
    const CStringEx& GetDomain() const noexcept { return m_userDomain; }
    BYTE GetAuthFlags() const noexcept { return m_authFlags; }

    // The end code of a reason (0, 1 or 2) and the string ID of its text.
    static DWORD EndCode(KelvoRunEnd reason) noexcept;
    static UINT ReasonTextId(KelvoRunEnd reason) noexcept;

private:
    ULONG m_number = 0;     // the current run's, or the last one's
    Stage m_stage = Stage::None;
    CStringEx m_userName;
    CStringEx m_userDomain;
    BYTE m_authFlags = 0;
    bool m_announced = false;
    bool m_held = false;
    LONG m_heldResult = 0;
};
