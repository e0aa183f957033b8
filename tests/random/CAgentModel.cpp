#include "tests/random/CAgentModel.h"
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace
{
// A request queued before an event may reach the cart this long after it, plus twice the
// time the cart takes to answer the exchanges ahead of it.
constexpr ULONGLONG kGraceMs = 400;
// An event has reached the agent this long after the tester made it.
constexpr ULONGLONG kDeliveryMs = 300;
// Lines of two sources seen this close together may be in either order.
constexpr ULONGLONG kJitterMs = 30;
// A report this close to when a prompt was due may be that prompt's.
constexpr ULONGLONG kDueToleranceMs = 400;
constexpr int kSilentCartMs = 3000;
// Windows' "the session goes on" this long after its question can be told from the answer.
constexpr ULONGLONG kEndingAnsweredMs = 400;

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

bool SameText(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && _strnicmp(a.c_str(), b.c_str(), a.size()) == 0;
}

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

std::string Seconds(ULONGLONG ms)
{
    char text[32];
    snprintf(text, sizeof(text), "%.3f s", static_cast<double>(ms) / 1000.0);
    return text;
}

ULONGLONG Distance(ULONGLONG a, ULONGLONG b)
{
    return a > b ? a - b : b - a;
}
}

CAgentModel::CAgentModel(const std::wstring& computer) : m_computer(Narrow(computer))
{
}

int CAgentModel::ModeOf(const std::wstring& methods)
{
    unsigned flags = 0;
    size_t start = 0;
    while (start < methods.size())
    {
        size_t comma = methods.find(L',', start);
        if (comma == std::wstring::npos)
            comma = methods.size();
        const std::wstring item = methods.substr(start, comma - start);
        if (!item.empty())
            flags |= static_cast<unsigned>(wcstol(item.c_str(), nullptr, 10)) & 0xFFu;
        start = comma + 1;
    }
    return (flags & 1u) ? 2 : (flags & 2u) ? 1 : 0;
}

std::string CAgentModel::UserOf(const std::wstring& principal) const
{
    const std::string text = Narrow(principal);
    return text.substr(0, text.find('@'));
}

std::string CAgentModel::DomainOf(const std::wstring& principal) const
{
    const std::string text = Narrow(principal);
    const size_t at = text.find('@');
    return at == std::string::npos ? std::string() : text.substr(at + 1);
}

bool CAgentModel::Authorized(const RandomWorldState& world) const
{
    const std::string user = UserOf(world.principal);
    if (user.empty())
        return false;
    if (world.preAuthorized)
        return true;
    // The directory: this computer's accounts; kiosk is an administrator, nurse is in
    // "Cart Users"; no other domain can be searched.
    if (!SameText(DomainOf(world.principal), m_computer))
        return false;
    if (user == "kiosk")
        return true;
    std::string groups = Narrow(world.groups);
    std::transform(groups.begin(), groups.end(), groups.begin(), [](char c) { return static_cast<char>(tolower(c)); });
    return user == "nurse" && groups.find("cart users") != std::string::npos;
}

void CAgentModel::Follow(const std::vector<TimelineEntry>& entries)
{
    for (const TimelineEntry& entry : entries)
    {
        Expire(entry.ms);
        switch (entry.source)
        {
        case TimelineEntry::Source::Tester: OnTester(entry); break;
        case TimelineEntry::Source::Journal: OnJournal(entry); break;
        case TimelineEntry::Source::Cart: OnCart(entry); break;
        }
    }
}

std::vector<std::string> CAgentModel::TakeWrongGrants()
{
    std::vector<std::string> taken;
    taken.swap(m_wrong);
    return taken;
}

void CAgentModel::Wrong(ULONGLONG ms, const std::string& what)
{
    m_wrong.push_back("at " + Seconds(ms) + ": " + what);
}

void CAgentModel::Require(ULONGLONG ms, int prompt, const std::string& what, ULONGLONG due)
{
    // The agent may first wait for a late cart: the exchanges ahead of it, and its own.
    int slowest = 0;
    for (const RandomWorldState& world : WorldsBetween(ms - std::min<ULONGLONG>(ms, 3500), ms))
        slowest = std::max(slowest, world.cartDelayMs < 0 ? kSilentCartMs : world.cartDelayMs);
    Obligation obligation;
    obligation.from = ms;
    obligation.due = due != 0 ? due : ms + 2000 + 4 * static_cast<ULONGLONG>(slowest);
    obligation.prompt = prompt;
    obligation.what = what;
    m_due.push_back(obligation);
}

