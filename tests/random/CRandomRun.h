#pragma once
// A run of the random tester: N sequences drawn from one seed, each played against the
// same agent (until a sequence restarts it), each followed by the checks: no wrong grant
// (CAgentModel over the time line), no stuck run (CRandomWorld's idle wait and press), and,
// at the end, nothing grown: for every agent that served more than ten sequences, its
// handles, committed private memory and threads after its last are within the soak's
// margins of their values after its tenth (read after every tenth and after the run's last
// sequence). A failing sequence is printed with its seed and
// its events; "--random 1 --seed <its seed>" plays it alone. The last line is:
//   random: N sequences, E events, seed S; wrong grants W; stuck runs K; growth G
// Before it, how many sign-ins ended for each reason and how many stale answers the agent
// dropped, from the agent's log; that log is checked too: a sign-in that ended granted never
// has its own drawer-access answer dropped afterwards (a stale answer acted on it).
#include "tests/random/CAgentModel.h"
#include "tests/random/CRandomWorld.h"
#include "tests/soak/SoakCommands.h"
#include <map>

class CRandomRun
{
public:
    explicit CRandomRun(SoakSink say, bool stopAtFirst = false) : m_say(std::move(say)), m_stopAtFirst(stopAtFirst) {}

    // Plays the sequences; FALSE when the world could not even be started.
    bool Run(uint64_t seed, size_t sequences);
    std::string Summary() const;

    int GetWrongGrants() const { return m_wrong; }
    int GetStuckRuns() const { return m_stuck; }
    int GetGrowth() const { return m_growth; }
    // The seeds of the sequences that failed a check.
    const std::vector<uint64_t>& GetFailedSeeds() const { return m_failedSeeds; }

private:
    struct AgentFigures
    {
        int sequences = 0;
        int measured = 0;   // the sequence after which `last` was read
        KelvoProcessFigures tenth;
        KelvoProcessFigures last;
    };

    void PlaySequence(size_t index, uint64_t seed);
    void Record(DWORD agent);
    // The last entries of a sequence's time line, for a person to see where it stuck.
    void SayTail(const std::vector<TimelineEntry>& timeline);
    void JudgeGrowth();
    // Counts the run ends and stale drops of the agent's new log lines; what is wrong goes
    // to `wrong`.
    void JudgeLog(const std::string& text, std::vector<std::string>& wrong);

    SoakSink m_say;
    CRandomWorld m_world;
    std::unique_ptr<CAgentModel> m_model;
    uint64_t m_seed = 0;
    size_t m_sequences = 0;
    size_t m_planned = 0;
    size_t m_events = 0;
    int m_wrong = 0;
    int m_stuck = 0;
    int m_growth = 0;
    std::vector<uint64_t> m_failedSeeds;
    std::map<DWORD, AgentFigures> m_figures;
    bool m_stopAtFirst = false;
    std::vector<RandomEvent> m_previous;   // the last sequence's events
    std::vector<TimelineEntry> m_previousTimeline;
    std::map<std::string, int> m_ends;     // sign-ins ended, by reason
    int m_stale = 0;                       // stale answers dropped
    unsigned m_lastRun = 0;
    std::vector<unsigned> m_granted;       // runs of the current agent that ended granted
    ULONGLONG m_eventsMs = 0;
    ULONGLONG m_normaliseMs = 0;
    ULONGLONG m_checkMs = 0;
    ULONGLONG m_modelMs = 0;
    ULONGLONG m_measureMs = 0;
};

// --random [N] [--seed S]: N sequences (default 1000); 0 when nothing was found.
// --first: stops after the first sequence that failed a check.
int RandomCommand(size_t sequences, bool seeded, uint64_t seed, const SoakSink& say, bool stopAtFirst = false);
