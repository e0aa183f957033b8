#pragma once
// One time line of everything that happened around the agent while the random tester ran:
// what the tester did (with the world it left behind), every exchange the cart simulator
// reported and every call the sign-on stand-in journaled. A thread of its own reads the
// cart's output and the journal every few milliseconds and stamps each new line with the
// time it saw it; the tester stamps its own events when it makes them.
#include "tests/random/RandomEvent.h"
#include "tests/random/RandomWorldState.h"
#include "sim/driver/CCartSimProcess.h"
#include "sim/driver/CFileTail.h"
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct TimelineEntry
{
    enum class Source { Tester, Cart, Journal };
    ULONGLONG ms = 0;          // since the time line started
    Source source = Source::Tester;
    std::string text;          // the cart's or the journal's line; the event's description
    RandomEvent event;         // Tester: what was done
    bool took = true;          // Tester: the event found what it needed (a box to answer)
    RandomWorldState world;    // Tester: the world after the event
};

class CTimeline
{
public:
    CTimeline() = default;
    ~CTimeline();
    CTimeline(const CTimeline&) = delete;
    CTimeline& operator=(const CTimeline&) = delete;

    // Starts watching the cart's output and the journal from their current ends.
    void Start(const CCartSimProcess& cart, const CStringEx& journalPath);
    void Stop();

    ULONGLONG Now() const;
    void AddTester(const RandomEvent& event, const RandomWorldState& world, bool took, ULONGLONG ms);
    // The entries made since the last call, in the order of their times.
    std::vector<TimelineEntry> Take();

private:
    void Watch();
    void Add(TimelineEntry entry);

    const CCartSimProcess* m_cart = nullptr;
    std::unique_ptr<CFileTail> m_journal;
    size_t m_cartLines = 0;
    ULONGLONG m_start = 0;
    std::mutex m_mutex;
    std::vector<TimelineEntry> m_entries;
    std::atomic<bool> m_stop{false};
    std::thread m_watcher;
};
