#pragma once
// The lines another program appends to a file, read from outside a piece at a time: each
// call returns the whole lines written since the last one, so a file that grows for hours
// is never read twice. The writer opens and closes the file as it likes; the reader shares
// everything with it.
#include "common/CStringEx.h"
#include <string>
#include <vector>

class CFileTail
{
public:
    explicit CFileTail(const CStringEx& path, bool fromEnd = false);

    // The lines appended since the last call, without their line ends; a line still being
    // written stays for the next call.
    std::vector<std::string> ReadNewLines();

private:
    CStringEx m_path;
    ULONGLONG m_offset = 0;
    std::string m_partial;
};
