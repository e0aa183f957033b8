// Checks what Event Viewer would show as the description of the programs' events, read from
// each event source's registration: KelvoEventDescription.exe <text> <source>... looks up
// event 1000 of every source with the text as its insertion string, prints one line per
// source, and ends with 0 only when every description is exactly the text.
#include "EventDescription.h"
#include "common/CUtilLogging.h"
#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
    {
        std::fputs("usage: KelvoEventDescription <text> <source>...\n", stderr);
        return ERROR_INVALID_PARAMETER;
    }
    const std::wstring text(argv[1]);
    int failures = 0;
    for (int i = 2; i < argc; ++i)
    {
        DWORD error = 0;
        const std::wstring description =
            CEventDescription::FromRegisteredSource(argv[i], CUtilLogging::kEventId, { text }, error);
        if (error != 0)
            std::printf("%ls: no description of event %lu (error %lu)\n", argv[i],
                        static_cast<unsigned long>(CUtilLogging::kEventId), static_cast<unsigned long>(error));
        else if (description != text)
            std::printf("%ls: the description is '%ls' (%zu characters), not the text alone\n", argv[i],
                        description.c_str(), description.size());
        else
            std::printf("%ls: the description is the text\n", argv[i]);
        failures += (error != 0 || description != text) ? 1 : 0;
    }
    return failures;
}
