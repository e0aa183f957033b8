#include "tests/random/CRandomRun.h"
#include "tests/random/CRandomSequence.h"
#include "tests/soak/CSoakRun.h"
#include "resources/KVIdsAgentAuth.h"
#include <algorithm>
#include <sstream>
#include <cinttypes>
#include <cstdio>

namespace
{
std::string Hex(uint64_t seed)
{
    char text[24];
    snprintf(text, sizeof(text), "0x%016" PRIx64, seed);
    return text;
}
}

bool CRandomRun::Run(uint64_t seed, size_t sequences)
{
    m_seed = seed;
    m_planned = sequences;
    std::string why;
    if (!m_world.Start(why))
    {
        m_say("random: the agent could not be started: " + why);
        return false;
    }
    m_model = std::make_unique<CAgentModel>(CRandomWorld::Computer());
    m_model->Follow(m_world.Timeline().Take());
    for (size_t index = 0; index < sequences; ++index)
    {
        PlaySequence(index, CRandomSequence::SeedOf(seed, index));
        m_sequences = index + 1;
        if (m_stopAtFirst && !m_failedSeeds.empty())
            break;
        if ((index + 1) % 50 == 0 && index + 1 < sequences)
            m_say("   " + std::to_string(index + 1) + " sequences: wrong grants " + std::to_string(m_wrong) +
                  ", stuck runs " + std::to_string(m_stuck));
    }
    JudgeGrowth();
    std::string ends = "   sign-ins ended:";
    for (const auto& end : m_ends)
        ends += " " + end.first + " " + std::to_string(end.second) + ";";
    m_say(ends + " stale answers dropped " + std::to_string(m_stale));
    std::string aims = "   aimed events, stage reached of played:";
    for (const auto& aim : m_world.AimCounts())
        aims += std::string(" ") + StageName(aim.first) + " " + std::to_string(aim.second.reached) + " of " +
                std::to_string(aim.second.played) + ";";
    m_say(aims);
    char line[160];
    snprintf(line, sizeof(line),
             "   time: events %.0f s, making the world normal %.0f s, pressing %.0f s, the model %.0f s, figures %.0f s",
             static_cast<double>(m_eventsMs) / 1000.0, static_cast<double>(m_normaliseMs) / 1000.0,
             static_cast<double>(m_checkMs) / 1000.0, static_cast<double>(m_modelMs) / 1000.0,
             static_cast<double>(m_measureMs) / 1000.0);
    m_say(line);
    m_world.Stop();
    return true;
}

void CRandomRun::PlaySequence(size_t index, uint64_t seed)
{
    const std::vector<RandomEvent> events = CRandomSequence::Make(seed);
    ULONGLONG start = GetTickCount64();
    for (const RandomEvent& event : events)
    {
        Sleep(static_cast<DWORD>(event.gapMs));
        m_world.Perform(event);
    }
    m_events += events.size();
    m_eventsMs += GetTickCount64() - start;

    std::string why;
    start = GetTickCount64();
    bool ended = m_world.Normalise(why);
    m_normaliseMs += GetTickCount64() - start;
    start = GetTickCount64();
    ended = ended && m_world.CheckPress(why);
    m_checkMs += GetTickCount64() - start;
    start = GetTickCount64();
    const std::vector<TimelineEntry> timeline = m_world.Timeline().Take();
    m_model->Follow(timeline);
    m_modelMs += GetTickCount64() - start;
    std::vector<std::string> wrong = m_model->TakeWrongGrants();
    const std::string agentLog = m_world.TakeAgentLog();
    JudgeLog(agentLog, wrong);
    start = GetTickCount64();
    if (ended)
        Record(m_world.GetAgentProcessId());
    m_measureMs += GetTickCount64() - start;
    const std::vector<RandomEvent> previous = std::move(m_previous);
    m_previous = events;
    // The time line of the last 20 s before this sequence, for what fell due in it.
    const std::vector<TimelineEntry> before = m_previousTimeline;
    m_previousTimeline.insert(m_previousTimeline.end(), timeline.begin(), timeline.end());
    if (!m_previousTimeline.empty())
    {
        const ULONGLONG last = m_previousTimeline.back().ms;
        m_previousTimeline.erase(m_previousTimeline.begin(),
                                 std::find_if(m_previousTimeline.begin(), m_previousTimeline.end(),
                                              [&](const TimelineEntry& e) { return e.ms + 20000 >= last; }));
    }
    if (ended && wrong.empty())
        return;

    m_wrong += static_cast<int>(wrong.size());
    m_stuck += ended ? 0 : 1;
    m_failedSeeds.push_back(seed);
    m_say("   sequence " + std::to_string(index + 1) + ", seed " + Hex(seed) + ":");
    for (size_t i = 0; i < events.size(); ++i)
        m_say("      " + std::to_string(i + 1) + ". " + events[i].Describe());
    // What is due may fall due in the next sequence: the one before is shown too.
    for (size_t i = 0; i < previous.size() && !wrong.empty(); ++i)
        m_say("      (before it) " + std::to_string(i + 1) + ". " + previous[i].Describe());
    for (const TimelineEntry& entry : before)
    {
        if (!wrong.empty() && (entry.source == TimelineEntry::Source::Tester || entry.text.rfind("drawer", 0) == 0 ||
                               entry.text.rfind("sign-in", 0) == 0))
            m_say("      (before it) " + std::to_string(entry.ms) + " " + entry.text);
    }
    for (const std::string& finding : wrong)
        m_say("      wrong grant " + finding);
    if (!wrong.empty())
    {
        m_say("      the last of the time line:");
        SayTail(timeline);
    }
    if (GetEnvironmentVariableA("KELVO_RANDOM_TAIL", nullptr, 0) != 0)
        m_say("      the agent's log of the sequence:\n" + agentLog);
    if (!ended)
    {
        m_say("      stuck run: " + why + "; the last of the time line:");
        SayTail(timeline);
        std::string recovery;
        if (!m_world.Recover(recovery))
            m_say("      the agent could not be brought back: " + recovery);
        m_model->Follow(m_world.Timeline().Take());
        m_model->TakeWrongGrants();
    }
    m_say("      replay: scripts/demo.sh --random 1 --seed " + Hex(seed));
}

