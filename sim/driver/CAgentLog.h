#pragma once
// The log file of a scenario's program, read from outside. The program logs into
// LocalAppData\<564>\<565>\<566>\<543>\<name>YYYYMMDD.log (folder names: strings of the
// scenario's KVResource; name: the program's file name without extension; date: local).
// The configuration's log level (key 542) decides what is written: 5 writes everything.
// Every agent of the Wine prefix writes into the same day's file, so the reader looks only
// at what was appended after it was made (or after the last Mark()). A scenario that runs
// over midnight finds the program's lines in the next day's file: the reader reads on there.
#include "sim/driver/CScenarioFolder.h"
#include <string>

class CAgentLog
{
public:
    // The local time the reader goes by: GetLocalTime unless a test gives its own.
    using Clock = SYSTEMTIME (*)();

    // Marks the current end of the day's log of the folder's program.
    explicit CAgentLog(const CScenarioFolder& folder, Clock clock = nullptr);

    // The file of the day the reader marked.
    const CStringEx& GetPath() const { return m_path; }
    // The file the program writes into on the given local day.
    CStringEx GetPathOf(const SYSTEMTIME& day) const;
    // Looks at text appended from now on only.
    void Mark();
    // The text appended since the mark: the rest of the marked day's file and, once the
    // local day has changed, the whole of today's file.
    std::string NewText() const;
    // Waits until the appended text contains `text`; TRUE when it did within the bound.
    bool WaitForText(const char* text, DWORD boundMs) const;

private:
    SYSTEMTIME Now() const;

    CStringEx m_folder;     // the log folder
    CStringEx m_name;       // the program's file name without extension
    Clock m_clock;
    CStringEx m_path;
    size_t m_offset = 0;
};
