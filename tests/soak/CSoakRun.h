#pragma once
// The soak: the real agent against the cart simulator for N press-to-grant cycles, with a
// lock and unlock after every 10th cycle and an unplug and replug of the cart after every
// 25th, every box answered. It reads the agent's figures (CProcessFigures) after cycle 10,
// after cycle N/2 and after cycle N, and ends with one line:
//   soak: N cycles, U unplugs, L locks; handles A -> B; private C MB -> D MB; threads E -> F; failures K
// (A, C, E after cycle 10; B, D, F after cycle N; K the cycles that did not end in a grant).
#include "tests/agentauth/AgentRoad.h"
#include "tests/soak/CProcessFigures.h"
#include "tests/soak/SoakCommands.h"

class CSoakRun
{
public:
    // The soak's goal: what may grow between cycle 10 and cycle N.
    static constexpr int kHandleMargin = 2;
    static constexpr double kPrivateMarginMb = 0.5;

    explicit CSoakRun(SoakSink say) : m_say(std::move(say)) {}

    // Runs the cycles; FALSE when the agent could not even be started.
    bool Run(int cycles, int lockEvery = 10, int unplugEvery = 25);
    // The last line, as above.
    std::string Summary() const;
    // The goal holds: handles and private memory within their margins, threads equal, no failure.
    bool MetGoal() const;

    int GetFailures() const { return m_failures; }
    const KelvoProcessFigures& GetFirst() const { return m_first; }
    const KelvoProcessFigures& GetLast() const { return m_last; }

private:
    bool PressToGrant();
    bool LockAndUnlock();
    bool UnplugAndReplug();
    // Waits until the agent polls the cart again after `mark`.
    bool WaitForPolling(size_t mark);
    // Answers whatever box the agent shows, as its user would: OK, or No to a question.
    void AnswerBoxes();
    void SayCartSince(size_t mark);
    KelvoProcessFigures Measure(int cycle);

    SoakSink m_say;
    CAgentRoad m_road;
    int m_cycles = 0;
    int m_unplugs = 0;
    int m_locks = 0;
    int m_failures = 0;
    KelvoProcessFigures m_first;
    KelvoProcessFigures m_last;
};
