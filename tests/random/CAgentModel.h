#pragma once
// The reference model of the random tester: what the cart may receive. Written apart from
// the agent, from what a sign-in is: the sign-on product reports success for a prompt that
// is still open; the user it names is identified and authorized under the configuration in
// force (pre-authorized, or an account of this computer that is an administrator or in a
// configured group that the directory knows); the session is not away and the cart stays
// present; then the cart receives one AuthDrawerAccess with that user, this computer and the
// mode of the sign-in's methods, and, only after it refused as bound to another computer and
// the user answered Yes, one BindComputerName with this computer and one more
// AuthDrawerAccess. A lock, a disconnect, an unplug, an arrival (which restarts the worker),
// a new prompt or a restart of the agent ends the run: nothing more is sent for it.
//
// The model follows the tester's time line in time order. Lines of different sources are
// stamped when the watcher saw them, a few milliseconds late, and the agent acts on an
// event a little after the tester made it: the model allows for that (and for requests that
// were queued behind a late cart before the event), so that it names only what cannot be
// right. Order within the cart's own transcript is exact: a request after the end access of
// a lock was sent after the lock.
//
// It also requires what must follow within bounds: a prompt open when the session goes away,
// the cart is unplugged, a Citrix session takes the cart, Windows asks to end the session or
// the agent ends is closed (unless the product reported first); the cart hears an end of
// access after a lock, a console disconnect, the end of the session or of the agent while the
// agent showed it connected; no prompt starts while the session is away, the cart is
// unplugged or a Citrix session has it; UnauthorizedUser names only the signed-in user that
// the configuration refuses.
#include "tests/random/CTimeline.h"
#include <string>
#include <vector>

class CAgentModel
{
public:
    explicit CAgentModel(const std::wstring& computer);

    void Follow(const std::vector<TimelineEntry>& entries);
    // What the cart received that it may not have, one line each, since the last call.
    std::vector<std::string> TakeWrongGrants();

    // The authentication mode the cart is told for a sign-in with these method values.
    static int ModeOf(const std::wstring& methods);
    // Whether the world's configuration and directory let the user of the principal open the drawers.
    bool Authorized(const RandomWorldState& world) const;

private:
    struct Prompt
    {
        ULONGLONG started = 0;
        ULONGLONG closed = 0;
        bool reports = true;
        bool reportAfterClose = false;
        int delayMs = 0;
        ULONGLONG reported = 0;
    };
    // Something that must happen by `due`: the prompt `prompt` closed, or (prompt < 0) the
    // cart told to end access.
    struct Obligation
    {
        ULONGLONG from = 0;
        ULONGLONG due = 0;
        int prompt = -1;
        bool met = false;
        std::string what;
    };
    struct Run
    {
        ULONGLONG reported = 0;
        std::string unsound;     // why its report cannot start a run; empty when it can
        ULONGLONG ended = 0;     // when an event ended it
        std::string endedBy;
        ULONGLONG accessEnded = 0;  // when the cart heard the end access that follows it
        int requests = 0;
        std::string user;
        ULONGLONG refusedElsewhere = 0;
        bool rebound = false;
    };

    void OnTester(const TimelineEntry& entry);
    void OnJournal(const TimelineEntry& entry);
    void OnCart(const TimelineEntry& entry);
    void OnReport(ULONGLONG ms, long result);
    void OnDrawerAccess(ULONGLONG ms, const std::string& line);
    void OnBind(ULONGLONG ms, const std::string& computer);
    void OnUnauthorized(ULONGLONG ms, const std::string& user);
    // Names what was due before `ms` and did not happen.
    void Expire(ULONGLONG ms);
    // By `due`, or (0) within the time the agent may take behind a late cart.
    void Require(ULONGLONG ms, int prompt, const std::string& what, ULONGLONG due = 0);

    // Whether a request of the run heard at `ms` names a user that a world in force since its
    // report identified and authorized, this computer, and (mode >= 0) that sign-in's mode.
    bool Identifies(const Run& run, ULONGLONG ms, const std::string& user, const std::string& computer, int mode) const;
    std::string Expected(const Run& run, ULONGLONG ms) const;
    void EndRuns(ULONGLONG ms, const std::string& why);
    // Finds the run of a request heard at `ms`; TRUE when that run may still send, else the
    // request is named as wrong.
    bool MaySend(ULONGLONG ms, const std::string& request, Run*& run);
    // Whether the run had ended when the cart heard its request at `ms`; why in `why`.
    bool HasEnded(const Run& run, ULONGLONG ms, std::string& why) const;
    // The run a request heard at `ms` belongs to: the last one reported before it.
    Run* RunAt(ULONGLONG ms);
    // The worlds in force at some time from `from` to `to`.
    std::vector<RandomWorldState> WorldsBetween(ULONGLONG from, ULONGLONG to) const;
    // How long after an event a request queued before it may still reach the cart.
    ULONGLONG Grace(ULONGLONG from, ULONGLONG to) const;
    bool IsAway(ULONGLONG ms) const;
    void Wrong(ULONGLONG ms, const std::string& what);
    std::string UserOf(const std::wstring& principal) const;
    std::string DomainOf(const std::wstring& principal) const;

    std::string m_computer;
    std::vector<std::pair<ULONGLONG, RandomWorldState>> m_worlds;
    std::vector<std::pair<ULONGLONG, ULONGLONG>> m_away;  // from, to (0: still away)
    std::vector<ULONGLONG> m_yes;                         // Yes pressed in a box
    ULONGLONG m_lastAwayOrExit = 0;                       // the last event that ends access
    std::vector<ULONGLONG> m_asks;                        // events whose end of access is not heard yet
    std::vector<Prompt> m_prompts;
    std::vector<Run> m_runs;
    std::vector<std::string> m_wrong;
    std::vector<Obligation> m_due;
};
