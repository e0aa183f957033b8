// After a save the editor tells the program that owns the file: every running process of a
// desktop program gets the reload message at its dialog windows, found by image name; a
// service that does not run is left alone.
#include "EditorTestSupport.h"
#include "configeditor/CKelvoAgentConfigDlgNotify.h"
#include <gtest/gtest.h>

using namespace editor_test;

namespace
{
struct NoticeCase
{
    const char* label;
    const wchar_t* entryName;   // the application entry's name in the editor's file
    const wchar_t* imageName;   // the running program's file name
    bool reached;
};

void PrintTo(const NoticeCase& value, std::ostream* out)
{
    *out << value.label;
}

class ReloadNotice : public ::testing::TestWithParam<NoticeCase>
{
protected:
    void SetUp() override { m_folder = MakeTempFolder(L"notice"); }
    void TearDown() override
    {
        m_peer.Kill();
        DeleteTree(m_folder);
    }
    // Starts the stand-in program under the image name and waits until its window exists.
    void StartPeer(const wchar_t* imageName)
    {
        m_record = m_folder + L"\\record.txt";
        ASSERT_TRUE(CopyFromBin(L"KelvoEditorTestPeer.exe", m_folder, imageName)) << GetLastError();
        ASSERT_TRUE(m_peer.Start(m_folder + L"\\" + imageName, L"\"" + m_record + L"\" 30000", m_folder))
            << GetLastError();
        ASSERT_TRUE(WaitFor([&] { return Record().find("ready") != std::string::npos; }, 20000)) << Narrow(m_record);
    }
    std::string Record() const { return ReadFileBytes(m_record); }

    std::wstring m_folder;
    std::wstring m_record;
    CProcessRun m_peer;
};

const NoticeCase kNoticeCases[] = {
    { "EntryWithoutExtension", L"KelvoAgent", L"KelvoAgent.exe", true },
    { "EntryWithExtension", L"KelvoAgent.exe", L"KelvoAgent.exe", true },
    { "OtherLetterCase", L"kelvoagent", L"KELVOAGENT.EXE", true },
    { "LongerImageName", L"KelvoAgent", L"KelvoAgentConfig.exe", false },
    { "ShorterImageName", L"KelvoAgentConfig", L"KelvoAgent.exe", false },
};
}

TEST_P(ReloadNotice, ReachesTheDialogWindowOfEveryProcessOfTheProgramAndNoOther)
{
    const NoticeCase& notice = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartPeer(notice.imageName));
    const int posted = KelvoAgentConfigNotify::NotifyDesktopProgram(notice.entryName);
    if (notice.reached)
    {
        EXPECT_GE(posted, 1);
        EXPECT_TRUE(WaitFor([&] { return Record().find("reload") != std::string::npos; }, 3000)) << Record();
    }
    else
    {
        Sleep(300);
        EXPECT_EQ(std::string::npos, Record().find("reload")) << Record();
    }
}

INSTANTIATE_TEST_SUITE_P(Names, ReloadNotice, ::testing::ValuesIn(kNoticeCases),
                         [](const ::testing::TestParamInfo<NoticeCase>& info) { return info.param.label; });

// Telling a service that does not run would start it through COM activation: nothing is
// done instead.
TEST(ServiceNotice, AServiceThatDoesNotRunIsNotStarted)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    EXPECT_EQ(S_FALSE, KelvoAgentConfigNotify::NotifyService(L"KelvoNoSuchService"));
    CoUninitialize();
}
