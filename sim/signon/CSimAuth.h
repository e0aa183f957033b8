#pragma once
#include "sim/signon/CSimComObject.h"
#include "common/CComPtrEx.h"
#include "common/CHandleEx.h"
#include <mutex>

// The product's authentication object. It records every call, and after a start it
// reports the configured result to the client's callback from a thread of its own once
// the configured delay has passed, unless the prompt is closed or reset first (or, when so
// configured, at once on the caller's thread before the start returns).
class CSimAuth : public CSimComObject
{
public:
    // A new object with its first reference handed to the caller.
    static IUnknown* Create();

private:
    CSimAuth();
    ~CSimAuth() override;

    static HRESULT STDMETHODCALLTYPE StartPrompt(Face* face, IUnknown* companion, IUnknown* callback, LONG* session);
    static HRESULT STDMETHODCALLTYPE ClosePrompt(Face* face);
    static HRESULT STDMETHODCALLTYPE Reset(Face* face);
    static HRESULT STDMETHODCALLTYPE GetIdentity(Face* face, IUnknown** identity);
    static HRESULT STDMETHODCALLTYPE GetMethods(Face* face, IUnknown** methods);
    template <UINT Position>
    static HRESULT STDMETHODCALLTYPE SetNumber(Face* face, LONG value);
    template <UINT Position>
    static HRESULT STDMETHODCALLTYPE SetText(Face* face, BSTR text);
    static DWORD WINAPI CallbackThread(LPVOID context);
    // Calls the client's callback with the prompt's result, as the product reports.
    static void Report(IUnknown* callback, LONG result);

    // Stops a report that has not been made yet and lets go of the callback, as the
    // product does when its prompt is closed or reset.
    void EndPrompt();

    static const Table& GetTable();

    std::mutex m_lock;
    CEventEx m_cancel;  // set when the current prompt goes away
    // The callback the current prompt was started with, held until the prompt is closed or
    // reset, or the object goes.
    CComPtrEx<IUnknown> m_callback;
    LONG m_sessions = 0;
};
