// Entry point of KelvoAgent.exe, and the session kinds it knows.
#include "agent/CKelvoAgentApp.h"
#include "cartlink/CConsoleSession.h"
#include "cartlink/CCtxSession.h"
#include "cartlink/CEndpointSessionFactory.h"
#include "cartlink/CRdpSession.h"

// Tried in the reverse of the order written: console, then Citrix, then Remote Desktop.
static const TEndpointSessionRegistration<CRdpSession> s_rdpSession;
static const TEndpointSessionRegistration<CCtxSession> s_ctxSession;
static const TEndpointSessionRegistration<CConsoleSession> s_consoleSession;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    CKelvoAgentApp app;
    return app.Run();
}
