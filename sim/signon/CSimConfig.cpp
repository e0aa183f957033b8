#include "sim/signon/CSimConfig.h"
#include "sim/signon/SimModule.h"
#include <cstdlib>

namespace
{
constexpr wchar_t kSection[] = L"SignOn";
}

CStringEx CSimConfig::GetModuleFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(SimModuleHandle(), path, MAX_PATH);
    CStringEx folder(path);
    const int slash = folder.ReverseFind(L'\\');
    return slash >= 0 ? folder.Left(slash) : CStringEx(L".");
}

CStringEx CSimConfig::GetPath()
{
    CStringEx path;
    const DWORD needed = GetEnvironmentVariableW(L"KELVO_SIGNON_SIM_CONFIG", nullptr, 0);
    if (needed > 1)
    {
        GetEnvironmentVariableW(L"KELVO_SIGNON_SIM_CONFIG", path.GetBuffer(static_cast<int>(needed)), needed);
        path.ReleaseBuffer();
    }
    else
    {
        path = GetModuleFolder();
        path += L"\\KelvoSignOnSim.ini";
    }

    return path;
}

CSimConfig CSimConfig::Read()
{
    CSimConfig config;
    const CStringEx path = GetPath();
    config.m_startResult = ReadNumber(path, L"StartResult", S_OK);
    config.m_companionResult = ReadNumber(path, L"CompanionResult", S_OK);
    config.m_callback = ReadNumber(path, L"Callback", 1) != 0;
    config.m_callbackDelayMs = static_cast<DWORD>(ReadNumber(path, L"CallbackDelayMs", 200));
    config.m_callbackResult = ReadNumber(path, L"CallbackResult", 0);
    config.m_reportAfterClose = ReadNumber(path, L"ReportAfterClose", 0) != 0;
    config.m_reportDuringStart = ReadNumber(path, L"CallbackDuringStart", 0) != 0;
    config.m_startPumpMs = static_cast<DWORD>(ReadNumber(path, L"StartPumpMs", 0));
    config.m_principal = ReadText(path, L"Principal", config.m_principal);
    config.m_methods = Split(ReadText(path, L"Methods", L"1"));
    for (const CStringEx& item : Split(ReadText(path, L"FailedItems", L"")))
        config.m_failedItems.push_back(wcstol(item, nullptr, 10));
    config.m_journal = GetJournalPath();
    return config;
}

CStringEx CSimConfig::GetJournalPath()
{
    CStringEx fallback = GetModuleFolder();
    fallback += L"\\KelvoSignOnSim.log";
    return ReadText(GetPath(), L"Journal", fallback);
}

CStringEx CSimConfig::ReadText(LPCWSTR path, LPCWSTR key, LPCWSTR fallback)
{
    CStringEx text;
    const DWORD length = GetPrivateProfileStringW(kSection, key, fallback, text.GetBuffer(1024), 1024, path);
    text.ReleaseBuffer(static_cast<int>(length));
    return text.Trim();
}

LONG CSimConfig::ReadNumber(LPCWSTR path, LPCWSTR key, LONG fallback)
{
    const CStringEx text = ReadText(path, key, L"");
    if (text.IsEmpty())
        return fallback;
    // Read wide so that results written as 0x8... keep their bits.
    return static_cast<LONG>(wcstoll(text, nullptr, 0));
}

std::vector<CStringEx> CSimConfig::Split(const CStringEx& list)
{
    std::vector<CStringEx> items;
    int start = 0;
    while (start <= list.GetLength() && !list.IsEmpty())
    {
        int comma = list.Find(L',', start);
        if (comma < 0)
            comma = list.GetLength();
        CStringEx item = list.Mid(start, comma - start);
        if (!item.Trim().IsEmpty())
            items.push_back(item);
        start = comma + 1;
    }
    return items;
}
