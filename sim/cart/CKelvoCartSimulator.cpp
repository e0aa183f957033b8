#include "sim/cart/CKelvoCartSimulator.h"
#include "cartlink/CartTextField.h"
#include "cartlink/CKelvoSrwLockHold.h"
#include "common/CUniqueAnyEx.h"
#include <cstring>
#include <memory>

namespace
{
LONG g_nextPipe = 0;

// One pipe instance handed to its serving thread.
struct InstanceStart
{
    CKelvoCartSimulator* cart;
    HANDLE pipe;
};

CStringEx HexByte(BYTE value)
{
    CStringEx text;
    text.Format(L"0x%02X", value);
    return text;
}

void SetPayloadByte(BYTE* report, BYTE value)
{
    report[2] = 1;
    report[3] = 0;
    report[KELVO_HEADER_SIZE] = value;
}

void SetPayloadText(BYTE* report, LPCWSTR text, int width)
{
    BYTE* field = report + KELVO_HEADER_SIZE;
    CartTextField::Write(field, width, text);
    int length = 0;
    while (length < width && field[length] != 0)
        ++length;
    report[2] = static_cast<BYTE>(length);
    report[3] = 0;
}

const wchar_t* FaultNote(KelvoCartFault fault)
{
    switch (fault)
    {
    case KelvoCartFault::AnswerLate: return L" (answered late)";
    case KelvoCartFault::IgnoreRead: return L" (not answered)";
    case KelvoCartFault::ShortAnswer: return L" (answered with 3 bytes)";
    case KelvoCartFault::WrongCommand: return L" (answered with a wrong command code)";
    case KelvoCartFault::HangUp: return L" (connection dropped)";
    default: return L"";
    }
}
}

CKelvoCartSimulator::CKelvoCartSimulator(USHORT vendorId, USHORT productId, LPCWSTR pipeName)
    : m_vendorId(vendorId), m_productId(productId)
{
    if (pipeName && *pipeName)
        m_path.Format(L"\\\\.\\pipe\\%s", pipeName);
    else
        m_path.Format(L"\\\\.\\pipe\\KelvoCartSim-%lu-%ld", GetCurrentProcessId(), InterlockedIncrement(&g_nextPipe));
}

CKelvoCartSimulator::~CKelvoCartSimulator()
{
    Stop();
}

DWORD CKelvoCartSimulator::Start()
{
    if (IsPresent())
        return 0;
    Stop();
    std::vector<CFileHandleEx> pipes;
    for (int i = 0; i < kInstances; ++i)
    {
        // No inbound buffer: the workstation's write completes only once the cart takes it.
        CFileHandleEx pipe(CreateNamedPipeW(m_path, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, kInstances,
                                            KELVO_REPORT_SIZE * 4, 0, 0, nullptr));
        if (!pipe)
            return GetLastError();
        pipes.push_back(std::move(pipe));
    }
    CEventEx quit;
    if (!quit.Create())
        return GetLastError();
    {
        CKelvoSrwLockHold hold(m_lock);
        m_quit = quit;
    }
    std::vector<CThreadEx> threads;
    for (CFileHandleEx& pipe : pipes)
    {
        auto* start = new InstanceStart{this, pipe.Get()};
        CThreadEx thread;
        if (thread.Create(InstanceProc, start) == 0)
        {
            delete start;
            continue;
        }
        pipe.Detach();
        threads.push_back(thread);
    }
    CKelvoSrwLockHold hold(m_lock);
    m_threads = std::move(threads);
    return m_threads.empty() ? ERROR_NOT_ENOUGH_MEMORY : 0;
}

void CKelvoCartSimulator::Stop()
{
    std::vector<CThreadEx> threads;
    CEventEx quit;
    {
        CKelvoSrwLockHold hold(m_lock);
        threads = std::move(m_threads);
        m_threads.clear();
        quit = m_quit;
    }
    quit.Set();
    for (const CThreadEx& thread : threads)
        thread.Wait(INFINITE);
}

bool CKelvoCartSimulator::IsPresent() const
{
    CKelvoSrwLockHold hold(m_lock);
    return !m_threads.empty() && !m_quit.IsSet();
}

