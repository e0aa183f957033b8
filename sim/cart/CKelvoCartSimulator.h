#pragma once
#include "cartlink/KelvoCartCommand.h"
#include "common/CHandleEx.h"
#include "common/CStringEx.h"
#include <functional>
#include <vector>

// Ways the simulated cart can misbehave on an exchange.
enum class KelvoCartFault
{
    None,
    AnswerLate,    // answers after the configured delay
    IgnoreWrite,   // never takes the request: the workstation's write stays pending
    IgnoreRead,    // takes the request and never answers it
    ShortAnswer,   // answers with 3 bytes
    WrongCommand,  // answers with the code of another command
    HangUp,        // takes the request and drops the connection
};

// The cart's controller as a message-mode named pipe that speaks the cart protocol in
// 64-byte reports. The workstation opens the pipe's path as it would open the HID device:
// with overlapped I/O, once per exchange. The simulator keeps the cart's state (access,
// status and button bytes, the bound computer name, whether drawer access is granted,
// its identity answers) and reports one line per exchange.
class CKelvoCartSimulator : public CObjectEx
{
public:
    // An empty pipe name picks a unique one.
    CKelvoCartSimulator(USHORT vendorId, USHORT productId, LPCWSTR pipeName = nullptr);
    ~CKelvoCartSimulator() override;
    CKelvoCartSimulator(const CKelvoCartSimulator&) = delete;
    CKelvoCartSimulator& operator=(const CKelvoCartSimulator&) = delete;

    // Makes the device present: its pipe instances listen. 0 or a Windows error code.
    DWORD Start();
    // Removes the device: every pipe instance closes, an exchange in progress breaks off.
    void Stop();
    bool IsPresent() const;

    const CStringEx& GetDevicePath() const { return m_path; }
    USHORT GetVendorId() const { return m_vendorId; }
    USHORT GetProductId() const { return m_productId; }

    // The cart's state.
    void SetAccess(BYTE access);
    void SetStatus(BYTE status);
    void SetButton(BYTE button);
    void SetBoundComputer(LPCWSTR name);
    CStringEx GetBoundComputer() const;
    // With refusal on, every drawer-access request is refused.
    void SetRefuseAccess(bool refuse);
    void SetIdentity(BYTE protocolVersion, LPCWSTR serialNumber, LPCWSTR firmwareVersion);

    // Misbehaves on the next `count` exchanges (-1: until told otherwise) of the command
    // `command` (0: of every command). The delay is how late AnswerLate answers.
    void SetFault(KelvoCartFault fault, DWORD delayMs = 0, LONG count = -1, BYTE command = 0);

    // Receives one line per exchange, on the pipe's thread.
    void SetLineSink(std::function<void(const CStringEx&)> sink);
    LONG GetExchangeCount() const;
    // Requests received, by command code, since the start.
    LONG GetRequestCount(BYTE command) const;
    std::vector<CStringEx> GetLines() const;

    // A HID device takes every open while it is there, also while it is late with an answer
    // for a handle its host has closed: enough pipe instances that a late answer (one
    // instance held for up to its delay, and the host opens afresh for every exchange) never
    // leaves the host without one to open.
    static constexpr int kInstances = 16;

private:
    struct Answer
    {
        BYTE bytes[KELVO_REPORT_SIZE] = {};
        CStringEx line;
    };
    static DWORD WINAPI InstanceProc(LPVOID parameter);
    void ServeInstance();
    // Serves one connection until the workstation closes it or the cart is removed.
    void ServeConnection(HANDLE pipe, const CEventEx& ioEvent);
    // Waits for overlapped I/O on the pipe; FALSE when the cart is removed meanwhile.
    bool WaitIo(HANDLE pipe, OVERLAPPED& overlapped, DWORD& bytes, DWORD& error);
    // Waits until the workstation drops the connection (or the cart is removed).
    void WaitForHangUp(HANDLE pipe);
    Answer Process(const BYTE* request, DWORD length);
    // The fault for an exchange of `command`, counted off when it applies.
    KelvoCartFault TakeFault(BYTE command, DWORD& delayMs);
    void Report(const CStringEx& line);

    const USHORT m_vendorId;
    const USHORT m_productId;
    CStringEx m_path;

    mutable SRWLOCK m_lock = SRWLOCK_INIT;
    CEventEx m_quit;
    std::vector<CThreadEx> m_threads;
    BYTE m_access = KELVO_ACCESS_READY;
    BYTE m_status = KELVO_STATUS_READY;
    BYTE m_button = 0;
    CStringEx m_boundComputer;
    bool m_refuse = false;
    BYTE m_protocolVersion = 1;
    CStringEx m_serialNumber = L"KC-000417";
    CStringEx m_firmwareVersion = L"2.4.1";
    KelvoCartFault m_fault = KelvoCartFault::None;
    DWORD m_faultDelayMs = 0;
    LONG m_faultCount = 0;
    BYTE m_faultCommand = 0;    // 0: every command
    LONG m_exchanges = 0;
    LONG m_requestCounts[256] = {};
    std::vector<CStringEx> m_lines;
    std::function<void(const CStringEx&)> m_sink;
};
