#pragma once
#include <windows.h>

// The record of every call the stand-in receives, one UTF-8 line per call appended to the
// journal file of the configuration, so tests and the demo can follow what the client did.
// Lines read "<object> <position> <arguments>", for example "Auth 37 128".
class CSimJournal
{
public:
    static void Write(LPCWSTR format, ...);
};
