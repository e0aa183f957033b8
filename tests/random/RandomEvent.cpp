#include "tests/random/RandomEvent.h"
#include <windows.h>
#include <cstdio>

namespace
{
std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

const char* SignOnName(SignOnKind kind)
{
    switch (kind)
    {
    case SignOnKind::InGroup: return "nurse (in the group)";
    case SignOnKind::NotInGroup: return "visitor (in no group)";
    case SignOnKind::Administrator: return "kiosk (administrator)";
    case SignOnKind::Stranger: return "stranger@ELSEWHERE";
    case SignOnKind::NoDomain: return "nurse without a domain";
    case SignOnKind::EmptyPrincipal: return "success without a principal";
    case SignOnKind::Cancel: return "the user cancels";
    case SignOnKind::Error: return "an error";
    case SignOnKind::StartFails: return "the start fails";
    case SignOnKind::ReportAfterClose: return "nurse, reported even after the prompt closed";
    case SignOnKind::NoReport: return "no report at all";
    }
    return "?";
}

const char* ButtonName(int button)
{
    return button == IDYES ? "Yes" : button == IDNO ? "No" : "OK";
}
}

const char* StageName(AimStage stage)
{
    switch (stage)
    {
    case AimStage::PromptOpen: return "the prompt opens";
    case AimStage::Reported: return "the product reported";
    case AimStage::AccessInFlight: return "drawer access is in flight";
    case AimStage::RebindBox: return "the rebind question is open";
    }
    return "?";
}

std::string RandomEvent::Describe() const
{
    char text[256] = {};
    switch (kind)
    {
    case RandomEventKind::Press: snprintf(text, sizeof(text), "press the button for %d ms", value); break;
    case RandomEventKind::Wait: snprintf(text, sizeof(text), "wait %d ms", value); break;
    case RandomEventKind::Lock: snprintf(text, sizeof(text), "lock"); break;
    case RandomEventKind::Unlock: snprintf(text, sizeof(text), "unlock"); break;
    case RandomEventKind::ConsoleDisconnect: snprintf(text, sizeof(text), "console disconnect"); break;
    case RandomEventKind::ConsoleConnect: snprintf(text, sizeof(text), "console connect"); break;
    case RandomEventKind::RemoteDisconnect: snprintf(text, sizeof(text), "remote disconnect"); break;
    case RandomEventKind::RemoteConnect: snprintf(text, sizeof(text), "remote connect"); break;
    case RandomEventKind::CartRemoved: snprintf(text, sizeof(text), "cart unplugged"); break;
    case RandomEventKind::CartArrived: snprintf(text, sizeof(text), "cart arrives"); break;
    case RandomEventKind::CartLate:
        snprintf(text, sizeof(text), "cart answers %s%d ms late", drawerAccessOnly ? "drawer access " : "", value);
        break;
    case RandomEventKind::CartSilent: snprintf(text, sizeof(text), "cart stops answering"); break;
    case RandomEventKind::CartNormal: snprintf(text, sizeof(text), "cart answers at once"); break;
    case RandomEventKind::CartRefuses: snprintf(text, sizeof(text), "cart refuses drawer access"); break;
    case RandomEventKind::CartGrants: snprintf(text, sizeof(text), "cart grants drawer access"); break;
    case RandomEventKind::CartBoundElsewhere: snprintf(text, sizeof(text), "cart bound to OTHER-WS"); break;
    case RandomEventKind::CartBoundHere: snprintf(text, sizeof(text), "cart bound to this computer"); break;
    case RandomEventKind::SignOn:
        snprintf(text, sizeof(text), "sign-on: %s, methods '%s', reports after %d ms", SignOnName(signOn),
                 Narrow(methods).c_str(), delayMs);
        break;
    case RandomEventKind::Answer: snprintf(text, sizeof(text), "answer %s", ButtonName(value)); break;
    case RandomEventKind::Reload:
        snprintf(text, sizeof(text), "reload: groups '%s'%s%s", Narrow(groups).c_str(),
                 preAuthorized ? ", pre-authorized" : "", retry ? ", retry" : "");
        break;
    case RandomEventKind::Restart:
        snprintf(text, sizeof(text), "stop switch and a new agent%s", skipFirstAutoStart ? " (no automatic start)" : "");
        break;
    case RandomEventKind::CitrixStarted: snprintf(text, sizeof(text), "Citrix session started (1044, 1)"); break;
    case RandomEventKind::CitrixEnded: snprintf(text, sizeof(text), "Citrix session ended (1044, 0)"); break;
    case RandomEventKind::EndingCancelled:
        snprintf(text, sizeof(text), "Windows asks to end the session, then goes on after %d ms", value);
        break;
    case RandomEventKind::MenuStart: snprintf(text, sizeof(text), "menu: start authentication"); break;
    case RandomEventKind::MenuReconnect: snprintf(text, sizeof(text), "menu: reconnect"); break;
    case RandomEventKind::Aimed:
    {
        RandomEvent inner = *this;
        inner.kind = then;
        inner.gapMs = 0;
        snprintf(text, sizeof(text), "press; when %s: %s%s", StageName(stage), inner.Describe().c_str(),
                 thenPress ? ", unlock and start from the menu" : "");
        break;
    }
    }
    std::string what = text;
    if (gapMs > 0)
        what += " (after " + std::to_string(gapMs) + " ms)";
    return what;
}
