#include "tests/random/CRandomSequence.h"
#include <windows.h>

namespace
{
uint64_t Mix(uint64_t value)
{
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
    return value ^ (value >> 31);
}

const wchar_t* const kMethods[] = {L"1", L"2", L"4", L"2,4", L"3", L"", L"12", L"1,2"};
const wchar_t* const kGroups[] = {L"Cart Users", L"", L"Night Shift"};
}

uint64_t CRandomSequence::SeedOf(uint64_t runSeed, size_t index)
{
    return index == 0 ? runSeed : Mix(runSeed + 0x9E3779B97F4A7C15ull * index);
}

uint64_t CRandomSequence::Next()
{
    m_state += 0x9E3779B97F4A7C15ull;
    return Mix(m_state);
}

int CRandomSequence::Between(int low, int high)
{
    return low + static_cast<int>(Next() % static_cast<uint64_t>(high - low + 1));
}

std::vector<RandomEvent> CRandomSequence::Make(uint64_t seed, size_t events)
{
    CRandomSequence draw(seed);
    std::vector<RandomEvent> sequence;
    for (size_t i = 0; i < events; ++i)
    {
        // Each sequence begins with what the product will do at its prompts, so that every
        // kind of sign-in meets every order of the events after it.
        RandomEvent event = i == 0 ? draw.DrawSignOn() : draw.Draw();
        event.gapMs = draw.Between(0, 4) == 0 ? 0 : draw.Between(10, 90);
        sequence.push_back(event);
    }
    return sequence;
}

RandomEvent CRandomSequence::Draw()
{
    // Weights out of 1000: sign-ins that an event interrupts at a stage, the button and the
    // product most, a new agent now and then.
    const int roll = Between(1, 1000);
    RandomEvent event;
    if (roll <= 280 && m_session == Session::Active && m_cartPresent && !m_citrix)
        event = DrawAimed();
    else if (roll <= 400)
    {
        event.kind = RandomEventKind::Press;
        event.value = Between(50, 450);
    }
    else if (roll <= 440)
    {
        event.kind = RandomEventKind::Wait;
        event.value = Between(100, 500);
    }
    else if (roll <= 560)
        event = DrawSession();
    else if (roll <= 700)
        event = DrawCart();
    else if (roll <= 780)
        event = DrawSignOn();
    else if (roll <= 840)
    {
        event.kind = RandomEventKind::Answer;
        const int buttons[] = {IDYES, IDNO, IDOK};
        event.value = buttons[Between(0, 2)];
    }
    else if (roll <= 920)
        event = DrawOther();
    else if (roll <= 997 || m_session != Session::Active)
    {
        event.kind = RandomEventKind::Reload;
        event.groups = kGroups[Between(0, 2)];
        event.preAuthorized = Between(0, 3) == 0;
        event.retry = Between(0, 1) == 1;
    }
    else
    {
        event.kind = RandomEventKind::Restart;
        event.skipFirstAutoStart = Between(0, 1) == 1;
        m_citrix = false;
    }
    return event;
}

RandomEvent CRandomSequence::DrawSession()
{
    // What Windows can send from each state; the same away event twice now and then.
    struct Move
    {
        RandomEventKind kind;
        Session next;
    };
    static const Move fromActive[] = {{RandomEventKind::Lock, Session::Locked},
                                      {RandomEventKind::Lock, Session::Locked},
                                      {RandomEventKind::ConsoleDisconnect, Session::ConsoleAway},
                                      {RandomEventKind::RemoteDisconnect, Session::RemoteAway}};
    static const Move fromLocked[] = {{RandomEventKind::Unlock, Session::Active},
                                      {RandomEventKind::Unlock, Session::Active},
                                      {RandomEventKind::Lock, Session::Locked},
                                      {RandomEventKind::ConsoleDisconnect, Session::ConsoleAway},
                                      {RandomEventKind::RemoteDisconnect, Session::RemoteAway}};
    static const Move fromConsoleAway[] = {{RandomEventKind::ConsoleConnect, Session::Locked},
                                           {RandomEventKind::RemoteConnect, Session::Active},
                                           {RandomEventKind::ConsoleDisconnect, Session::ConsoleAway}};
    static const Move fromRemoteAway[] = {{RandomEventKind::ConsoleConnect, Session::Locked},
                                          {RandomEventKind::RemoteConnect, Session::Active},
                                          {RandomEventKind::RemoteDisconnect, Session::RemoteAway}};
    const Move* moves = fromActive;
    int count = 4;
    switch (m_session)
    {
    case Session::Active: break;
    case Session::Locked: moves = fromLocked; count = 5; break;
    case Session::ConsoleAway: moves = fromConsoleAway; count = 3; break;
    case Session::RemoteAway: moves = fromRemoteAway; count = 3; break;
    }
    const Move& move = moves[Between(0, count - 1)];
    m_session = move.next;
    RandomEvent event;
    event.kind = move.kind;
    return event;
}

