#include "sim/driver/ScenarioWait.h"
#include <objbase.h>

bool ScenarioWaitFor(const std::function<bool()>& condition, DWORD boundMs)
{
    const ULONGLONG end = GetTickCount64() + boundMs;
    for (;;)
    {
        if (condition())
            return true;
        if (GetTickCount64() >= end)
            return condition();
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 15, QS_ALLINPUT);
    }
}

CStringEx ScenarioUniqueName(LPCWSTR prefix)
{
    GUID guid = {};
    CoCreateGuid(&guid);
    CStringEx name;
    name.Format(L"%s-%08lX%04X%04X%02X%02X%02X%02X%02X%02X%02X%02X", prefix, guid.Data1, guid.Data2, guid.Data3,
                guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                guid.Data4[6], guid.Data4[7]);
    return name;
}

std::string ScenarioUtf8(LPCWSTR text)
{
    if (text == nullptr || *text == L'\0')
        return std::string();
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &narrow[0], bytes, nullptr, nullptr);
    narrow.resize(static_cast<size_t>(bytes) - 1);
    return narrow;
}

CStringEx ScenarioProgramFolder()
{
    wchar_t path[MAX_PATH * 2] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, ARRAYSIZE(path));
    CStringEx full(path, static_cast<int>(length < ARRAYSIZE(path) ? length : 0));
    const int slash = full.ReverseFind(L'\\');
    return slash > 0 ? full.Left(slash) : CStringEx(L".");
}

CStringEx ScenarioPath(LPCWSTR folder, LPCWSTR name)
{
    CStringEx path;
    path.Format(L"%s\\%s", folder, name);
    return path;
}
