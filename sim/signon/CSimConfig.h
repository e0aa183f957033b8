#pragma once
#include "common/CStringEx.h"
#include <vector>

// How the stand-in plays the product. Read afresh at every use from an ini file: the one
// named by the environment variable KELVO_SIGNON_SIM_CONFIG, else KelvoSignOnSim.ini beside
// the DLL. Every key of section [SignOn] is optional:
//   StartResult=0          result of starting the prompt (hex 0x... or decimal)
//   CompanionResult=0      result of creating the companion object
//   Callback=1             0: the prompt never reports back
//   CallbackDelayMs=200    time the prompt stays open before it reports
//   CallbackResult=0       result it reports (signed, e.g. -1)
//   CallbackDuringStart=0  1: the prompt reports at once, on the caller's thread, before the
//                          start returns
//   ReportAfterClose=0     1: a close or reset no longer stops a report that is due
//   Principal=user@WORKGROUP
//   Methods=1              authentication method values, comma-separated
//   FailedItems=           indices (from 1) of method items that answer E_FAIL
//   Journal=path           file every received call is appended to (default: KelvoSignOnSim.log beside the DLL)
class CSimConfig
{
public:
    static CSimConfig Read();
    // The journal alone, read for every line written to it.
    static CStringEx GetJournalPath();
    static CStringEx GetModuleFolder();

    HRESULT m_startResult = S_OK;
    HRESULT m_companionResult = S_OK;
    bool m_callback = true;
    DWORD m_callbackDelayMs = 200;
    LONG m_callbackResult = 0;
    // The report of a prompt is already on its way when the prompt is closed or reset, and
    // still arrives.
    bool m_reportAfterClose = false;
    // The prompt reports at once, before its start has returned to the caller.
    bool m_reportDuringStart = false;
    // The start waits this long and lets the caller's window messages in meanwhile, as a
    // product out of process does while its start crosses to it.
    DWORD m_startPumpMs = 0;
    CStringEx m_principal = L"user@WORKGROUP";
    std::vector<CStringEx> m_methods{CStringEx(L"1")};
    std::vector<LONG> m_failedItems;
    CStringEx m_journal;

private:
    static CStringEx GetPath();
    static CStringEx ReadText(LPCWSTR path, LPCWSTR key, LPCWSTR fallback);
    static LONG ReadNumber(LPCWSTR path, LPCWSTR key, LONG fallback);
    static std::vector<CStringEx> Split(const CStringEx& list);
};
