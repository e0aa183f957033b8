#include "agent/CKelvoSignOnClient.h"
#include "agent/ComCallByPosition.h"
#include "agent/ProcessCallback.h"
#include "common/CErrorEx.h"
#include "common/CResourceLoader.h"
#include "common/CUtilLogging.h"
#include "resources/KVIdsSignOn.h"
#include <new>

namespace
{
// Method positions of the product's authentication interface.
enum : UINT
{
    kAuthStartPrompt = 8,   // (companion, callback, out integer)
    kAuthClosePrompt = 9,
    kAuthReset = 11,        // ends the current sign-on session
    kAuthIdentity = 28,     // (out identity object)
    kAuthMethods = 30,      // (out method list object)
    kAuthOption33 = 33,     // prompt options, all switched off
    kAuthOption35 = 35,
    kAuthOption45 = 45,
    kAuthOption47 = 47,
    kAuthPromptLeft = 37,
    kAuthPromptTop = 39,
    kAuthPromptText = 49,
    kAuthPromptTitle51 = 51,
    kAuthPromptTitle69 = 69,
    kAuthPromptTitle71 = 71,
    kAuthPromptTimeout = 59,
    kAuthColourScheme = 73,
};
// Identity object: the principal of the signed-in user.
constexpr UINT kIdentityPrincipal = 17;
// Method list object: an item by index from 1, and the count.
constexpr UINT kMethodListItem = 8;
constexpr UINT kMethodListCount = 9;

// Size of the product's prompt, used to centre it on the screen.
constexpr int kPromptWidth = 768;
constexpr int kPromptHeight = 163;
// Failure messages close by themselves after this time.
constexpr DWORD kMessageTimeoutMs = 5000;

}

CKelvoSignOnClient::~CKelvoSignOnClient()
{
    ReleaseProduct();
}

void CKelvoSignOnClient::SetAgentWindow(HWND window, LPCWSTR caption)
{
    m_hWnd = window;
    m_strCaption = caption;
}

HRESULT CKelvoSignOnClient::StartPrompt(ULONG run, int promptTimeoutSeconds, BOOL showMessages)
{
    // The product's object is created once and kept.
    if (!m_spAuth)
    {
        try
        {
            CreateAuthObject();
        }
        catch (...)
        {
            const HRESULT hr = HResultFromCaughtException(E_UNEXPECTED);
            ReportFailure(IDS_SIGNON_CREATE_FAILED, hr, showMessages);
            return hr;
        }
    }

    try
    {
        ConfigurePrompt(promptTimeoutSeconds);
        MakeCallback(run);

        // The product works without its companion; a companion it cannot give is passed as null.
        CComPtrEx<IUnknown> companion;
        try
        {
            companion = CreateProductObject(CLSID_OneSignPromptCompanion, IID_OneSignPromptCompanion);
        }
        catch (const CErrorEx&)
        {
        }

        LONG session = 0;
        const HRESULT hr = CallComMethod(m_spAuth.Get(), kAuthStartPrompt, companion.Get(),
                                         m_spCallback.Get(), &session);
        ThrowIfFailed(hr);
        return hr;
    }
    catch (...)
    {
        const HRESULT hr = HResultFromCaughtException(E_UNEXPECTED);
        ReportFailure(IDS_SIGNON_START_FAILED, hr, showMessages);
        return hr;
    }
}

HRESULT CKelvoSignOnClient::ReadIdentity(CStringEx& principal)
{
    try
    {
        CComPtrEx<IUnknown> identity;
        InvokeComMethod(m_spAuth.Get(), kAuthIdentity, identity.Put());
        CBstrEx name;
        InvokeComMethod(identity.Get(), kIdentityPrincipal, name.Put());
        principal = CStringEx(name.Text(), static_cast<int>(name.Length()));
        return S_OK;
    }
    catch (...)
    {
        return HResultFromCaughtException(E_UNEXPECTED);
    }
}

HRESULT CKelvoSignOnClient::ReadMethods(std::vector<CStringEx>& values)
{
    try
    {
        values.clear();
        CComPtrEx<IUnknown> list;
        InvokeComMethod(m_spAuth.Get(), kAuthMethods, list.Put());
        LONG count = 0;
        InvokeComMethod(list.Get(), kMethodListCount, &count);
        for (LONG index = 1; index <= count; ++index)
        {
            // An item the product does not answer with S_OK is left out; the others still count.
            CBstrEx item;
            if (CallComMethod(list.Get(), kMethodListItem, index, item.Put()) == S_OK)
                values.emplace_back(item.Text(), static_cast<int>(item.Length()));
        }
        return S_OK;
    }
    catch (...)
    {
        return HResultFromCaughtException(E_UNEXPECTED);
    }
}

void CKelvoSignOnClient::EndSession(bool promptOpen, bool reset)
{
    if (promptOpen)
        RetireCallback();
    if (promptOpen || reset)
        ResetProduct(promptOpen);
}

