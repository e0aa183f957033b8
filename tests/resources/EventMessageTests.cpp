// The descriptions Event Viewer shows for the programs' events: KVResource's message table,
// read the way Event Viewer reads it (the message file loaded as data, the message found by
// the event's full ID, the event's insertion strings put in).
#include "EventDescription.h"
#include "KVEventMessages.h"
#include "common/CUtilLogging.h"
#include <gtest/gtest.h>
#include <string>

namespace
{
// The programs report every event with this ID and no severity or facility bits; a message
// compiled with other bits would be a different ID, and Event Viewer would find nothing.
static_assert(KV_EVENT_TEXT == CUtilLogging::kEventId, "the message table describes the event ID the programs report");

std::wstring ReleaseResourceLibrary()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.rfind(L'\\')) + L"\\KVResource.dll";
}

struct EventCase
{
    const char* name;
    WORD type;          // the type stands beside the ID in the event record; it is not part of the ID
    std::wstring text;  // the one insertion string the program reports
};

std::ostream& operator<<(std::ostream& out, const EventCase& event) { return out << event.name; }

class EventMessageTest : public testing::TestWithParam<EventCase>
{
};

TEST_P(EventMessageTest, DescriptionIsTheInsertionStringAlone)
{
    const EventCase& event = GetParam();
    DWORD error = 0;
    const std::wstring description =
        CEventDescription::FromMessageFile(ReleaseResourceLibrary().c_str(), CUtilLogging::kEventId, { event.text }, error);
    ASSERT_EQ(0u, error) << "no description for event " << CUtilLogging::kEventId << " of type " << event.type;
    EXPECT_EQ(event.text, description);
}

// What the programs report, one event of each type they use, and texts that a message with
// more around the insertion string, or one that took inserts for formatting, would change.
INSTANTIATE_TEST_SUITE_P(
    ProgramEvents, EventMessageTest,
    testing::Values(
        EventCase{ "ServiceWithoutResources", EVENTLOG_ERROR_TYPE,
                   L"A compatible resource file has not been found. Application is terminating." },
        EventCase{ "EditorLogFailed", EVENTLOG_WARNING_TYPE, L"The log could not be written (error 5).\n" },
        EventCase{ "ServiceStarted", EVENTLOG_INFORMATION_TYPE, L"Service started/resumed" },
        EventCase{ "PercentSignsStayAsTheyAre", EVENTLOG_ERROR_TYPE,
                   L"C:\\Temp\\%1%2 100%% %n %0 %!s! %% ends here" },
        EventCase{ "SeveralLines", EVENTLOG_WARNING_TYPE, L"first line\r\nsecond line\r\n\r\nlast line" },
        EventCase{ "NonEnglishText", EVENTLOG_INFORMATION_TYPE,
                   L"Zugriff f\u00fcr M\u00fcller verweigert \u2013 \u65e5\u672c\u8a9e" },
        EventCase{ "LongestServiceLine", EVENTLOG_INFORMATION_TYPE, std::wstring(255, L'x') }),
    [](const testing::TestParamInfo<EventCase>& info) { return std::string(info.param.name); });

// Event Viewer looks the message up by the event's full 32-bit ID, so a neighbour of 1000 or
// 1000 with severity bits is no description of ours.
TEST(EventMessages, OnlyTheReportedEventIdHasADescription)
{
    const std::wstring library = ReleaseResourceLibrary();
    for (const DWORD id : { 999ul, 1001ul, 0x400003E8ul, 0x800003E8ul, 0xC00003E8ul })
    {
        DWORD error = 0;
        const std::wstring description = CEventDescription::FromMessageFile(library.c_str(), id, { L"text" }, error);
        EXPECT_EQ(static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND), error) << "message 0x" << std::hex << id;
        EXPECT_TRUE(description.empty()) << "message 0x" << std::hex << id;
    }
}
}
