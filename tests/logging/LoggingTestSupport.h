#pragma once
#include "common/CStringEx.h"
#include <shlobj.h>
#include <string>
#include <vector>

// Small file and folder helpers shared by the logging and resource loader tests.
namespace LoggingTest
{
// Joins texts for building paths in tests.
inline CStringEx operator+(const CStringEx& left, const wchar_t* right)
{
    CStringEx joined(left);
    joined += right;
    return joined;
}
inline CStringEx operator+(const CStringEx& left, const CStringEx& right)
{
    return left + right.GetString();
}

// A name no other test process uses: tag, process ID, process start and a counter.
CStringEx UniqueName(LPCWSTR tag);
CStringEx KnownFolder(REFKNOWNFOLDERID id);
// The temporary folder without its trailing backslash.
CStringEx TempFolder();
// The folder of the running test program.
CStringEx ProgramFolder();
// The whole file as bytes; empty when it cannot be read.
std::string ReadBytes(const CStringEx& path);
bool FileExists(const CStringEx& path);
std::string Narrow(const CStringEx& text);
// Removes a folder and everything below it (best effort).
void DeleteTree(const CStringEx& folder);
// Counts the occurrences of needle in haystack.
int CountOf(const std::string& haystack, const std::string& needle);
// The day files of a log in a folder, named as the logger names them: the prefix, the eight
// digits of a local date, "S" and two digits of the session number when one is set, ".log";
// oldest day first. A test's prefix is its own, so every such file is the test's: one, or two
// when the test ran over midnight.
std::vector<CStringEx> DayFiles(const CStringEx& folder, const CStringEx& prefix, DWORD sessionNumber = 0);
// The text of those files, oldest day first; empty when there are none.
std::string ReadDayFiles(const CStringEx& folder, const CStringEx& prefix, DWORD sessionNumber = 0);
}
