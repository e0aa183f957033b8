#include "agent/CKelvoSignInRun.h"
#include "resources/KVIdsAgentAuth.h"

void CKelvoSignInRun::Begin(ULONG number)
{
    m_number = number;
    m_stage = Stage::Starting;
    m_announced = false;
    m_held = false;
    SetUser(CStringEx(), CStringEx(), 0);
}

void CKelvoSignInRun::End()
{
    m_stage = Stage::None;
    m_announced = false;
    m_held = false;
    SetUser(CStringEx(), CStringEx(), 0);
}

void CKelvoSignInRun::SetUser(const CStringEx& name, const CStringEx& domain, BYTE flags)
{
    m_userName = name;
    m_userDomain = domain;
    m_authFlags = flags;
}

DWORD CKelvoSignInRun::EndCode(KelvoRunEnd reason) noexcept
{
    switch (reason)
    {
    case KelvoRunEnd::Granted:
        return 0;
    case KelvoRunEnd::NotSignedIn:
    case KelvoRunEnd::Failed:
        return 1;
    default:
        return 2;
    }
}

UINT CKelvoSignInRun::ReasonTextId(KelvoRunEnd reason) noexcept
{
    switch (reason)
    {
    case KelvoRunEnd::Granted: return IDS_RUN_END_GRANTED;
    case KelvoRunEnd::NotSignedIn: return IDS_RUN_END_NOT_SIGNED_IN;
    case KelvoRunEnd::Failed: return IDS_RUN_END_FAILED;
    case KelvoRunEnd::FailedShown: return IDS_RUN_END_FAILED_SHOWN;
    case KelvoRunEnd::Declined: return IDS_RUN_END_DECLINED;
    case KelvoRunEnd::PromptUnanswered: return IDS_RUN_END_PROMPT_UNANSWERED;
    case KelvoRunEnd::SessionAway: return IDS_RUN_END_SESSION_AWAY;
    case KelvoRunEnd::CartDisconnected: return IDS_RUN_END_CART_DISCONNECTED;
    case KelvoRunEnd::WorkerRestarted: return IDS_RUN_END_WORKER_RESTARTED;
    case KelvoRunEnd::SessionEnding: return IDS_RUN_END_SESSION_ENDING;
    case KelvoRunEnd::AgentExit: return IDS_RUN_END_AGENT_EXIT;
    case KelvoRunEnd::RemoteSession: return IDS_RUN_END_REMOTE_SESSION;
    case KelvoRunEnd::CartGone: return IDS_RUN_END_CART_GONE;
    }
    return IDS_RUN_END_FAILED;
}