void CKelvoCartSimulator::SetAccess(BYTE access) { CKelvoSrwLockHold hold(m_lock); m_access = access; }
void CKelvoCartSimulator::SetStatus(BYTE status) { CKelvoSrwLockHold hold(m_lock); m_status = status; }
void CKelvoCartSimulator::SetButton(BYTE button) { CKelvoSrwLockHold hold(m_lock); m_button = button; }
void CKelvoCartSimulator::SetRefuseAccess(bool refuse) { CKelvoSrwLockHold hold(m_lock); m_refuse = refuse; }

void CKelvoCartSimulator::SetBoundComputer(LPCWSTR name)
{
    CKelvoSrwLockHold hold(m_lock);
    m_boundComputer = name;
}

CStringEx CKelvoCartSimulator::GetBoundComputer() const
{
    CKelvoSrwLockHold hold(m_lock);
    return m_boundComputer;
}

void CKelvoCartSimulator::SetIdentity(BYTE protocolVersion, LPCWSTR serialNumber, LPCWSTR firmwareVersion)
{
    CKelvoSrwLockHold hold(m_lock);
    m_protocolVersion = protocolVersion;
    m_serialNumber = serialNumber;
    m_firmwareVersion = firmwareVersion;
}

void CKelvoCartSimulator::SetFault(KelvoCartFault fault, DWORD delayMs, LONG count, BYTE command)
{
    CKelvoSrwLockHold hold(m_lock);
    m_fault = fault;
    m_faultDelayMs = delayMs;
    m_faultCount = fault == KelvoCartFault::None ? 0 : count;
    m_faultCommand = command;
}

void CKelvoCartSimulator::SetLineSink(std::function<void(const CStringEx&)> sink)
{
    CKelvoSrwLockHold hold(m_lock);
    m_sink = std::move(sink);
}

LONG CKelvoCartSimulator::GetExchangeCount() const
{
    CKelvoSrwLockHold hold(m_lock);
    return m_exchanges;
}

LONG CKelvoCartSimulator::GetRequestCount(BYTE command) const
{
    CKelvoSrwLockHold hold(m_lock);
    return m_requestCounts[command];
}

std::vector<CStringEx> CKelvoCartSimulator::GetLines() const
{
    CKelvoSrwLockHold hold(m_lock);
    return m_lines;
}

KelvoCartFault CKelvoCartSimulator::TakeFault(BYTE command, DWORD& delayMs)
{
    CKelvoSrwLockHold hold(m_lock);
    if (m_faultCount == 0 || (m_faultCommand != 0 && m_faultCommand != command))
        return KelvoCartFault::None;
    if (m_faultCount > 0)
        --m_faultCount;
    delayMs = m_faultDelayMs;
    return m_fault;
}

void CKelvoCartSimulator::Report(const CStringEx& line)
{
    std::function<void(const CStringEx&)> sink;
    {
        CKelvoSrwLockHold hold(m_lock);
        m_lines.push_back(line);
        sink = m_sink;
    }
    if (sink)
        sink(line);
}

DWORD WINAPI CKelvoCartSimulator::InstanceProc(LPVOID parameter)
{
    std::unique_ptr<InstanceStart> start(static_cast<InstanceStart*>(parameter));
    CFileHandleEx pipe(start->pipe);
    CEventEx ioEvent;
    if (!ioEvent.Create())
        return 1;
    CKelvoCartSimulator& cart = *start->cart;
    CEventEx quit;
    {
        CKelvoSrwLockHold hold(cart.m_lock);
        quit = cart.m_quit;
    }
    while (!quit.IsSet())
    {
        ioEvent.Reset();
        OVERLAPPED overlapped = {};
        overlapped.hEvent = ioEvent.GetHandle();
        bool connected = ConnectNamedPipe(pipe.Get(), &overlapped) != FALSE;
        if (!connected)
        {
            const DWORD error = GetLastError();
            if (error == ERROR_PIPE_CONNECTED)
                connected = true;
            else if (error == ERROR_IO_PENDING)
            {
                DWORD bytes = 0, result = 0;
                if (!cart.WaitIo(pipe.Get(), overlapped, bytes, result))
                    break;
                connected = result == 0;
            }
        }
        if (connected)
            cart.ServeConnection(pipe.Get(), ioEvent);
        DisconnectNamedPipe(pipe.Get());
    }
    return 0;
}