void CRandomRun::JudgeLog(const std::string& text, std::vector<std::string>& wrong)
{
    static const std::string granted = CAgentRoad::Text(IDS_RUN_END_GRANTED);
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
    {
        unsigned run = 0;
        unsigned message = 0;
        size_t at = line.find("Sign-in ");
        if (at != std::string::npos && line.find(" started", at) != std::string::npos &&
            sscanf(line.c_str() + at, "Sign-in %u", &run) == 1)
        {
            // Run numbers start again with a new agent.
            if (run <= m_lastRun)
                m_granted.clear();
            m_lastRun = run;
        }
        else if (at != std::string::npos && line.find(" ended: ", at) != std::string::npos &&
                 sscanf(line.c_str() + at, "Sign-in %u", &run) == 1)
        {
            const size_t from = line.find(" ended: ", at) + 8;
            const std::string reason = line.substr(from, line.find(" (end code", from) - from);
            ++m_ends[reason];
            if (reason == granted)
                m_granted.push_back(run);
        }
        else if ((at = line.find("Message ")) != std::string::npos &&
                 sscanf(line.c_str() + at, "Message %u of sign-in %u", &message, &run) == 2)
        {
            ++m_stale;
            if (message == 0x41C && std::find(m_granted.begin(), m_granted.end(), run) != m_granted.end())
                wrong.push_back("sign-in " + std::to_string(run) +
                                " ended granted before its own drawer-access answer came: a stale answer acted on it");
        }
    }
}

void CRandomRun::SayTail(const std::vector<TimelineEntry>& timeline)
{
    static const char* const kSources[] = {"tester ", "cart   ", "sign-on"};
    // KELVO_RANDOM_TAIL=N shows N entries (the whole time line of a replayed sequence).
    char wanted[16] = {};
    const size_t limit = GetEnvironmentVariableA("KELVO_RANDOM_TAIL", wanted, sizeof(wanted)) ? strtoul(wanted, nullptr, 10) : 24;
    const size_t shown = std::min(limit, timeline.size());
    for (size_t i = timeline.size() - shown; i < timeline.size(); ++i)
    {
        char stamp[32];
        snprintf(stamp, sizeof(stamp), "%9.3f ", static_cast<double>(timeline[i].ms) / 1000.0);
        m_say("         " + std::string(stamp) + kSources[static_cast<int>(timeline[i].source)] + " " + timeline[i].text);
    }
}

void CRandomRun::Record(DWORD agent)
{
    // The figures after an agent's tenth sequence, and then after every tenth and after the
    // run's last: reading them takes the better part of a second under Wine.
    AgentFigures& counted = m_figures[agent];
    ++counted.sequences;
    if (counted.sequences == 10)
        counted.tenth = counted.last = m_world.Measure();
    else if (counted.sequences > 10 && (counted.sequences % 10 == 0 || m_sequences + 1 == m_planned))
    {
        counted.last = m_world.Measure();
        counted.measured = counted.sequences;
    }
}

void CRandomRun::JudgeGrowth()
{
    for (const auto& agent : m_figures)
    {
        const AgentFigures& f = agent.second;
        if (f.measured <= 10)
            continue;
        char line[256];
        snprintf(line, sizeof(line),
                 "   agent %lu, sequence 10 -> %d: handles %d -> %d, private %.2f MB -> %.2f MB, threads %d -> %d",
                 agent.first, f.measured, f.tenth.handles, f.last.handles, f.tenth.privateMb, f.last.privateMb,
                 f.tenth.threads, f.last.threads);
        m_say(line);
        if (f.last.handles - f.tenth.handles > CSoakRun::kHandleMargin ||
            f.last.privateMb - f.tenth.privateMb > CSoakRun::kPrivateMarginMb || f.last.threads != f.tenth.threads)
            m_growth = 1;
    }
}

std::string CRandomRun::Summary() const
{
    return "random: " + std::to_string(m_sequences) + " sequences, " + std::to_string(m_events) + " events, seed " +
           Hex(m_seed) + "; wrong grants " + std::to_string(m_wrong) + "; stuck runs " + std::to_string(m_stuck) +
           "; growth " + std::to_string(m_growth);
}

int RandomCommand(size_t sequences, bool seeded, uint64_t seed, const SoakSink& say, bool stopAtFirst)
{
    if (!seeded)
        seed = (static_cast<uint64_t>(GetTickCount64()) << 20) ^ GetCurrentProcessId() ^ 0x4B454C564FULL;
    say("Random event orders: the agent under Wine against the simulated cart and stand-ins, " +
        std::to_string(sequences) + " sequences of " + std::to_string(CRandomSequence::kEvents) +
        " events from seed " + Hex(seed));
    CRandomRun run(say, stopAtFirst);
    const ULONGLONG start = GetTickCount64();
    const bool ran = run.Run(seed, sequences);
    char line[128];
    snprintf(line, sizeof(line), "   run time %.0f s", static_cast<double>(GetTickCount64() - start) / 1000.0);
    say(line);
    say(run.Summary());
    return ran && run.GetWrongGrants() == 0 && run.GetStuckRuns() == 0 && run.GetGrowth() == 0 ? 0 : 1;
}
