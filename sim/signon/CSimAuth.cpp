#include "sim/signon/CSimAuth.h"
#include "sim/signon/CSimConfig.h"
#include "sim/signon/CSimIdentity.h"
#include "sim/signon/CSimJournal.h"
#include "sim/signon/CSimMethodList.h"
#include "sim/signon/SimIds.h"
#include "common/CComPtrEx.h"
#include "common/CUniqueAnyEx.h"
#include <memory>

namespace
{
// Positions of the client's callback interface: the third method reports the result.
constexpr UINT kCallbackCompleted = 9;
constexpr UINT kAuthPositions = 80;

// A report the callback thread makes, with its own references.
struct PendingReport
{
    CComPtrEx<IUnknown> auth;
    CComPtrEx<IUnknown> callback;
    CEventEx cancel;
    DWORD delayMs = 0;
    LONG result = 0;
    bool reportAfterClose = false;  // a close no longer stops the report
    // Keeps the DLL loaded until the thread has left its code.
    CModuleEx pin;
};
}

IUnknown* CSimAuth::Create()
{
    CSimJournal::Write(L"Auth new");
    IUnknown* auth = (new CSimAuth())->GetInterface();
    auth->AddRef();
    return auth;
}

CSimAuth::CSimAuth() : CSimComObject(GetTable(), signonsim::IID_Auth)
{
}

CSimAuth::~CSimAuth()
{
    EndPrompt();
}

const CSimComObject::Table& CSimAuth::GetTable()
{
    static const Table table = [] {
        Table t = MakeTable(kAuthPositions);
        t[8] = Entry(&StartPrompt);
        t[9] = Entry(&ClosePrompt);
        t[11] = Entry(&Reset);
        t[28] = Entry(&GetIdentity);
        t[30] = Entry(&GetMethods);
        t[33] = Entry(&SetNumber<33>);
        t[35] = Entry(&SetNumber<35>);
        t[37] = Entry(&SetNumber<37>);
        t[39] = Entry(&SetNumber<39>);
        t[45] = Entry(&SetNumber<45>);
        t[47] = Entry(&SetNumber<47>);
        t[59] = Entry(&SetNumber<59>);
        t[49] = Entry(&SetText<49>);
        t[51] = Entry(&SetText<51>);
        t[69] = Entry(&SetText<69>);
        t[71] = Entry(&SetText<71>);
        t[73] = Entry(&SetText<73>);
        return t;
    }();
    return table;
}

namespace
{
// Dispatches the calling thread's messages for `ms` milliseconds, as COM does for a
// single-threaded apartment while a call to another process waits.
void PumpWhileStarting(DWORD ms)
{
    if (ms == 0)
        return;
    CSimJournal::Write(L"Pump %lu ms", ms);
    const ULONGLONG end = GetTickCount64() + ms;
    for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64())
    {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}
}

