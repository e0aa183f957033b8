#include "sim/driver/CCartSimProcess.h"
#include "sim/driver/ScenarioWait.h"

DWORD CCartSimProcess::Start(LPCWSTR extraArguments, USHORT vendorId, USHORT productId, LPCWSTR programFolder)
{
    const CStringEx folder = programFolder ? CStringEx(programFolder) : ScenarioProgramFolder();
    const CStringEx pipeName = ScenarioUniqueName(L"KelvoScenarioCart");
    m_path.Format(L"\\\\.\\pipe\\%s", pipeName.GetString());
    m_vendorId = vendorId;
    m_productId = productId;

    CScenarioProcess::Options options;
    options.program = ScenarioPath(folder, L"KelvoCartSim.exe");
    options.arguments.Format(L"--pipe %s --vid %04X --pid %04X", pipeName.GetString(), vendorId, productId);
    if (extraArguments && *extraArguments)
        options.arguments.AppendFormat(L" %s", extraArguments);
    options.redirectStdio = true;
    if (const DWORD error = m_process.Start(options))
    {
        m_error.Format(L"%s could not be started (error %lu).", options.program.GetString(), error);
        return error;
    }
    if (m_process.WaitForLine(L"cart on ", 0, 10000) < 0)
    {
        m_error.Format(L"The cart simulator did not report its cart within 10 s. Output: %hs", Transcript().c_str());
        return ERROR_TIMEOUT;
    }
    return 0;
}

CStringEx CCartSimProcess::Command(const char* line, DWORD boundMs)
{
    static const std::vector<CStringEx> acknowledgements = {
        L"ok", L"cart removed", L"cart present again", L"cart could not be restored", L"unknown fault"};
    const size_t from = m_process.GetLineCount();
    if (!m_process.WriteLine(line))
        return CStringEx();
    const int found = m_process.WaitForAnyLine(acknowledgements, from, boundMs);
    if (found < 0)
    {
        // A command the simulator does not know is answered with its usage on the error output.
        m_error.Format(L"The command '%hs' was not acknowledged. Output: %hs", line, Transcript().c_str());
        return CStringEx();
    }
    return m_process.GetLines()[static_cast<size_t>(found)];
}

bool CCartSimProcess::Bind(const char* computer)
{
    std::string line = "bind ";
    line += computer;
    return Command(line.c_str()) == L"ok";
}

bool CCartSimProcess::WaitForExchange(LPCWSTR text, size_t from, DWORD boundMs) const
{
    return m_process.WaitForLine(text, from, boundMs) >= 0;
}

size_t CCartSimProcess::CountExchanges(LPCWSTR text, size_t from) const
{
    const std::vector<CStringEx> lines = m_process.GetLines();
    size_t count = 0;
    for (size_t i = from; i < lines.size(); ++i)
        count += lines[i].Find(text) >= 0 ? 1 : 0;
    return count;
}

std::string CCartSimProcess::Transcript() const
{
    std::string text;
    for (const CStringEx& line : m_process.GetLines())
        text += ScenarioUtf8(line) + "\n";
    return text;
}

bool CCartSimProcess::Quit(DWORD boundMs)
{
    m_process.WriteLine("quit");
    DWORD exitCode = 1;
    return m_process.WaitForExit(boundMs, &exitCode) && exitCode == 0;
}
