#pragma once
#include "common/CStringEx.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

// A folder of its own for each test, below the temporary folder, removed afterwards.
class CTempFolderTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;
    // The full path of a file in the test's folder.
    CStringEx PathOf(LPCWSTR name) const;

    CStringEx m_folder;
};

// What the process log received since the mark was made. The test program logs at the
// most detailed level into a file of its own.
class CLogMark
{
public:
    CLogMark();
    std::string NewText() const;

private:
    size_t m_offset;
};

// Whole-file helpers; ReadBytes gives an empty string for a missing file.
void WriteBytes(LPCWSTR path, const std::string& bytes);
std::string ReadBytes(LPCWSTR path);
bool FileExists(LPCWSTR path);
// Names of the files in a folder.
std::vector<std::wstring> FilesIn(LPCWSTR folder);
void DeleteTree(LPCWSTR folder);
// Narrow UTF-8 text of a wide string, for readable assertion messages.
std::string Utf8(LPCWSTR text);
CStringEx Concat(LPCWSTR first, LPCWSTR second);
// A name no other test process uses at the same time.
CStringEx UniqueName(LPCWSTR prefix);
