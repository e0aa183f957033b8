#include "common/CHandleEx.h"

BOOL CEventEx::Create()
{
    Close();
    Attach(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    return IsValid();
}

BOOL CMutexEx::Create(LPCWSTR name)
{
    Close();
    Attach(CreateMutexW(nullptr, FALSE, name));
    return IsValid();
}

DWORD CThreadEx::Create(LPTHREAD_START_ROUTINE startRoutine, LPVOID context, DWORD creationFlags, SIZE_T stackReserve)
{
    Close();
    if (startRoutine == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    DWORD threadId = 0;
    if (stackReserve != 0)
        creationFlags |= STACK_SIZE_PARAM_IS_A_RESERVATION;
    Attach(CreateThread(nullptr, stackReserve, startRoutine, context, creationFlags, &threadId));
    return IsValid() ? threadId : 0;
}

BOOL CProcessEx::Open(DWORD processId, DWORD access)
{
    Close();
    Attach(OpenProcess(access, FALSE, processId));
    return IsValid();
}