bool CKelvoCartSimulator::WaitIo(HANDLE pipe, OVERLAPPED& overlapped, DWORD& bytes, DWORD& error)
{
    CEventEx quit;
    {
        CKelvoSrwLockHold hold(m_lock);
        quit = m_quit;
    }
    const HANDLE waitSet[2] = {overlapped.hEvent, quit.GetHandle()};
    const DWORD wait = WaitForMultipleObjects(2, waitSet, FALSE, INFINITE);
    if (wait != WAIT_OBJECT_0)
    {
        CancelIo(pipe);
        GetOverlappedResult(pipe, &overlapped, &bytes, TRUE);
        return false;
    }
    error = GetOverlappedResult(pipe, &overlapped, &bytes, FALSE) ? 0 : GetLastError();
    return true;
}

void CKelvoCartSimulator::WaitForHangUp(HANDLE pipe)
{
    CEventEx quit;
    {
        CKelvoSrwLockHold hold(m_lock);
        quit = m_quit;
    }
    for (;;)
    {
        if (quit.Wait(20) == WAIT_OBJECT_0)
            return;
        DWORD available = 0;
        // Fails once the workstation has given up and closed its end.
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr))
            return;
    }
}

void CKelvoCartSimulator::ServeConnection(HANDLE pipe, const CEventEx& ioEvent)
{
    CEventEx quit;
    {
        CKelvoSrwLockHold hold(m_lock);
        quit = m_quit;
    }
    for (;;)
    {
        // A cart that ignores writes leaves the workstation's request in the pipe.
        {
            bool ignoreWrite = false;
            {
                CKelvoSrwLockHold hold(m_lock);
                ignoreWrite = m_fault == KelvoCartFault::IgnoreWrite && m_faultCount != 0 && m_faultCommand == 0;
            }
            if (ignoreWrite)
            {
                DWORD delay = 0;
                TakeFault(0, delay);
                Report(L"request not taken");
                WaitForHangUp(pipe);
                return;
            }
        }

        BYTE request[KELVO_REPORT_SIZE * 2] = {};
        ioEvent.Reset();
        OVERLAPPED overlapped = {};
        overlapped.hEvent = ioEvent.GetHandle();
        DWORD bytes = 0, error = 0;
        if (!ReadFile(pipe, request, sizeof(request), nullptr, &overlapped))
        {
            error = GetLastError();
            if (error != ERROR_IO_PENDING)
                return;
        }
        if (!WaitIo(pipe, overlapped, bytes, error) || error != 0 || bytes == 0)
            return;

        DWORD delay = 0;
        const KelvoCartFault fault = TakeFault(bytes >= 2 ? request[1] : 0, delay);
        Answer answer = Process(request, bytes);
        answer.line += FaultNote(fault);
        Report(answer.line);

        DWORD answerLength = KELVO_REPORT_SIZE;
        switch (fault)
        {
        case KelvoCartFault::IgnoreRead:
            WaitForHangUp(pipe);
            return;
        case KelvoCartFault::HangUp:
            return;
        case KelvoCartFault::AnswerLate:
            if (quit.Wait(delay) == WAIT_OBJECT_0)
                return;
            break;
        case KelvoCartFault::ShortAnswer:
            answerLength = 3;
            break;
        case KelvoCartFault::WrongCommand:
            answer.bytes[1] = answer.bytes[1] == KELVO_CMD_END_ACCESS ? static_cast<BYTE>(KELVO_CMD_PROTOCOL_VERSION)
                                                                      : static_cast<BYTE>(answer.bytes[1] + 1);
            break;
        default:
            break;
        }

        ioEvent.Reset();
        overlapped = {};
        overlapped.hEvent = ioEvent.GetHandle();
        if (!WriteFile(pipe, answer.bytes, answerLength, nullptr, &overlapped) && GetLastError() != ERROR_IO_PENDING)
            return;
        if (!WaitIo(pipe, overlapped, bytes, error) || error != 0)
            return;
    }
}

