#pragma once
// One program started by a scenario: its command line, the variables added to its
// environment, and (when asked for) its standard input and the lines of its standard
// output and error. The process is ended when the object goes, at the latest.
#include "common/CHandleEx.h"
#include "common/CStringEx.h"
#include "common/CUniqueAnyEx.h"
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

class CScenarioProcess
{
public:
    struct Options
    {
        CStringEx program;                                  // full path of the .exe
        CStringEx arguments;                                // appended after the quoted program
        CStringEx workingFolder;                            // empty: the program's folder
        std::vector<std::pair<CStringEx, CStringEx>> environment;  // set or replaced
        bool redirectStdio = false;                         // stdin writable, stdout+stderr read as lines
    };

    CScenarioProcess() = default;
    ~CScenarioProcess();
    CScenarioProcess(const CScenarioProcess&) = delete;
    CScenarioProcess& operator=(const CScenarioProcess&) = delete;

    // 0 or the Windows error of starting it; a running process of this object is ended first.
    DWORD Start(const Options& options);
    bool IsRunning() const;
    DWORD GetProcessId() const { return m_processId; }
    HANDLE GetHandle() const { return m_process.GetHandle(); }

    // Writes one line (a line end is added) to the program's standard input.
    bool WriteLine(const char* line);
    // Closes the program's standard input: it reads the end of its input.
    void CloseInput();

    // Lines read so far from standard output and error, without line ends.
    std::vector<CStringEx> GetLines() const;
    // The lines from index `from` on.
    std::vector<CStringEx> GetLinesFrom(size_t from) const;
    size_t GetLineCount() const;
    // Waits until a line at index `from` or later contains `text`; its index, or -1 when
    // none came within the bound.
    int WaitForLine(LPCWSTR text, size_t from, DWORD boundMs) const;
    // Waits until a line at `from` or later is one of the texts (a whole line); its index or -1.
    int WaitForAnyLine(const std::vector<CStringEx>& texts, size_t from, DWORD boundMs) const;

    // Waits until the program's output has been read to its end (it ended or closed it).
    bool WaitForOutputEnd(DWORD boundMs) const;

    // Waits for the end; TRUE with the exit code when it ended within the bound.
    bool WaitForExit(DWORD boundMs, DWORD* exitCode = nullptr) const;
    // Ends it at once with the exit code; TRUE when it has ended.
    bool Terminate(UINT exitCode = 1);

    // The program's environment: this process's own with the options' variables set.
    static std::vector<wchar_t> BuildEnvironment(const std::vector<std::pair<CStringEx, CStringEx>>& changes);

private:
    void ReadOutput(CFileHandleEx output);
    void Stop();

    CProcessEx m_process;
    DWORD m_processId = 0;
    CFileHandleEx m_input;
    std::thread m_reader;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<CStringEx> m_lines;
    std::string m_partial;
    bool m_outputEnded = false;
};
