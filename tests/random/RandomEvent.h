#pragma once
// One real event of the random tester: something a user, the session, the cart, the
// sign-on product, an administrator or Windows does to a running agent. A sequence of them
// is drawn by CRandomSequence and played by CRandomWorld.
#include <cstdint>
#include <string>

enum class RandomEventKind
{
    Press,               // the drawer button held for `value` ms, then let go
    Wait,                // nothing happens for `value` ms
    Lock,
    Unlock,
    ConsoleDisconnect,
    ConsoleConnect,
    RemoteDisconnect,
    RemoteConnect,
    CartRemoved,         // the cart is unplugged; Windows tells the agent
    CartArrived,         // the cart is plugged in (or arrives again while present); Windows tells the agent
    CartLate,            // the cart answers every exchange (or only drawer access) `value` ms late from now on
    CartSilent,          // the cart takes requests and never answers
    CartNormal,          // the cart answers at once again
    CartRefuses,         // the cart refuses every drawer access
    CartGrants,          // the cart grants drawer access again
    CartBoundElsewhere,  // the cart is bound to another computer
    CartBoundHere,       // the cart is bound to this computer
    SignOn,              // the sign-on product's next prompts behave as `signOn` says
    Answer,              // the user presses `value` (IDYES, IDNO, IDOK) in the box shown, if any
    Reload,              // an administrator saves a changed configuration; the agent is told
    Restart,             // the agent is ended with the stop switch and a new one starts
    CitrixStarted,       // the remote-session notice: a Citrix session of this user has the cart
    CitrixEnded,         // the notice that it ended
    EndingCancelled,     // Windows asks to end the session, then tells that it goes on
    MenuStart,           // the menu's start-authentication command
    MenuReconnect,       // the menu's reconnect command
    Aimed,               // a press, then `then` once the sign-in reaches `stage` (or a bound passed)
};

// The stage of a sign-in an aimed event waits for.
enum class AimStage
{
    PromptOpen,      // the cart heard that the prompt opened
    Reported,        // the cart heard the result, before any drawer access
    AccessInFlight,  // drawer access is with a cart that answers it late
    RebindBox,       // the question whether to bind the cart here is open
};

// How the stage reads in the tester's lines ("the prompt opens").
const char* StageName(AimStage stage);

// What the sign-on product does at its next prompts.
enum class SignOnKind
{
    InGroup,           // signs in nurse, in the configured group
    NotInGroup,        // signs in visitor, in no group
    Administrator,     // signs in kiosk, an administrator of this computer
    Stranger,          // signs in a user of a domain nobody knows: only pre-authorization grants
    NoDomain,          // a principal without a domain
    EmptyPrincipal,    // reports success but names nobody
    Cancel,            // the user cancels the prompt
    Error,             // the prompt reports an error
    StartFails,        // the prompt cannot be started
    ReportAfterClose,  // a report already on its way when the prompt is closed still arrives
    NoReport,          // the prompt never reports (the product crashed)
};

struct RandomEvent
{
    RandomEventKind kind = RandomEventKind::Wait;
    int value = 0;               // ms, or a button ID
    int gapMs = 0;               // the pause before the event
    bool drawerAccessOnly = false;  // CartLate: only the AuthDrawerAccess exchanges
    // SignOn
    SignOnKind signOn = SignOnKind::InGroup;
    int delayMs = 200;           // how long the prompt stays open before it reports
    std::wstring methods = L"1"; // the sign-in's authentication method values
    // Reload
    std::wstring groups = L"Cart Users";
    bool preAuthorized = false;
    bool retry = false;
    // Restart
    bool skipFirstAutoStart = true;
    // Aimed: the event played at the stage; with `thenPress`, an unlock and the menu's start
    // follow it
    AimStage stage = AimStage::PromptOpen;
    RandomEventKind then = RandomEventKind::Lock;
    bool thenPress = false;

    // One line for a person, e.g. "sign-on: visitor, methods 2,4, reports after 700 ms".
    std::string Describe() const;
};
