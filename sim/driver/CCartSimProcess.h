#pragma once
// The cart simulator program KelvoCartSim.exe, run and commanded as a person at its console
// would: each command is one line on its standard input, answered by one acknowledgement
// line ("ok", "cart removed", "cart present again"...); every exchange the cart serves is one
// line of its output ("status 0x01 reported", "drawer access granted to nurse1 on WS01 (mode 2)").
#include "sim/driver/CScenarioProcess.h"

class CCartSimProcess
{
public:
    static constexpr USHORT kVendorId = 0x0B6A;
    static constexpr USHORT kProductId = 0x0417;

    // Starts the simulator from `programFolder` (default: the running program's folder) on a
    // new unique pipe, with more options (e.g. L"--bound WS01 --refuse") when given, and
    // waits for it to report its cart. 0 or a Windows error; see GetErrorText().
    DWORD Start(LPCWSTR extraArguments = nullptr, USHORT vendorId = kVendorId, USHORT productId = kProductId,
                LPCWSTR programFolder = nullptr);
    // The cart's device path: \\.\pipe\<unique name>.
    const CStringEx& GetDevicePath() const { return m_path; }
    USHORT GetVendorId() const { return m_vendorId; }
    USHORT GetProductId() const { return m_productId; }

    // Sends one command line and waits for its acknowledgement; the acknowledgement, or
    // an empty text when none came within the bound.
    CStringEx Command(const char* line, DWORD boundMs = 5000);
    bool Press() { return Command("press") == L"ok"; }
    bool Release() { return Command("release") == L"ok"; }
    bool Bind(const char* computer);
    // Removes the cart (its pipe goes away) and puts it back.
    bool Remove() { return Command("remove") == L"cart removed"; }
    bool Restore() { return Command("restore") == L"cart present again"; }

    // A position in the simulator's output, to look for exchanges from there on.
    size_t Mark() const { return m_process.GetLineCount(); }
    // Waits for an output line at or after `from` that contains the text; TRUE when one came.
    bool WaitForExchange(LPCWSTR text, size_t from, DWORD boundMs) const;
    // Output lines at or after `from` that contain the text.
    size_t CountExchanges(LPCWSTR text, size_t from = 0) const;
    std::vector<CStringEx> GetLines() const { return m_process.GetLines(); }
    std::vector<CStringEx> GetLinesFrom(size_t from) const { return m_process.GetLinesFrom(from); }
    // All output as one text, for assertion messages.
    std::string Transcript() const;

    // Sends "quit" and waits for the end; TRUE when it ended with code 0 within the bound.
    bool Quit(DWORD boundMs = 5000);
    const CStringEx& GetErrorText() const { return m_error; }
    CScenarioProcess& GetProcess() { return m_process; }

private:
    CScenarioProcess m_process;
    CStringEx m_path;
    USHORT m_vendorId = kVendorId;
    USHORT m_productId = kProductId;
    CStringEx m_error;
};
