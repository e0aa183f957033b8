#pragma once
#include "tests/configsec/DialogDriver.h"
#include "tests/directory/DirectoryTestSupport.h"
#include <string>
#include <vector>

// The directory the picker tests search (domain HQ / hq.example.com):
//   users alice (Alice Adams), bob (Bob Brown), pat (Pat Lee), a*b, (x)
//   groups Staff, Nurses, Pat Lee (the same text as pat's display name)
extern const wchar_t kPickerDirectory[];
// The caption the tests hand to ConfigSecInitInstance.
extern const wchar_t kPickerCaption[];

// Per-case world of the dialog tests: the directory world of the query tests (COM, the
// resource library, the registered stand-in, a computer joined to HQ) serving the picker's
// directory, message boxes answered by the seam and recorded, and an initialised picker
// library.
class ConfigSecTest : public DirectoryTest
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

    // Points the stand-in at a file that does not exist: the directory cannot be reached.
    void UseUnreachableDirectory();

    static std::vector<Box> Boxes();
    static void ClearBoxes();
    static std::wstring Text(UINT id);
};
