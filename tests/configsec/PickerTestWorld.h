#pragma once
#include "tests/configsec/DialogDriver.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

// The directory the picker tests search (domain HQ / hq.example.com):
//   users alice (Alice Adams), bob (Bob Brown), pat (Pat Lee), a*b, (x)
//   groups Staff, Nurses, Pat Lee (the same text as pat's display name)
extern const wchar_t kPickerDirectory[];
// The caption the tests hand to ConfigSecInitInstance.
extern const wchar_t kPickerCaption[];

// Per-case world of the dialog tests: COM, the resource library, the registered
// directory stand-in with its data file, a computer joined to HQ (unless a case says
// otherwise), message boxes answered by the seam and recorded, and an initialised
// picker library.
class ConfigSecTest : public ::testing::Test
{
public:
    // A message box the library showed: its text and caption.
    struct Box
    {
        std::wstring text;
        std::wstring caption;
    };

protected:
    void SetUp() override;
    void TearDown() override;

    void UseDirectory(const std::wstring& text);
    // Points the stand-in at a file that does not exist: the directory cannot be reached.
    void UseUnreachableDirectory();
    static void UseWorkgroup();

    static std::vector<Box> Boxes();
    static void ClearBoxes();
    static std::wstring Text(UINT id);

    std::wstring m_folder;
    std::wstring m_computer;

private:
    HMODULE m_standIn = nullptr;
    std::vector<std::wstring> m_files;
    bool m_comReady = false;
};