void CAgentModel::Expire(ULONGLONG ms)
{
    for (Obligation& due : m_due)
    {
        if (due.met || due.due >= ms)
            continue;
        if (due.prompt >= 0)
        {
            const Prompt& prompt = m_prompts[static_cast<size_t>(due.prompt)];
            // Closed by the agent, not by its own report (a report closes the prompt too).
            due.met = (prompt.closed != 0 && prompt.closed <= due.due &&
                       (prompt.reported == 0 || prompt.closed + kJitterMs < prompt.reported)) ||
                      (prompt.reported != 0 && prompt.reported <= due.from + kDeliveryMs);
        }
        if (!due.met)
            Wrong(due.due, due.what + " was due by now and did not happen");
        due.met = true;
    }
    m_due.erase(std::remove_if(m_due.begin(), m_due.end(), [](const Obligation& due) { return due.met; }),
                m_due.end());
}

void CAgentModel::OnTester(const TimelineEntry& entry)
{
    const ULONGLONG ms = entry.ms;
    const RandomWorldState before = m_worlds.empty() ? RandomWorldState() : m_worlds.back().second;
    m_worlds.emplace_back(ms, entry.world);
    const bool away = !m_away.empty() && m_away.back().second == 0;
    const RandomEventKind kind = entry.event.kind;
    const std::string said = " after " + entry.event.Describe() + " at " + Seconds(ms);
    // Events that end every run: an open prompt is closed.
    const bool endsRuns = ((kind == RandomEventKind::Lock || kind == RandomEventKind::ConsoleDisconnect ||
                            kind == RandomEventKind::RemoteDisconnect) && !away) ||
                          (kind == RandomEventKind::CartRemoved && entry.took) ||
                          (kind == RandomEventKind::CitrixStarted && !before.citrix) ||
                          kind == RandomEventKind::EndingCancelled || kind == RandomEventKind::Restart;
    if (endsRuns && !m_prompts.empty() && m_prompts.back().closed == 0 && m_prompts.back().reported == 0)
    {
        // Windows asks to end the session and waits for the answer: the prompt is closed
        // before the agent answers, so before Windows says that the session goes on (when it
        // says so long enough after asking to tell the two apart).
        const ULONGLONG answered = kind == RandomEventKind::EndingCancelled &&
                                           entry.event.value >= static_cast<int>(kEndingAnsweredMs)
                                       ? ms + static_cast<ULONGLONG>(entry.event.value)
                                       : 0;
        Require(ms, static_cast<int>(m_prompts.size() - 1),
                "closing the prompt started at " + Seconds(m_prompts.back().started) + said, answered);
    }
    // Events that end access on a cart the agent shows connected, in a session that is here:
    // an away session showed the cart disconnected (a lock ended access; a remote session's
    // cart is not this agent's), also when the tester read the icon just before the agent did.
    if ((kind == RandomEventKind::Lock || kind == RandomEventKind::ConsoleDisconnect ||
         kind == RandomEventKind::EndingCancelled || kind == RandomEventKind::Restart) && !away)
    {
        if (entry.world.agentConnected && before.cartPresent && !before.citrix)
        {
            Require(ms, -1, "an end of access" + said);
            m_asks.push_back(ms);
        }
    }
    switch (kind)
    {
    case RandomEventKind::Lock:
    case RandomEventKind::ConsoleDisconnect:
    case RandomEventKind::RemoteDisconnect:
        if (!away)
            m_away.emplace_back(ms, 0);
        m_lastAwayOrExit = ms;
        EndRuns(ms, "the session went away (" + entry.event.Describe() + ")");
        break;
    case RandomEventKind::Unlock:
    case RandomEventKind::RemoteConnect:
        if (away)
            m_away.back().second = ms;
        break;
    case RandomEventKind::CartRemoved: EndRuns(ms, "the cart was unplugged"); break;
    case RandomEventKind::CartArrived: EndRuns(ms, "the cart arrived and its worker started again"); break;
    case RandomEventKind::Restart:
        m_lastAwayOrExit = ms;
        EndRuns(ms, "the agent was ended");
        break;
    case RandomEventKind::Answer:
        if (entry.took && entry.event.value == IDYES)
            m_yes.push_back(ms);
        break;
    default: break;
    }
}

