#pragma once
#include "agent/OneSignAuthLib.h"
#include "common/CComPtrEx.h"

// The agent's callback object handed to the sign-on product at each start, one per sign-in
// run. The product may call it on any thread: it touches no agent state, only the product's
// authentication object (to close the prompt) and a message posted to the agent window,
// which carries the number of the run the prompt belongs to.
class ProcessCallback final : public IProcessCallback
{
public:
    // Creates the callback of sign-in run `run` for the agent window; it holds one reference
    // to the product's authentication interface. The object starts with count 0: the
    // caller's first QueryInterface takes ownership.
    static ProcessCallback* Create(HWND agentWindow, IUnknown* auth, ULONG run);

    // Drops the reference to the authentication interface and goes quiet: a result the
    // product still reports closes no prompt and is not posted. The product holds this
    // callback while its prompt is up, so the two would keep each other alive: the agent
    // cuts the link when it lets go of the product. It also retires a callback whose prompt
    // it ended itself, so that a late report of that prompt is never taken for the next
    // prompt's.
    void Retire();

    // IUnknown: only IUnknown and IProcessCallback are offered, never IDispatch.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch, through the type information of IProcessCallback in OneSignAuthLib 1.0.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** typeInfo) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argError) override;

    // IProcessCallback.
    HRESULT STDMETHODCALLTYPE AuthenticationStarted() override;
    HRESULT STDMETHODCALLTYPE AuthenticationProgress(LONG state) override;
    HRESULT STDMETHODCALLTYPE AuthenticationCompleted(LONG result) override;

private:
    ProcessCallback(HWND agentWindow, IUnknown* auth, ULONG run) noexcept;
    ~ProcessCallback() = default;
    ProcessCallback(const ProcessCallback&) = delete;
    ProcessCallback& operator=(const ProcessCallback&) = delete;

    LONG m_refCount;
    HWND m_agentWindow;
    ULONG m_run;               // the sign-in run whose prompt this callback reports
    SRWLOCK m_authLock = SRWLOCK_INIT;
    bool m_retired = false;    // under m_authLock
    CComPtrEx<IUnknown> m_spAuth;
};
