// The random tester's sequences: a seed always gives the same events, so that a printed
// seed replays its sequence, and the events are ones Windows and a cart can produce in that
// order.
#include "tests/random/CRandomSequence.h"
#include <gtest/gtest.h>

namespace
{
TEST(RandomSequence, ASeedReplaysTheSameEvents)
{
    for (uint64_t seed : {0ull, 1ull, 0x910A2DEC89025CC1ull})
    {
        const std::vector<RandomEvent> first = CRandomSequence::Make(seed);
        const std::vector<RandomEvent> again = CRandomSequence::Make(seed);
        ASSERT_EQ(CRandomSequence::kEvents, first.size());
        for (size_t i = 0; i < first.size(); ++i)
            EXPECT_EQ(first[i].Describe(), again[i].Describe()) << "seed " << seed << ", event " << i;
    }
    // The first sequence of a run is the run's own seed's, so "--random 1 --seed S" replays it.
    EXPECT_EQ(77u, CRandomSequence::SeedOf(77, 0));
    EXPECT_NE(CRandomSequence::SeedOf(77, 1), CRandomSequence::SeedOf(77, 2));
}

TEST(RandomSequence, SessionAndCartEventsFollowWhatCanHappenNext)
{
    enum class Session { Active, Locked, Away };
    size_t kinds[32] = {};
    for (uint64_t seed = 0; seed < 400; ++seed)
    {
        Session session = Session::Active;
        bool present = true;
        for (const RandomEvent& event : CRandomSequence::Make(seed))
        {
            ++kinds[static_cast<int>(event.kind)];
            // An aimed event starts from an active session with the cart and plays its event.
            EXPECT_TRUE(event.kind != RandomEventKind::Aimed || (session == Session::Active && present)) << seed;
            switch (event.kind == RandomEventKind::Aimed ? event.then : event.kind)
            {
            case RandomEventKind::Lock:
                EXPECT_NE(Session::Away, session) << seed;
                session = Session::Locked;
                break;
            case RandomEventKind::Unlock:
                EXPECT_EQ(Session::Locked, session) << seed;
                session = Session::Active;
                break;
            case RandomEventKind::ConsoleDisconnect:
            case RandomEventKind::RemoteDisconnect: session = Session::Away; break;
            case RandomEventKind::ConsoleConnect:
                EXPECT_EQ(Session::Away, session) << seed;
                session = Session::Locked;
                break;
            case RandomEventKind::RemoteConnect:
                EXPECT_EQ(Session::Away, session) << seed;
                session = Session::Active;
                break;
            case RandomEventKind::CartRemoved:
                EXPECT_TRUE(present) << seed;
                present = false;
                break;
            case RandomEventKind::CartArrived: present = true; break;
            case RandomEventKind::Restart: EXPECT_EQ(Session::Active, session) << seed; break;
            default: break;
            }
            if (event.thenPress)
                session = Session::Active;
        }
    }
    // Every kind of event the tester plays is drawn.
    for (RandomEventKind kind : {RandomEventKind::Press, RandomEventKind::Wait, RandomEventKind::Lock, RandomEventKind::Unlock,
                                 RandomEventKind::ConsoleDisconnect, RandomEventKind::ConsoleConnect,
                                 RandomEventKind::RemoteDisconnect, RandomEventKind::RemoteConnect,
                                 RandomEventKind::CartRemoved, RandomEventKind::CartArrived, RandomEventKind::CartLate,
                                 RandomEventKind::CartSilent, RandomEventKind::CartNormal, RandomEventKind::CartRefuses,
                                 RandomEventKind::CartGrants, RandomEventKind::CartBoundElsewhere,
                                 RandomEventKind::SignOn, RandomEventKind::Answer, RandomEventKind::Reload,
                                 RandomEventKind::Restart, RandomEventKind::Aimed, RandomEventKind::CitrixStarted,
                                 RandomEventKind::EndingCancelled, RandomEventKind::MenuStart,
                                 RandomEventKind::CartBoundHere})
        EXPECT_GT(kinds[static_cast<int>(kind)], 0u) << "kind " << static_cast<int>(kind);
}
}
