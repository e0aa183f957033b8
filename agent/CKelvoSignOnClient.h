#pragma once
#include "agent/OneSignAuthLib.h"
#include "common/CComPtrEx.h"
#include "common/CStringEx.h"
#include <vector>

// Everything the agent window does with the single sign-on product: it creates the
// product's authentication object, configures and starts the prompt of a sign-in run with a
// callback of that run, reads who signed in and how, and ends the product's side of a run.
// The run itself (its number, its stage, its user) is the window's; this class keeps only
// the product's objects. The agent window owns one instance and uses it on its
// user-interface thread only.
class CKelvoSignOnClient
{
public:
    CKelvoSignOnClient() = default;
    ~CKelvoSignOnClient();
    CKelvoSignOnClient(const CKelvoSignOnClient&) = delete;
    CKelvoSignOnClient& operator=(const CKelvoSignOnClient&) = delete;

    // The window that receives the posted results and the message boxes, and the caption
    // of those boxes (the application title).
    void SetAgentWindow(HWND window, LPCWSTR caption);

    // Resets the product, configures its prompt (time-out in seconds) and starts it with a
    // new callback that reports for run `run`. 0 when the prompt is up, otherwise the
    // failing COM result, logged, and shown in a box when showMessages is set.
    HRESULT StartPrompt(ULONG run, int promptTimeoutSeconds, BOOL showMessages);
    // The principal of the signed-in user, as the product reports it.
    HRESULT ReadIdentity(CStringEx& principal);
    // The authentication methods of the sign-in as decimal texts; items the product
    // could not give are left out.
    HRESULT ReadMethods(std::vector<CStringEx>& values);
    // Ends the product's side of a run: a prompt still open is closed and its callback
    // silenced, so that a report already on its way is never taken for a later prompt's;
    // with `reset` the product's sign-on session is reset.
    void EndSession(bool promptOpen, bool reset);
    // Drops the product's objects; the window does this when it is destroyed.
    void ReleaseProduct();

    // Where the prompt goes on a screen of the given size: centred for a 768 x 163 prompt.
    static POINT GetPromptPosition(int screenWidth, int screenHeight);

private:
    void CreateAuthObject();
    void ConfigurePrompt(int promptTimeoutSeconds);
    void MakeCallback(ULONG run);
    static CComPtrEx<IUnknown> CreateProductObject(REFCLSID clsid, REFIID iid);
    void ResetProduct(bool closePrompt);
    // Silences the callback of the last prompt: it reports nothing and closes nothing.
    void RetireCallback();
    void ReportFailure(UINT logStringId, HRESULT hr, BOOL showMessages);

    HWND m_hWnd = nullptr;
    CStringEx m_strCaption;
    CComPtrEx<IUnknown> m_spAuth;                // authentication interface, kept until released
    CComPtrEx<IProcessCallback> m_spCallback;    // the callback of the last prompt started
};
