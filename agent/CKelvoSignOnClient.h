#pragma once
#include "agent/OneSignAuthLib.h"
#include "common/CComPtrEx.h"
#include "common/CStringEx.h"
#include <vector>

// Everything the agent window does with the single sign-on product: it creates the
// product's authentication object, configures and starts the prompt with the agent's
// callback, reads who signed in and how, and ends the sign-on session. The agent window
// owns one instance and uses it on its user-interface thread only; the window's decision
// handlers read and change the session state below directly.
class CKelvoSignOnClient
{
public:
    CKelvoSignOnClient() = default;
    ~CKelvoSignOnClient();
    CKelvoSignOnClient(const CKelvoSignOnClient&) = delete;
    CKelvoSignOnClient& operator=(const CKelvoSignOnClient&) = delete;

    // The window that receives the posted results, owns timer 14 and the message boxes,
    // and the caption of those boxes (the application title).
    void SetAgentWindow(HWND window, LPCWSTR caption);

    // Starts an authentication prompt; 0 when it started or one is already open, otherwise
    // the failing COM result. showMessages adds a message box to the log line of a failure.
    HRESULT StartAuthentication(BOOL showMessages);
    // The principal of the signed-in user, as the product reports it.
    HRESULT ReadIdentity(CStringEx& principal);
    // The authentication methods of the sign-in as decimal texts; items the product
    // could not give are left out.
    HRESULT ReadMethods(std::vector<CStringEx>& values);
    // Ends the sign-on session with an end code: tells the window, closes the prompt if
    // one is open, resets the product and forgets the user.
    void EndSignOnSession(DWORD code);
    // Forgets the user and resets the product when the window loses the cart.
    void ResetForDisconnect();
    // Drops the product's objects; the window does this when it is destroyed.
    void ReleaseProduct();

    // Where the prompt goes on a screen of the given size: centred for a 768 x 163 prompt.
    static POINT GetPromptPosition(int screenWidth, int screenHeight);

    // Session state (owned by the window's user-interface thread).
    bool m_bAuthenticating = false;  // an authentication of the product is open
    bool m_bUserSignedIn = false;    // a user has been identified
    CStringEx m_strUserName;         // the identified user, before the first at-sign
    CStringEx m_strUserDomain;       // and after it
    BYTE m_nAuthFlags = 0;           // OR of the authentication-method values of the sign-in
    // Start bookkeeping of the session logic, cleared by every successful start.
    bool m_bSkipNextAuthStart = false;
    bool m_bAutoStartPending = true;
    int m_nAuthRetries = 0;
    // Prompt time-out in seconds, from the agent's settings.
    int m_nPromptTimeout = 15;

private:
    void CreateAuthObject();
    void ConfigurePrompt();
    void EnsureCallback();
    static CComPtrEx<IUnknown> CreateProductObject(REFCLSID clsid, REFIID iid);
    void ForgetUser();
    void ResetProduct(bool closePrompt);
    // Silences the callback of a prompt that ends here without its report; the next start
    // hands the product a new callback.
    void RetireCallback();
    void ReportFailure(UINT logStringId, HRESULT hr, BOOL showMessages);

    HWND m_hWnd = nullptr;
    CStringEx m_strCaption;
    CComPtrEx<IUnknown> m_spAuth;                // authentication interface, kept until released
    CComPtrEx<IProcessCallback> m_spCallback;    // handed to the product at every start
};