HRESULT CSimAuth::StartPrompt(Face* face, IUnknown* companion, IUnknown* callback, LONG* session)
{
    CSimAuth* self = Self<CSimAuth>(face);
    CSimJournal::Write(L"Auth 8 companion=%d callback=%d", companion ? 1 : 0, callback ? 1 : 0);
    const CSimConfig config = CSimConfig::Read();
    PumpWhileStarting(config.m_startPumpMs);
    if (FAILED(config.m_startResult))
    {
        // Which settings a start read is known only here: a refused start says so.
        CSimJournal::Write(L"Start failed 0x%08lX", static_cast<unsigned long>(config.m_startResult));
        return config.m_startResult;
    }
    if (session == nullptr)
        return E_POINTER;

    if (config.m_reportDuringStart && config.m_callback && callback != nullptr)
    {
        // A prompt that is answered before its start returns (a card already on the reader).
        {
            std::lock_guard<std::mutex> guard(self->m_lock);
            *session = ++self->m_sessions;
        }
        Report(callback, config.m_callbackResult);
        return config.m_startResult;
    }

    std::lock_guard<std::mutex> guard(self->m_lock);
    *session = ++self->m_sessions;
    // The product keeps the callback it was given for as long as the prompt is up.
    self->m_callback = CComPtrEx<IUnknown>(callback);
    if (config.m_callback && callback != nullptr)
    {
        auto report = std::make_unique<PendingReport>();
        report->auth = CComPtrEx<IUnknown>(self->GetInterface());
        report->callback = CComPtrEx<IUnknown>(callback);
        if (!report->cancel.Create())
            return HRESULT_FROM_WIN32(GetLastError());
        report->delayMs = config.m_callbackDelayMs;
        report->result = config.m_callbackResult;
        report->reportAfterClose = config.m_reportAfterClose;
        if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                reinterpret_cast<LPCWSTR>(&CallbackThread), report->pin.Put()))
            return HRESULT_FROM_WIN32(GetLastError());
        self->m_cancel = report->cancel;
        CThreadEx thread;
        if (thread.Create(&CallbackThread, report.get()) == 0)
            return HRESULT_FROM_WIN32(GetLastError());
        report.release();  // the thread owns it now
    }
    return config.m_startResult;
}

DWORD CSimAuth::CallbackThread(LPVOID context)
{
    std::unique_ptr<PendingReport> report(static_cast<PendingReport*>(context));
    const bool due = report->reportAfterClose ? (Sleep(report->delayMs), true)
                                              : report->cancel.Wait(report->delayMs) == WAIT_TIMEOUT;
    if (due)
        Report(report->callback.Get(), report->result);
    // The references go first; the DLL may unload only once this thread is out of it.
    const HMODULE module = report->pin.Detach();
    report.reset();
    FreeLibraryAndExitThread(module, 0);
}

void CSimAuth::Report(IUnknown* callback, LONG result)
{
    CSimJournal::Write(L"Callback %u %ld thread=%lu", kCallbackCompleted, result, GetCurrentThreadId());
    using Completed = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, LONG);
    void* const* table = *reinterpret_cast<void* const* const*>(callback);
    reinterpret_cast<Completed>(table[kCallbackCompleted])(callback, result);
}

void CSimAuth::EndPrompt()
{
    CComPtrEx<IUnknown> callback;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_cancel.Set();
        callback = std::move(m_callback);
    }
    // Released outside the lock: the callback's last release may call back into this object.
}

HRESULT CSimAuth::ClosePrompt(Face* face)
{
    CSimJournal::Write(L"Auth 9");
    Self<CSimAuth>(face)->EndPrompt();
    return S_OK;
}

HRESULT CSimAuth::Reset(Face* face)
{
    CSimJournal::Write(L"Auth 11");
    Self<CSimAuth>(face)->EndPrompt();
    return S_OK;
}

HRESULT CSimAuth::GetIdentity(Face*, IUnknown** identity)
{
    CSimJournal::Write(L"Auth 28");
    if (identity == nullptr)
        return E_POINTER;
    *identity = CSimIdentity::Create(CSimConfig::Read().m_principal);
    return S_OK;
}

HRESULT CSimAuth::GetMethods(Face*, IUnknown** methods)
{
    CSimJournal::Write(L"Auth 30");
    if (methods == nullptr)
        return E_POINTER;
    const CSimConfig config = CSimConfig::Read();
    *methods = CSimMethodList::Create(config.m_methods, config.m_failedItems);
    return S_OK;
}

template <UINT Position>
HRESULT CSimAuth::SetNumber(Face*, LONG value)
{
    CSimJournal::Write(L"Auth %u %ld", Position, value);
    return S_OK;
}

template <UINT Position>
HRESULT CSimAuth::SetText(Face*, BSTR text)
{
    CSimJournal::Write(L"Auth %u %s", Position, text ? text : L"");
    return S_OK;
}
