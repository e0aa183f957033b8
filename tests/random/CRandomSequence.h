#pragma once
// Draws sequences of real events from a seed. The same seed always gives the same
// sequence, on any machine: the generator is a small splitmix64 of its own, not the
// standard library's distributions. Session events follow what Windows can send from the
// session's state (an unlock only after a lock or a reconnect to a locked session, the same
// away event twice now and then); the cart is unplugged only when present.
#include "tests/random/RandomEvent.h"
#include <vector>

class CRandomSequence
{
public:
    static constexpr size_t kEvents = 12;

    // The sequence of a seed.
    static std::vector<RandomEvent> Make(uint64_t seed, size_t events = kEvents);
    // The seed of sequence `index` of a run started from `runSeed`: the run's own seed for
    // the first, so that "--random 1 --seed S" replays the sequence that printed S.
    static uint64_t SeedOf(uint64_t runSeed, size_t index);

private:
    explicit CRandomSequence(uint64_t seed) : m_state(seed) {}
    uint64_t Next();
    int Between(int low, int high);  // inclusive
    RandomEvent Draw();
    RandomEvent DrawSession();
    RandomEvent DrawCart();
    RandomEvent DrawSignOn();
    // A press whose sign-in an event interrupts at a stage; the others that Windows, the
    // menu and other processes send.
    RandomEvent DrawAimed();
    RandomEvent DrawOther();

    enum class Session { Active, Locked, ConsoleAway, RemoteAway };
    uint64_t m_state;
    Session m_session = Session::Active;
    bool m_cartPresent = true;
    bool m_citrix = false;
};
