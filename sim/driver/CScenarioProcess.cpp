#include "sim/driver/CScenarioProcess.h"
#include <algorithm>
#include <chrono>
#include <map>

namespace
{
// Variable names compare without regard to case, as Windows compares them.
struct NoCaseLess
{
    bool operator()(const std::wstring& a, const std::wstring& b) const { return _wcsicmp(a.c_str(), b.c_str()) < 0; }
};

CStringEx Widen(const std::string& text)
{
    if (text.empty())
        return CStringEx();
    // Wine's console programs write in the ANSI code page unless told otherwise; UTF-8 text
    // of plain ASCII reads the same either way.
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return CStringEx(std::move(wide));
}
}

CScenarioProcess::~CScenarioProcess()
{
    Stop();
}

std::vector<wchar_t> CScenarioProcess::BuildEnvironment(const std::vector<std::pair<CStringEx, CStringEx>>& changes)
{
    std::map<std::wstring, std::wstring, NoCaseLess> variables;
    if (wchar_t* block = GetEnvironmentStringsW())
    {
        for (const wchar_t* entry = block; *entry; entry += wcslen(entry) + 1)
        {
            // Entries such as "=C:=C:\" name per-drive folders: their name starts at the '='.
            const wchar_t* equals = wcschr(entry + 1, L'=');
            if (equals)
                variables[std::wstring(entry, equals)] = equals + 1;
        }
        FreeEnvironmentStringsW(block);
    }
    for (const auto& change : changes)
        variables[change.first.Str()] = change.second.Str();
    std::vector<wchar_t> environment;
    for (const auto& variable : variables)
    {
        const std::wstring entry = variable.first + L"=" + variable.second;
        environment.insert(environment.end(), entry.begin(), entry.end());
        environment.push_back(L'\0');
    }
    environment.push_back(L'\0');
    return environment;
}

DWORD CScenarioProcess::Start(const Options& options)
{
    Stop();
    CStringEx commandLine;
    commandLine.Format(L"\"%s\"", options.program.GetString());
    if (!options.arguments.IsEmpty())
        commandLine.AppendFormat(L" %s", options.arguments.GetString());
    CStringEx folder = options.workingFolder;
    if (folder.IsEmpty())
    {
        const int slash = options.program.ReverseFind(L'\\');
        folder = slash > 0 ? options.program.Left(slash) : CStringEx();
    }
    std::vector<wchar_t> environment = BuildEnvironment(options.environment);

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    CFileHandleEx childInput, childOutput, output;
    if (options.redirectStdio)
    {
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        HANDLE outRead = nullptr, outWrite = nullptr, inRead = nullptr, inWrite = nullptr;
        if (!CreatePipe(&outRead, &outWrite, &inherit, 0))
            return GetLastError();
        output.Reset(outRead);
        childOutput.Reset(outWrite);
        if (!CreatePipe(&inRead, &inWrite, &inherit, 0))
            return GetLastError();
        childInput.Reset(inRead);
        m_input.Reset(inWrite);
        // Only the child's ends are inherited, so the pipes break when either side ends.
        SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = inRead;
        startup.hStdOutput = outWrite;
        startup.hStdError = outWrite;
    }

    PROCESS_INFORMATION process = {};
    std::wstring mutableLine = commandLine.Str();
    if (!CreateProcessW(options.program, mutableLine.data(), nullptr, nullptr, options.redirectStdio ? TRUE : FALSE,
                        CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, environment.data(),
                        folder.IsEmpty() ? nullptr : folder.GetString(), &startup, &process))
    {
        const DWORD error = GetLastError();
        m_input.Reset();
        return error;
    }
    m_process.Attach(process.hProcess);
    m_processId = process.dwProcessId;
    const CKernelHandleEx thread(process.hThread);
    if (options.redirectStdio)
        m_reader = std::thread(&CScenarioProcess::ReadOutput, this, std::move(output));
    return 0;
}

void CScenarioProcess::ReadOutput(CFileHandleEx output)
{
    char chunk[1024];
    DWORD read = 0;
    while (ReadFile(output.Get(), chunk, sizeof(chunk), &read, nullptr) && read > 0)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_partial.append(chunk, read);
        size_t end;
        while ((end = m_partial.find('\n')) != std::string::npos)
        {
            std::string line = m_partial.substr(0, end);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            m_lines.push_back(Widen(line));
            m_partial.erase(0, end + 1);
        }
        m_changed.notify_all();
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_partial.empty())
        m_lines.push_back(Widen(m_partial));
    m_partial.clear();
    m_outputEnded = true;
    m_changed.notify_all();
}

bool CScenarioProcess::WaitForOutputEnd(DWORD boundMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(boundMs), [this] { return m_outputEnded; });
}

bool CScenarioProcess::IsRunning() const
{
    return m_process.Wait(0) == WAIT_TIMEOUT;
}

bool CScenarioProcess::WriteLine(const char* line)
{
    if (!m_input)
        return false;
    std::string text = line;
    text += "\n";
    DWORD written = 0;
    return WriteFile(m_input.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

void CScenarioProcess::CloseInput()
{
    m_input.Reset();
}

std::vector<CStringEx> CScenarioProcess::GetLines() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
}

std::vector<CStringEx> CScenarioProcess::GetLinesFrom(size_t from) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (from >= m_lines.size())
        return {};
    return std::vector<CStringEx>(m_lines.begin() + static_cast<std::ptrdiff_t>(from), m_lines.end());
}

size_t CScenarioProcess::GetLineCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines.size();
}

int CScenarioProcess::WaitForLine(LPCWSTR text, size_t from, DWORD boundMs) const
{
    int found = -1;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_for(lock, std::chrono::milliseconds(boundMs), [&] {
        for (size_t i = from; i < m_lines.size(); ++i)
        {
            if (m_lines[i].Find(text) >= 0)
            {
                found = static_cast<int>(i);
                return true;
            }
        }
        return false;
    });
    return found;
}

int CScenarioProcess::WaitForAnyLine(const std::vector<CStringEx>& texts, size_t from, DWORD boundMs) const
{
    int found = -1;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_for(lock, std::chrono::milliseconds(boundMs), [&] {
        for (size_t i = from; i < m_lines.size(); ++i)
        {
            if (std::find(texts.begin(), texts.end(), m_lines[i]) != texts.end())
            {
                found = static_cast<int>(i);
                return true;
            }
        }
        return false;
    });
    return found;
}

bool CScenarioProcess::WaitForExit(DWORD boundMs, DWORD* exitCode) const
{
    if (m_process.Wait(boundMs) != WAIT_OBJECT_0)
        return false;
    if (exitCode)
        GetExitCodeProcess(m_process.GetHandle(), exitCode);
    return true;
}

bool CScenarioProcess::Terminate(UINT exitCode)
{
    if (!m_process.IsValid())
        return true;
    if (IsRunning())
        TerminateProcess(m_process.GetHandle(), exitCode);
    return m_process.Wait(5000) == WAIT_OBJECT_0;
}

void CScenarioProcess::Stop()
{
    m_input.Reset();
    // A program still running when its scenario ends had its chance to end by itself.
    Terminate(1);
    if (m_reader.joinable())
        m_reader.join();
    m_process.Close();
    m_processId = 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines.clear();
    m_partial.clear();
    m_outputEnded = false;
}