RandomEvent CRandomSequence::DrawCart()
{
    RandomEvent event;
    const int roll = Between(1, 10);
    if (roll <= 2)
    {
        event.kind = m_cartPresent && roll == 1 ? RandomEventKind::CartRemoved : RandomEventKind::CartArrived;
        m_cartPresent = event.kind == RandomEventKind::CartArrived;
    }
    else if (roll == 3)
    {
        event.kind = RandomEventKind::CartLate;
        event.value = Between(0, 3000);
        event.drawerAccessOnly = Between(0, 1) == 1;
    }
    else if (roll == 4)
        event.kind = RandomEventKind::CartSilent;
    else if (roll <= 6)
        event.kind = RandomEventKind::CartNormal;
    else if (roll == 7)
        event.kind = RandomEventKind::CartRefuses;
    else if (roll == 8)
        event.kind = RandomEventKind::CartGrants;
    else
        event.kind = Between(0, 2) == 0 ? RandomEventKind::CartBoundHere : RandomEventKind::CartBoundElsewhere;
    return event;
}

RandomEvent CRandomSequence::DrawOther()
{
    RandomEvent event;
    const int roll = Between(1, 10);
    if (roll <= 4)
    {
        event.kind = m_citrix ? RandomEventKind::CitrixEnded : RandomEventKind::CitrixStarted;
        m_citrix = !m_citrix;
    }
    else if (roll <= 6)
    {
        event.kind = RandomEventKind::EndingCancelled;
        event.value = Between(20, 300);
    }
    else
        event.kind = roll <= 8 ? RandomEventKind::MenuStart : RandomEventKind::MenuReconnect;
    return event;
}

RandomEvent CRandomSequence::DrawAimed()
{
    RandomEvent event;
    event.kind = RandomEventKind::Aimed;
    // The prompt's stage twice as often: most events end a run there.
    const int stage = Between(0, 4);
    event.stage = static_cast<AimStage>(stage == 0 ? 0 : stage - 1);
    event.value = Between(50, 250);
    static const RandomEventKind kThen[] = {
        RandomEventKind::Lock, RandomEventKind::ConsoleDisconnect, RandomEventKind::RemoteDisconnect,
        RandomEventKind::CartRemoved, RandomEventKind::CitrixStarted, RandomEventKind::EndingCancelled,
        RandomEventKind::Press, RandomEventKind::Answer};
    event.then = kThen[Between(0, event.stage == AimStage::PromptOpen ? 5 : 7)];
    if (event.stage == AimStage::AccessInFlight && Between(0, 1) == 0)
    {
        // A new sign-in while the last one's answer is still on its way.
        event.then = RandomEventKind::Lock;
        event.thenPress = true;
    }
    switch (event.then)
    {
    case RandomEventKind::Lock: m_session = event.thenPress ? Session::Active : Session::Locked; break;
    case RandomEventKind::ConsoleDisconnect: m_session = Session::ConsoleAway; break;
    case RandomEventKind::RemoteDisconnect: m_session = Session::RemoteAway; break;
    case RandomEventKind::CartRemoved: m_cartPresent = false; break;
    case RandomEventKind::CitrixStarted: m_citrix = true; break;
    // Now and then the session goes on long after the question: the prompt closed before.
    case RandomEventKind::EndingCancelled: event.value = Between(0, 1) == 0 ? Between(20, 300) : Between(500, 900); break;
    case RandomEventKind::Answer: event.value = Between(0, 1) == 0 ? IDYES : IDNO; break;
    default: break;
    }
    return event;
}

RandomEvent CRandomSequence::DrawSignOn()
{
    static const SignOnKind kinds[] = {
        SignOnKind::InGroup, SignOnKind::InGroup, SignOnKind::NotInGroup, SignOnKind::Administrator,
        SignOnKind::Administrator, SignOnKind::Stranger, SignOnKind::NoDomain, SignOnKind::EmptyPrincipal,
        SignOnKind::Cancel, SignOnKind::Error, SignOnKind::StartFails, SignOnKind::ReportAfterClose,
        SignOnKind::NoReport};
    RandomEvent event;
    event.kind = RandomEventKind::SignOn;
    event.signOn = kinds[Between(0, static_cast<int>(sizeof(kinds) / sizeof(kinds[0])) - 1)];
    event.delayMs = event.signOn == SignOnKind::ReportAfterClose ? Between(800, 2000) : Between(30, 1200);
    event.methods = kMethods[Between(0, static_cast<int>(sizeof(kMethods) / sizeof(kMethods[0])) - 1)];
    return event;
}
