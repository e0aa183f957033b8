#pragma once
// What the random tester has made of the world so far: the sign-on product's behaviour,
// the agent's configuration file, the cart and the session. The tester keeps it as it plays
// events; the reference model reads it to know what was in force when.
#include <string>

struct RandomWorldState
{
    enum class Session { Active, Locked, ConsoleAway, RemoteAway };

    // The sign-on stand-in, as its configuration file says now.
    std::wstring principal;      // e.g. nurse@WS01; empty: names nobody
    std::wstring methods = L"1";
    int delayMs = 50;
    bool callback = true;        // the prompt reports
    long callbackResult = 0;
    long startResult = 0;
    bool reportAfterClose = false;
    // The agent's configuration file.
    std::wstring groups = L"Cart Users";
    bool preAuthorized = false;
    bool retry = false;
    // The cart.
    bool cartPresent = true;
    int cartDelayMs = 0;         // answers this late; -1: never answers
    bool cartRefuses = false;
    bool cartBoundElsewhere = false;
    // The session and the agent.
    Session session = Session::Active;
    bool citrix = false;         // a Citrix session of this user has the cart (notice 1044)
    bool agentConnected = true;  // the agent showed the cart connected just before the event
    unsigned long agentProcessId = 0;
};
