#pragma once
// The world of the random tester: the real agent with the cart simulator and the sign-on
// and directory stand-ins (one CAgentRoad), played event by event. Every event is a real
// action: a session change posted as Windows posts it, the cart unplugged and Windows'
// device broadcast sent, a command typed at the cart simulator, the sign-on stand-in's file
// rewritten, a box answered by its button, the configuration saved and the agent told as
// the editor tells it, the stop switch and a new agent. Each is stamped on the time line
// with the world it leaves behind.
//
// After a sequence the world is made normal again by more such events (cart back and
// answering, session unlocked, a user of the group at the product, the standard
// configuration), and two checks follow: the agent comes back to polling with no prompt and
// no box open within the prompt time-out and a margin, and then a press of the button starts
// a new prompt within 1 s of the poll that read it and ends in a grant. The next sequence
// begins while that run winds down.
#include "tests/agentauth/AgentRoad.h"
#include "tests/random/CTimeline.h"
#include "tests/soak/CProcessFigures.h"
#include "sim/driver/CFileTail.h"
#include <map>
#include <memory>
#include <string>

class CRandomWorld
{
public:
    static constexpr int kPromptTimeoutSeconds = 2;

    CRandomWorld();
    ~CRandomWorld();

    // Starts the cart and the agent in the standard world; FALSE with the reason in `why`.
    bool Start(std::string& why);
    void Stop();

    // Plays one event; the time line gets it.
    void Perform(const RandomEvent& event);
    // Makes the world normal and waits for the agent to be idle; FALSE with the reason when
    // it did not come back.
    bool Normalise(std::string& why);
    // A press starts a new prompt within 1 s of the poll that read it, and it ends in a grant.
    bool CheckPress(std::string& why);
    // After a failed check: a new agent, so that the next sequence starts clean.
    bool Recover(std::string& why);

    // Aimed events by their stage: how many were played, and how many found the stage reached.
    struct AimCount
    {
        int played = 0;
        int reached = 0;
    };
    const std::map<AimStage, AimCount>& AimCounts() const { return m_aims; }

    KelvoProcessFigures Measure() const;
    // The agent's log lines written since the last call.
    std::string TakeAgentLog();
    DWORD GetAgentProcessId() const { return m_state.agentProcessId; }
    CTimeline& Timeline() { return m_timeline; }
    static std::wstring Computer() { return CAgentRoad::ComputerName(); }

private:
    // What the agent is doing, from the journal and the cart's output read so far.
    void Observe();
    // No prompt, no box, the cart shown connected and answering polls seen after `since`.
    bool IsIdle(ULONGLONG since);
    // Waits until the agent has been idle for a while, answering boxes meanwhile.
    bool WaitForIdle(DWORD boundMs);
    bool AnswerAnyBox();
    void ConfigureSignOn(const RandomEvent& event);
    // A press, the stage of its sign-in set up and awaited, then the aimed event.
    void PerformAimed(const RandomEvent& event);
    bool Reload(const RandomEvent& event);
    // Events after which the agent reads its configuration file.
    static bool ReadsConfiguration(RandomEventKind kind);
    AgentRoadOptions Options() const;
    static RandomEvent Standard(RandomEventKind kind);

    CAgentRoad m_road;
    CTimeline m_timeline;
    RandomWorldState m_state;
    std::unique_ptr<CFileTail> m_journal;
    size_t m_cartSeen = 0;
    bool m_promptOpen = false;
    size_t m_prompts = 0;
    ULONGLONG m_lastPoll = 0;
    ULONGLONG m_configRead = 0;
    std::map<AimStage, AimCount> m_aims;
};
