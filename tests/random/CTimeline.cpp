#include "tests/random/CTimeline.h"
#include "sim/driver/ScenarioWait.h"
#include <algorithm>

namespace
{
constexpr DWORD kWatchPeriodMs = 4;

ULONGLONG Milliseconds()
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<ULONGLONG>(counter.QuadPart * 1000 / frequency.QuadPart);
}
}

CTimeline::~CTimeline()
{
    Stop();
}

void CTimeline::Start(const CCartSimProcess& cart, const CStringEx& journalPath)
{
    Stop();
    m_cart = &cart;
    m_cartLines = cart.Mark();
    m_journal = std::make_unique<CFileTail>(journalPath, true);
    m_start = Milliseconds();
    m_stop = false;
    m_watcher = std::thread(&CTimeline::Watch, this);
}

void CTimeline::Stop()
{
    m_stop = true;
    if (m_watcher.joinable())
        m_watcher.join();
}

ULONGLONG CTimeline::Now() const
{
    return Milliseconds() - m_start;
}

void CTimeline::Add(TimelineEntry entry)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.push_back(std::move(entry));
}

void CTimeline::AddTester(const RandomEvent& event, const RandomWorldState& world, bool took, ULONGLONG ms)
{
    TimelineEntry entry;
    entry.ms = ms;
    entry.source = TimelineEntry::Source::Tester;
    entry.text = event.Describe();
    entry.event = event;
    entry.took = took;
    entry.world = world;
    Add(std::move(entry));
}

void CTimeline::Watch()
{
    while (!m_stop)
    {
        // The journal first: a report is journaled before the agent acts on it, so what the
        // cart shows of the same moment is stamped no earlier than the report.
        for (std::string& line : m_journal->ReadNewLines())
        {
            TimelineEntry entry;
            entry.ms = Now();
            entry.source = TimelineEntry::Source::Journal;
            entry.text = std::move(line);
            Add(std::move(entry));
        }
        for (const CStringEx& line : m_cart->GetLinesFrom(m_cartLines))
        {
            ++m_cartLines;
            TimelineEntry entry;
            entry.ms = Now();
            entry.source = TimelineEntry::Source::Cart;
            entry.text = ScenarioUtf8(line);
            Add(std::move(entry));
        }
        Sleep(kWatchPeriodMs);
    }
}

std::vector<TimelineEntry> CTimeline::Take()
{
    std::vector<TimelineEntry> taken;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        taken.swap(m_entries);
    }
    std::stable_sort(taken.begin(), taken.end(),
                     [](const TimelineEntry& a, const TimelineEntry& b) { return a.ms < b.ms; });
    return taken;
}