void CKelvoSignOnClient::ReleaseProduct()
{
    // The product holds the callback while a prompt is up, and the callback holds the
    // product: the reset makes the product let go of the callback, and the retired callback
    // lets go of the product, so that neither keeps the other alive.
    ResetProduct(false);
    RetireCallback();
    m_spAuth.Reset();
}

POINT CKelvoSignOnClient::GetPromptPosition(int screenWidth, int screenHeight)
{
    // Integer division rounds toward zero, also on screens smaller than the prompt.
    return POINT{(screenWidth - kPromptWidth) / 2, (screenHeight - kPromptHeight) / 2};
}

void CKelvoSignOnClient::CreateAuthObject()
{
    m_spAuth = CreateProductObject(CLSID_OneSignAuth, IID_OneSignAuth);
}

void CKelvoSignOnClient::ConfigurePrompt(int promptTimeoutSeconds)
{
    IUnknown* auth = m_spAuth.Get();
    const CStringEx caption = CResourceLoader::Instance().LoadText(IDS_SIGNON_PROMPT_CAPTION);
    const CStringEx text = CResourceLoader::Instance().LoadText(IDS_SIGNON_PROMPT_TEXT);
    const CBstrEx colourScheme(L"Default(Red)");
    const POINT position = GetPromptPosition(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));

    // A fresh session, then the prompt's options, texts, time-out, place and colours.
    InvokeComMethod(auth, kAuthReset);
    InvokeComMethod(auth, kAuthOption33, LONG(0));
    InvokeComMethod(auth, kAuthOption35, LONG(0));
    InvokeComMethod(auth, kAuthPromptTitle51, caption.GetBSTR());
    InvokeComMethod(auth, kAuthPromptTitle69, caption.GetBSTR());
    InvokeComMethod(auth, kAuthPromptText, text.GetBSTR());
    InvokeComMethod(auth, kAuthPromptTitle71, caption.GetBSTR());
    InvokeComMethod(auth, kAuthOption47, LONG(0));
    InvokeComMethod(auth, kAuthPromptTimeout, static_cast<LONG>(promptTimeoutSeconds));
    InvokeComMethod(auth, kAuthPromptLeft, static_cast<LONG>(position.x));
    InvokeComMethod(auth, kAuthPromptTop, static_cast<LONG>(position.y));
    InvokeComMethod(auth, kAuthOption45, LONG(0));
    InvokeComMethod(auth, kAuthColourScheme, colourScheme.Get());
}

void CKelvoSignOnClient::MakeCallback(ULONG run)
{
    // Each prompt has a callback of its own run: the last prompt's, whose report is in or
    // was ended, never reports again.
    RetireCallback();
    // The new object has no owner until the query below takes the first reference.
    ProcessCallback* callback = ProcessCallback::Create(m_hWnd, m_spAuth.Get(), run);
    CComPtrEx<IUnknown> owner(static_cast<IUnknown*>(static_cast<IProcessCallback*>(callback)));
    const HRESULT hr = owner.QueryInterface(IID_IProcessCallback, m_spCallback);
    // Without the interface the product is started with a null callback.
    if (hr != E_NOINTERFACE)
        ThrowIfFailed(hr);
}

CComPtrEx<IUnknown> CKelvoSignOnClient::CreateProductObject(REFCLSID clsid, REFIID iid)
{
    // Any kind of server will do: in-process, handler, local or remote.
    const DWORD contexts = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
    CComPtrEx<IUnknown> unknown;
    ThrowIfFailed(CoCreateInstance(clsid, nullptr, contexts, IID_IUnknown, unknown.PutVoid()));
    ThrowIfFailed(OleRun(unknown.Get()));
    CComPtrEx<IUnknown> object;
    ThrowIfFailed(unknown.QueryInterface(iid, object));
    return object;
}

void CKelvoSignOnClient::ResetProduct(bool closePrompt)
{
    if (!m_spAuth)
        return;
    // The session ends on the agent's side whatever the product answers, and the next
    // start resets the product again, so a failed close or reset changes nothing here.
    if (closePrompt)
        CallComMethod(m_spAuth.Get(), kAuthClosePrompt);
    CallComMethod(m_spAuth.Get(), kAuthReset);
}

void CKelvoSignOnClient::RetireCallback()
{
    // The callback is always the ProcessCallback that MakeCallback made.
    if (m_spCallback)
        static_cast<ProcessCallback*>(m_spCallback.Get())->Retire();
    m_spCallback.Reset();
}

void CKelvoSignOnClient::ReportFailure(UINT logStringId, HRESULT hr, BOOL showMessages)
{
    CUtilLogging::Instance().LogRes(2, logStringId, static_cast<unsigned>(hr));
    if (showMessages)
        CResourceLoader::Instance().MessageBoxRes(m_hWnd, IDS_SIGNON_FAILED, m_strCaption,
                                                  MB_OK | MB_ICONERROR, kMessageTimeoutMs);
}