void CAgentModel::OnJournal(const TimelineEntry& entry)
{
    const ULONGLONG ms = entry.ms;
    if (StartsWith(entry.text, "Auth 8"))
    {
        const std::vector<RandomWorldState> worlds = WorldsBetween(ms, ms);
        const RandomWorldState world = worlds.empty() ? RandomWorldState() : worlds.front();
        // No prompt where nobody can sign in.
        const std::vector<RandomWorldState> settled = WorldsBetween(ms - std::min(ms, kDeliveryMs), ms);
        const auto all = [&](bool (*test)(const RandomWorldState&)) {
            return !settled.empty() && std::all_of(settled.begin(), settled.end(), test);
        };
        if (IsAway(ms))
            Wrong(ms, "a prompt started while the session was away");
        else if (all([](const RandomWorldState& w) { return !w.cartPresent; }))
            Wrong(ms, "a prompt started while the cart was unplugged");
        else if (all([](const RandomWorldState& w) { return w.citrix; }))
            Wrong(ms, "a prompt started while a Citrix session had the cart");
        // The product read its settings when the prompt started: a change stamped just
        // before the start line may have come just after that read.
        const std::vector<RandomWorldState> atStart = WorldsBetween(ms - std::min(ms, kJitterMs), ms);
        Prompt prompt;
        prompt.started = ms;
        prompt.delayMs = world.delayMs;
        prompt.reports = false;
        for (const RandomWorldState& w : atStart)
        {
            if (w.callback && !prompt.reports)
                prompt.delayMs = w.delayMs;
            prompt.reports = prompt.reports || w.callback;
            prompt.reportAfterClose = prompt.reportAfterClose || w.reportAfterClose;
        }
        m_prompts.push_back(prompt);
        EndRuns(ms, "a new prompt started");
    }
    else if (StartsWith(entry.text, "Start failed") && !m_prompts.empty())
    {
        // A prompt that could not be started was never open.
        m_prompts.back().closed = m_prompts.back().started;
        m_prompts.back().reports = false;
    }
    else if (entry.text == "Auth 9" || entry.text == "Auth 11")
    {
        for (auto prompt = m_prompts.rbegin(); prompt != m_prompts.rend(); ++prompt)
        {
            if (prompt->closed == 0)
            {
                prompt->closed = ms;
                break;
            }
        }
    }
    else if (StartsWith(entry.text, "Callback 9 "))
        OnReport(ms, strtol(entry.text.c_str() + 11, nullptr, 10));
}

void CAgentModel::OnReport(ULONGLONG ms, long result)
{
    // A prompt that reported, whatever the result, is over.
    for (auto prompt = m_prompts.rbegin(); prompt != m_prompts.rend(); ++prompt)
    {
        if (prompt->started <= ms)
        {
            if (prompt->reported == 0)
                prompt->reported = ms;
            break;
        }
    }
    if (result != 0)
        return;
    Run run;
    run.reported = ms;
    // The prompt the report belongs to: the one that was due closest to it, among those
    // that report at all (a closed prompt only when its report outlives the close).
    const Prompt* due = nullptr;
    const Prompt* current = nullptr;
    for (const Prompt& prompt : m_prompts)
    {
        if (prompt.started > ms)
            continue;
        current = &prompt;
        const bool mayReport = prompt.reports && (prompt.closed == 0 || prompt.closed + kJitterMs >= ms ||
                                                  prompt.reportAfterClose);
        if (mayReport && (due == nullptr || Distance(ms, prompt.started + prompt.delayMs) <
                                                 Distance(ms, due->started + due->delayMs)))
            due = &prompt;
    }
    const bool currentOpen = current && (current->closed == 0 || current->closed + kJitterMs >= ms);
    const bool currentFits = current && current->reports &&
                             (due == current || Distance(ms, current->started + current->delayMs) < kDueToleranceMs);
    if (current == nullptr)
        run.unsound = "report came with no prompt started";
    else if (!currentOpen || !currentFits)
        run.unsound = "report came after its prompt was closed";
    else if (IsAway(ms))
        run.unsound = "report came while the session was away";
    m_runs.push_back(run);
}

