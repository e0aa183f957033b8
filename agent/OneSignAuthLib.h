// Identifiers of the single sign-on product and the callback interface the agent implements.
// The product and its type library are installed on the workstation; these values are its own.
#pragma once
#include <windows.h>
#include <oaidl.h>

// Authentication object of the product and the interface the agent drives it through.
inline constexpr CLSID CLSID_OneSignAuth = {0x11660363, 0x781C, 0x617B, {0x02, 0x01, 0x12, 0x82, 0x74, 0x95, 0x00, 0x01}};
inline constexpr IID IID_OneSignAuth = {0x11660363, 0x781B, 0x617B, {0x02, 0x01, 0x12, 0x82, 0x74, 0x95, 0x00, 0x01}};
// Companion object of the prompt.
inline constexpr CLSID CLSID_OneSignPromptCompanion = {0x11660363, 0x781C, 0x617B, {0x00, 0x10, 0x12, 0x82, 0x74, 0x95, 0x00, 0x15}};
inline constexpr IID IID_OneSignPromptCompanion = {0x11660363, 0x781B, 0x617B, {0x00, 0x10, 0x12, 0x82, 0x74, 0x95, 0x00, 0x15}};
// The callback interface and the type library that describes it (version 1.0).
inline constexpr IID IID_IProcessCallback = {0x11660363, 0x781B, 0x617B, {0x02, 0x01, 0x12, 0x82, 0x74, 0x95, 0x00, 0x02}};
inline constexpr GUID LIBID_OneSignAuthLib = {0x11660363, 0x781A, 0x617B, {0x61, 0x7B, 0x12, 0x82, 0x74, 0x95, 0x02, 0x00}};
inline constexpr WORD OneSignAuthLibMajor = 1;
inline constexpr WORD OneSignAuthLibMinor = 0;

// The product calls back through this dual interface when a prompt changes state.
// Its layout matches the type library: IDispatch, then three methods.
struct IProcessCallback : public IDispatch
{
    // The prompt has been shown.
    virtual HRESULT STDMETHODCALLTYPE AuthenticationStarted() = 0;
    // The prompt moved on to another stage.
    virtual HRESULT STDMETHODCALLTYPE AuthenticationProgress(LONG state) = 0;
    // The prompt ended with a result: 0 when a user signed in.
    virtual HRESULT STDMETHODCALLTYPE AuthenticationCompleted(LONG result) = 0;
};

// Dispatch identifiers of the callback's methods in the type library.
enum : DISPID
{
    DISPID_ProcessCallback_Started = 1,
    DISPID_ProcessCallback_Progress = 2,
    DISPID_ProcessCallback_Completed = 3,
};
