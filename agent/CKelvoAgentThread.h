#pragma once
#include "agent/KelvoAgentMessages.h"
#include "cartlink/CCartUSBCommThread.h"
#include "cartlink/CKelvoDeviceStatusResponse.h"

// The agent's worker: the only thread that talks to the cart. It forwards the agent
// window's requests, posts their answers back, and polls the cart's access, status and
// drawer-button bytes, reporting only changes.
class CKelvoAgentThread : public CCartUSBCommThread
{
public:
    CKelvoAgentThread() = default;
    ~CKelvoAgentThread() override = default;

    LRESULT OnMessage(CCartUSBComm* transport, WPARAM wParam, UINT message, LPARAM lParam) override;
    BOOL OnStart(_CObjectExPtr<CCartUSBComm> transport, HWND window) override;
    BOOL OnQuit(_CObjectExPtr<CCartUSBComm> transport, BOOL quitting) override;
    void OnExit(_CObjectExPtr<CCartUSBComm> transport) override;

    // Attempts of one status query while the cart answers "not connected".
    static constexpr int kReconnectAttempts = 4;

protected:
    // Make the objects the worker posts to the window: the answer to a forwarded request
    // and a status report.
    virtual _CObjectExPtr<CCartUSBCommResponse> CreateResponse(BYTE command);
    virtual _CObjectExPtr<CKelvoDeviceStatusResponse> CreateDeviceStatus(BYTE access, BYTE status, BYTE button);

private:
    class CStatusCache;
    CStatusCache* GetCache() const;

    // One query of a status byte, searching for the cart again while it is not connected;
    // TRUE with the answer's first payload byte in `value`.
    template <BYTE N>
    BOOL QueryByte(CCartUSBComm& transport, BYTE& value);
    BOOL QueryStatus(CCartUSBComm& transport, BYTE& access, BYTE& status);
    void PollStatus(CCartUSBComm& transport, HWND window, BOOL firstRun);
    // After a query found the cart gone: tells the window (WM_AGENT_DEVICE_STATUS with
    // wParam 1167 and no report) and stops this run. TRUE when it did.
    bool StopIfGone(HWND window);
    void TransactAndAnswer(CCartUSBComm* transport, HWND window, UINT message, BYTE command, LPARAM lParam);
    // Posts an object to the window, handing over its reference; FALSE releases it here.
    template <class T>
    BOOL PostObject(HWND window, UINT message, WPARAM wParam, _CObjectExPtr<T> object);
};