void CAgentModel::OnCart(const TimelineEntry& entry)
{
    const std::string& line = entry.text;
    if (StartsWith(line, "drawer access granted to ") || StartsWith(line, "drawer access refused to "))
        OnDrawerAccess(entry.ms, line);
    else if (StartsWith(line, "cart bound to "))
    {
        std::string computer = line.substr(14);
        OnBind(entry.ms, computer.substr(0, computer.find(" (")));
    }
    else if (StartsWith(line, "user ") && line.find(" is not authorized") != std::string::npos)
        OnUnauthorized(entry.ms, line.substr(5, line.find(" is not authorized") - 5));
    else if (StartsWith(line, "drawer access ended"))
    {
        for (Obligation& due : m_due)
        {
            if (due.prompt < 0 && due.from <= entry.ms + kJitterMs)
                due.met = true;
        }
        // The end of access was asked at the lock or exit before it: behind a slow cart it
        // may reach the cart seconds later, after a sign-in that began when the session was
        // back. It ends the runs reported before that event.
        // The worker sends them in the order they were asked: the oldest ask not yet heard.
        ULONGLONG asked = m_lastAwayOrExit != 0 && m_lastAwayOrExit <= entry.ms ? m_lastAwayOrExit : entry.ms;
        if (!m_asks.empty() && m_asks.front() <= entry.ms)
        {
            asked = m_asks.front();
            m_asks.erase(m_asks.begin());
        }
        for (Run& run : m_runs)
        {
            if (run.accessEnded == 0 && run.reported + kJitterMs < asked)
                run.accessEnded = entry.ms;
        }
    }
}

void CAgentModel::OnDrawerAccess(ULONGLONG ms, const std::string& line)
{
    const bool granted = StartsWith(line, "drawer access granted to ");
    const std::string rest = line.substr(25);
    const size_t on = rest.find(" on ");
    const std::string user = rest.substr(0, on);
    std::string computer = on == std::string::npos ? std::string() : rest.substr(on + 4);
    computer = computer.substr(0, computer.find(" ("));
    const size_t modeAt = line.find("(mode ");
    const int mode = modeAt == std::string::npos ? -1 : atoi(line.c_str() + modeAt + 6);
    const std::string request = "AuthDrawerAccess for '" + user + "' on '" + computer + "'" +
                                (granted ? " (mode " + std::to_string(mode) + ")" : std::string());

    // Behind a late cart a request reaches it after newer sign-ins were reported: it may be
    // the answer of any earlier one still without its own, as the cart serves them in order.
    const Run* newest = RunAt(ms);
    const bool newestFits = newest && newest->requests == 0 && Identifies(*newest, ms, user, computer, mode);
    std::string why;
    for (auto older = m_runs.rbegin(); granted && !newestFits && older != m_runs.rend(); ++older)
    {
        if (&*older != newest && older->reported <= ms && older->requests == 0 && older->unsound.empty() &&
            !HasEnded(*older, ms, why) && Identifies(*older, ms, user, computer, mode))
        {
            ++older->requests;
            older->user = user;
            return;
        }
    }
    Run* run = nullptr;
    if (MaySend(ms, request, run))
    {
        if (run->requests > 0 && !(run->rebound && run->requests == 1))
            Wrong(ms, request + ": one more for a sign-in that had its answer");
        else if (!Identifies(*run, ms, user, computer, granted ? mode : -1))
            Wrong(ms, request + ", but the sign-in was " + Expected(*run, ms) + " on '" + m_computer + "'");
    }
    if (run == nullptr)
        return;
    ++run->requests;
    run->user = user;
    if (!granted && line.find("bound to another computer") != std::string::npos)
        run->refusedElsewhere = ms;
}

bool CAgentModel::Identifies(const Run& run, ULONGLONG ms, const std::string& user, const std::string& computer,
                             int mode) const
{
    if (user.empty() || !SameText(computer, m_computer))
        return false;
    for (const RandomWorldState& world : WorldsBetween(run.reported - std::min(run.reported, kJitterMs), ms))
    {
        if (UserOf(world.principal) == user && Authorized(world) && (mode < 0 || ModeOf(world.methods) == mode))
            return true;
    }
    return false;
}

std::string CAgentModel::Expected(const Run& run, ULONGLONG ms) const
{
    std::string expected;
    for (const RandomWorldState& world : WorldsBetween(run.reported - std::min(run.reported, kJitterMs), ms))
        expected += (expected.empty() ? "" : " or ") + Narrow(world.principal) + " mode " +
                    std::to_string(ModeOf(world.methods)) + (Authorized(world) ? "" : " (not authorized)");
    return expected;
}

