// Window and thread messages of the agent, and the agent window's timer identifiers.
// Every message is posted, never sent.
#pragma once
#include <windows.h>

enum : UINT
{
    WM_AGENT_CLOSE = WM_USER + 11,               // another process: end the agent (the stop switch)
    WM_AGENT_NOTIFY_ICON = WM_USER + 12,         // the notification icon: lParam = mouse message
    WM_AGENT_RELOAD_SETTINGS = WM_USER + 13,     // another process: read the configuration again
    WM_AGENT_AUTH_STARTED = WM_USER + 16,        // window to itself: the sign-on prompt is shown; lParam = run
    WM_AGENT_AUTH_RESULT = WM_USER + 17,         // sign-on callback: wParam = result, 0 success; lParam = run
    WM_AGENT_AUTHORIZE = WM_USER + 18,           // window to itself: lParam = run
    WM_AGENT_REMOTE_SESSION = WM_USER + 20,      // another process: wParam 1 = Citrix session started
    WM_AGENT_CHANNEL_DATA = WM_USER + 21,        // Citrix channel reader: wParam = packet type, lParam = length
    WM_AGENT_SET_TIMER = WM_USER + 22,           // window to worker thread
    WM_AGENT_SEND = WM_USER + 27,                // window to worker thread
    WM_AGENT_AUTH_DRAWER_ACCESS = WM_USER + 28,  // window to worker thread, and back
    WM_AGENT_BIND_COMPUTER_NAME = WM_USER + 29,  // window to worker thread, and back
    WM_AGENT_BOUND_COMPUTER_NAME = WM_USER + 30, // worker thread to window
    WM_AGENT_UNAUTHORIZED_USER = WM_USER + 31,   // window to worker thread
    WM_AGENT_END_ACCESS = WM_USER + 34,          // window to worker thread, and back: wParam = result
    WM_AGENT_DEVICE_STATUS = WM_USER + 35,       // worker thread to window, and its own poll timer
};

enum : UINT_PTR
{
    KELVO_TIMER_AUTH_START = 14,    // starts an authentication of the sign-on product
    KELVO_TIMER_LOGON_SCREEN = 15,  // watches for the logon screen
    KELVO_TIMER_PROMPT_ANSWER = 16, // ends a run whose prompt the sign-on product never answers
    KELVO_TIMER_CONNECT_CART = 19,  // connects the cart
};