CKelvoCartSimulator::Answer CKelvoCartSimulator::Process(const BYTE* request, DWORD length)
{
    Answer answer;
    const BYTE command = length >= 2 ? request[1] : 0;
    const BYTE* payload = request + KELVO_HEADER_SIZE;
    answer.bytes[0] = KELVO_REPORT_ID;
    answer.bytes[1] = command;

    CKelvoSrwLockHold hold(m_lock);
    ++m_exchanges;
    ++m_requestCounts[command];
    if (length < KELVO_HEADER_SIZE)
    {
        answer.line.Format(L"request of %lu bytes ignored", length);
        return answer;
    }
    switch (command)
    {
    case KELVO_CMD_PROTOCOL_VERSION:
        SetPayloadByte(answer.bytes, m_protocolVersion);
        answer.line.Format(L"protocol version %u reported", m_protocolVersion);
        break;
    case KELVO_CMD_SERIAL_NUMBER:
        SetPayloadText(answer.bytes, m_serialNumber, KELVO_RESPONSE_PAYLOAD_MAX);
        answer.line.Format(L"serial number %s reported", m_serialNumber.GetString());
        break;
    case KELVO_CMD_FIRMWARE_VERSION:
        SetPayloadText(answer.bytes, m_firmwareVersion, KELVO_RESPONSE_PAYLOAD_MAX);
        answer.line.Format(L"firmware version %s reported", m_firmwareVersion.GetString());
        break;
    case KELVO_CMD_POLL_FOR_DRAWER_BTN:
        SetPayloadByte(answer.bytes, m_button);
        answer.line.Format(L"drawer button %s", m_button == KELVO_DRAWER_BUTTON_PRESSED ? L"pressed" : L"not pressed");
        break;
    case KELVO_CMD_AUTH_STATUS:
        answer.line.Format(payload[0] == KELVO_AUTH_STATUS_PROMPT_OPEN ? L"sign-in prompt open"
                           : payload[0] == KELVO_AUTH_STATUS_RESULT_IN ? L"sign-in result arrived"
                                                                       : L"sign-in status %s",
                           HexByte(payload[0]).GetString());
        break;
    case KELVO_CMD_AUTH_DRAWER_ACCESS:
    {
        const CStringEx computer = CartTextField::Read(payload, KELVO_COMPUTER_NAME_WIDTH, KELVO_COMPUTER_NAME_WIDTH);
        const CStringEx user = CartTextField::Read(payload + KELVO_COMPUTER_NAME_WIDTH, KELVO_USER_NAME_WIDTH,
                                                   KELVO_USER_NAME_WIDTH);
        const BYTE mode = payload[KELVO_COMPUTER_NAME_WIDTH + KELVO_USER_NAME_WIDTH];
        const bool boundElsewhere = !m_boundComputer.IsEmpty() && m_boundComputer.CompareNoCase(computer) != 0;
        if (m_refuse || boundElsewhere)
        {
            SetPayloadByte(answer.bytes, 0x00);
            answer.line.Format(L"drawer access refused to %s on %s%s", user.GetString(), computer.GetString(),
                               boundElsewhere ? L" (cart bound to another computer)" : L"");
        }
        else
        {
            // A cart not bound yet takes the computer that opened it.
            if (m_boundComputer.IsEmpty())
                m_boundComputer = computer;
            m_button = 0;
            SetPayloadByte(answer.bytes, KELVO_DRAWER_ACCESS_GRANTED);
            answer.line.Format(L"drawer access granted to %s on %s (mode %u)", user.GetString(), computer.GetString(),
                               mode);
        }
        break;
    }
    case KELVO_CMD_BIND_COMPUTER_NAME:
        m_boundComputer = CartTextField::Read(payload, KELVO_COMPUTER_NAME_WIDTH, KELVO_COMPUTER_NAME_WIDTH);
        answer.line.Format(L"cart bound to %s", m_boundComputer.GetString());
        break;
    case KELVO_CMD_BOUND_COMPUTER_NAME:
        SetPayloadText(answer.bytes, m_boundComputer, KELVO_COMPUTER_NAME_WIDTH);
        answer.line.Format(L"bound computer name \"%s\" reported", m_boundComputer.GetString());
        break;
    case KELVO_CMD_UNAUTHORIZED_USER:
        m_button = 0;
        answer.line.Format(L"user %s is not authorized",
                           CartTextField::Read(payload, KELVO_USER_NAME_WIDTH, KELVO_USER_NAME_WIDTH).GetString());
        break;
    case KELVO_CMD_QUERY_ACCESS:
        SetPayloadByte(answer.bytes, m_access);
        answer.line.Format(L"access state %s reported", HexByte(m_access).GetString());
        break;
    case KELVO_CMD_QUERY_STATUS:
        SetPayloadByte(answer.bytes, m_status);
        answer.line.Format(L"status %s reported", HexByte(m_status).GetString());
        break;
    case KELVO_CMD_END_ACCESS:
        m_button = 0;
        answer.line = L"drawer access ended";
        break;
    default:
        answer.line.Format(L"unknown command %s answered without payload", HexByte(command).GetString());
        break;
    }
    return answer;
}