void CAgentModel::OnBind(ULONGLONG ms, const std::string& computer)
{
    const std::string request = "BindComputerName '" + computer + "'";
    Run* run = nullptr;
    if (MaySend(ms, request, run))
    {
        const ULONGLONG refused = run->refusedElsewhere;
        if (refused == 0 || run->rebound)
            Wrong(ms, request + " without a refusal by a cart bound elsewhere before it");
        else if (std::none_of(m_yes.begin(), m_yes.end(),
                              [&](ULONGLONG yes) { return yes + kJitterMs >= refused && yes <= ms; }))
            Wrong(ms, request + " without a Yes after the cart's refusal");
        else if (run->user != "kiosk" || !SameText(computer, m_computer))
            Wrong(ms, request + " for '" + run->user + "', who may not rebind, or for another computer");
    }
    if (run != nullptr)
        run->rebound = true;
}

void CAgentModel::OnUnauthorized(ULONGLONG ms, const std::string& user)
{
    Run* run = nullptr;
    const std::string request = "UnauthorizedUser '" + user + "'";
    if (MaySend(ms, request, run))
    {
        const std::vector<RandomWorldState> worlds = WorldsBetween(run->reported - std::min(run->reported, kJitterMs), ms);
        if (std::none_of(worlds.begin(), worlds.end(),
                         [&](const RandomWorldState& w) { return UserOf(w.principal) == user && !Authorized(w); }))
            Wrong(ms, request + ", but the sign-in was " + Expected(*run, ms));
    }
    if (run != nullptr)
        ++run->requests;
}

bool CAgentModel::MaySend(ULONGLONG ms, const std::string& request, Run*& run)
{
    run = RunAt(ms);
    std::string why;
    if (run == nullptr)
        Wrong(ms, request + " with no sign-in reported before it");
    else if (!run->unsound.empty())
        Wrong(ms, request + " for a sign-in whose " + run->unsound);
    else if (HasEnded(*run, ms, why))
        Wrong(ms, request + " for a run that had ended: " + why);
    else
        return true;
    return false;
}

void CAgentModel::EndRuns(ULONGLONG ms, const std::string& why)
{
    for (Run& run : m_runs)
    {
        if (run.ended == 0 && run.reported <= ms)
        {
            run.ended = ms;
            run.endedBy = why + " at " + Seconds(ms);
        }
    }
}

bool CAgentModel::HasEnded(const Run& run, ULONGLONG ms, std::string& why) const
{
    if (run.ended != 0 && ms > run.ended + Grace(run.ended, ms))
    {
        why = run.endedBy;
        return true;
    }
    if (run.accessEnded != 0 && ms > run.accessEnded)
    {
        why = "the cart had been told to end access at " + Seconds(run.accessEnded);
        return true;
    }
    return false;
}

CAgentModel::Run* CAgentModel::RunAt(ULONGLONG ms)
{
    for (auto run = m_runs.rbegin(); run != m_runs.rend(); ++run)
    {
        if (run->reported <= ms + kJitterMs)
            return &*run;
    }
    return nullptr;
}

std::vector<RandomWorldState> CAgentModel::WorldsBetween(ULONGLONG from, ULONGLONG to) const
{
    std::vector<RandomWorldState> worlds;
    const RandomWorldState* inForce = m_worlds.empty() ? nullptr : &m_worlds.front().second;
    for (const auto& world : m_worlds)
    {
        if (world.first <= from)
            inForce = &world.second;
    }
    if (inForce)
        worlds.push_back(*inForce);
    for (const auto& world : m_worlds)
    {
        if (world.first > from && world.first <= to)
            worlds.push_back(world.second);
    }
    return worlds;
}

ULONGLONG CAgentModel::Grace(ULONGLONG from, ULONGLONG to) const
{
    int slowest = 0;
    for (const RandomWorldState& world : WorldsBetween(from - std::min<ULONGLONG>(from, 3500), to))
        slowest = std::max(slowest, world.cartDelayMs < 0 ? kSilentCartMs : world.cartDelayMs);
    return kGraceMs + 2 * static_cast<ULONGLONG>(slowest);
}

bool CAgentModel::IsAway(ULONGLONG ms) const
{
    return std::any_of(m_away.begin(), m_away.end(), [ms](const std::pair<ULONGLONG, ULONGLONG>& away) {
        return away.first + kDeliveryMs < ms && (away.second == 0 || ms < away.second);
    });
}
