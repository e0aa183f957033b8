#include "tests/soak/CSoakRun.h"
#include "common/CUniqueAnyEx.h"
#include <wtsapi32.h>
#include <cstdio>

namespace
{
constexpr DWORD kStepMs = 10000;

std::string Format(const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    return text;
}
}

bool CSoakRun::Run(int cycles, int lockEvery, int unplugEvery)
{
    // A production-like agent: events logged, no hex dumps of every poll; a prompt that
    // reports quickly; no sign-in on its own after an unlock, so that every grant is a press's.
    AgentRoadOptions options;
    options.logLevel = 4;
    options.retry = false;
    options.signOn = {L"CallbackDelayMs=50"};
    if (!m_road.Start(options))
    {
        m_say("soak: the agent could not be started: " + ScenarioUtf8(m_road.GetErrorText().c_str()));
        return false;
    }
    const int middle = cycles / 2;
    for (int cycle = 1; cycle <= cycles; ++cycle)
    {
        m_cycles = cycle;
        const size_t mark = m_road.Cart().Mark();
        if (!PressToGrant())
        {
            ++m_failures;
            m_say(Format("   cycle %d did not end in a grant; the cart saw:", cycle));
            SayCartSince(mark);
            AnswerBoxes();
        }
        if (lockEvery > 0 && cycle % lockEvery == 0 && LockAndUnlock())
            ++m_locks;
        if (unplugEvery > 0 && cycle % unplugEvery == 0 && UnplugAndReplug())
            ++m_unplugs;
        if (cycle == 10 || cycle == middle || cycle == cycles)
        {
            const KelvoProcessFigures figures = Measure(cycle);
            if (cycle == 10 || (cycles < 10 && m_first.handles < 0))
                m_first = figures;
            m_last = figures;
        }
    }
    m_road.Stop();
    return true;
}

bool CSoakRun::PressToGrant()
{
    const size_t mark = m_road.Cart().Mark();
    if (!m_road.Press())
        return false;
    // The grant, and the polling that follows the end of the run.
    return m_road.Cart().WaitForExchange(L"drawer access granted to nurse", mark, kStepMs) &&
           WaitForPolling(m_road.Cart().Mark());
}

bool CSoakRun::LockAndUnlock()
{
    const size_t mark = m_road.Cart().Mark();
    if (!m_road.Agent().PostSessionChange(WTS_SESSION_LOCK) ||
        !m_road.Cart().WaitForExchange(L"drawer access ended", mark, kStepMs) ||
        !m_road.Agent().WaitForConnected(0, kStepMs))
        return false;
    const size_t unlocked = m_road.Cart().Mark();
    return m_road.Agent().PostSessionChange(WTS_SESSION_UNLOCK) && m_road.Agent().WaitForConnected(1, kStepMs) &&
           WaitForPolling(unlocked);
}

bool CSoakRun::UnplugAndReplug()
{
    const CStringEx& path = m_road.Cart().GetDevicePath();
    if (!m_road.Cart().Remove() || !m_road.Agent().SendDeviceRemoval(path) ||
        !m_road.Agent().WaitForConnected(0, kStepMs))
        return false;
    const size_t mark = m_road.Cart().Mark();
    return m_road.Cart().Restore() && m_road.Agent().SendDeviceArrival(path) &&
           m_road.Agent().WaitForConnected(1, kStepMs) && WaitForPolling(mark);
}

bool CSoakRun::WaitForPolling(size_t mark)
{
    return m_road.Cart().WaitForExchange(L"access state", mark, kStepMs);
}

void CSoakRun::SayCartSince(size_t mark)
{
    const std::vector<CStringEx> lines = m_road.Cart().GetLines();
    for (size_t i = mark; i < lines.size() && i < mark + 16; ++i)
        m_say("      " + ScenarioUtf8(lines[i]));
}

void CSoakRun::AnswerBoxes()
{
    while (const HWND box = m_road.Boxes().WaitForBox(1000))
    {
        const bool question = GetDlgItem(box, IDNO) != nullptr;
        if (!m_road.Boxes().Press(question ? IDNO : IDOK))
            break;
    }
}

KelvoProcessFigures CSoakRun::Measure(int cycle)
{
    KelvoProcessFigures figures;
    CKernelHandleEx agent(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE,
                                      m_road.Agent().GetProcessId()));
    if (agent)
        figures = CProcessFigures::ReadSettled(agent.Get());
    const std::string gdi = figures.gdiObjects < 0 ? std::string("not readable here") : std::to_string(figures.gdiObjects);
    m_say(Format("   after cycle %d: handles %d, committed private %.2f MB, threads %d, USER objects %d, GDI objects %s",
                 cycle, figures.handles, figures.privateMb, figures.threads, figures.userObjects, gdi.c_str()));
    return figures;
}

std::string CSoakRun::Summary() const
{
    return Format("soak: %d cycles, %d unplugs, %d locks; handles %d -> %d; private %.2f MB -> %.2f MB; threads %d -> %d; "
                  "failures %d",
                  m_cycles, m_unplugs, m_locks, m_first.handles, m_last.handles, m_first.privateMb, m_last.privateMb,
                  m_first.threads, m_last.threads, m_failures);
}

bool CSoakRun::MetGoal() const
{
    return m_first.handles >= 0 && m_last.handles - m_first.handles <= kHandleMargin &&
           m_last.privateMb - m_first.privateMb <= kPrivateMarginMb && m_last.threads == m_first.threads &&
           m_failures == 0;
}
