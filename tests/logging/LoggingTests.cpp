// The process log: file names, line format, levels, hex dumps, the writer lock, the
// hand-off to a writer thread, the move to the temporary folder and the cleanup of old files.
// Every test uses its own logger object and a file-name prefix no other test uses.
#include "common/CComPtrEx.h"
#include "common/CMutexAcquire.h"
#include "common/CResourceLoader.h"
#include "common/CUniqueAnyEx.h"
#include "common/CUtilLogging.h"
#include "resources/KVIdsLogging.h"
#include "tests/logging/LoggingTestSupport.h"
#include <gtest/gtest.h>
#include <atomic>
#include <future>
#include <mutex>
#include <set>
#include <thread>

using namespace LoggingTest;

namespace
{
// The four folder levels below the known folder, as the satellite library names them.
CStringEx LogLevels()
{
    CStringEx levels;
    for (UINT id : { IDS_DATA_FOLDER_COMPANY, IDS_DATA_FOLDER_PRODUCT, IDS_DATA_FOLDER_PROGRAM, IDS_LOG_FOLDER_NAME })
    {
        CStringEx name;
        CResourceLoader::Instance().LoadString(id, name);
        levels += L"\\";
        levels += name;
    }
    return levels;
}

void DeleteLogs(const CStringEx& folder, const CStringEx& prefix)
{
    if (folder.IsEmpty())
        return;
    CStringEx pattern;
    pattern.Format(L"%s\\%s*", folder.GetString(), prefix.GetString());
    WIN32_FIND_DATAW entry;
    CFindHandleEx find(FindFirstFileW(pattern, &entry));
    if (!find)
        return;
    do
    {
        CStringEx path;
        path.Format(L"%s\\%s", folder.GetString(), entry.cFileName);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            RemoveDirectoryW(path);
        else
            DeleteFileW(path);
    } while (FindNextFileW(find.Get(), &entry));
}

// Every line prefix the logger may have written between two instants, built with the same
// locale calls as the logger, so the expectation holds at any hour and in any locale.
std::set<std::string> PrefixesBetween(const SYSTEMTIME& first, const SYSTEMTIME& last)
{
    FILETIME from, to;
    SystemTimeToFileTime(&first, &from);
    SystemTimeToFileTime(&last, &to);
    ULARGE_INTEGER at{ { from.dwLowDateTime, from.dwHighDateTime } };
    const ULARGE_INTEGER end{ { to.dwLowDateTime, to.dwHighDateTime } };
    std::set<std::string> prefixes;
    for (; at.QuadPart <= end.QuadPart; at.QuadPart += 10000)
    {
        const FILETIME step{ at.LowPart, at.HighPart };
        SYSTEMTIME when;
        FileTimeToSystemTime(&step, &when);
        wchar_t date[100], clock[100];
        GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &when, nullptr, date, 100);
        GetTimeFormatW(LOCALE_USER_DEFAULT, TIME_NOTIMEMARKER | TIME_FORCE24HOURFORMAT, &when, nullptr, clock, 100);
        CStringEx prefix;
        prefix.Format(L"%s %s.%03d ", date, clock, when.wMilliseconds);
        prefixes.insert(Narrow(prefix));
    }
    return prefixes;
}

SYSTEMTIME LocalNow()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return now;
}

class LoggingTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(0u, CResourceLoader::Instance().Load());
        m_prefix = UniqueName(L"LogT");
        m_logFolder = KnownFolder(FOLDERID_LocalAppData) + LogLevels();
    }
    void TearDown() override
    {
        const CStringEx used = m_log.GetFolder();
        m_log.Initialize(0, 0, nullptr, FOLDERID_LocalAppData);
        DeleteLogs(used, m_prefix);
        DeleteLogs(m_logFolder, m_prefix);
        DeleteLogs(TempFolder() + LogLevels(), m_prefix);
    }

    HRESULT Start(DWORD level, DWORD retentionDays = 0)
    {
        return m_log.Initialize(level, retentionDays, m_prefix, FOLDERID_LocalAppData);
    }
    std::string Contents() { return ReadBytes(m_log.GetFilePath()); }

    CUtilLogging m_log;
    CStringEx m_prefix;
    CStringEx m_logFolder;
};

TEST_F(LoggingTest, StartsInTheFourFolderLevelsBelowTheKnownFolder)
{
    ASSERT_EQ(S_OK, Start(1));
    EXPECT_EQ(m_logFolder, m_log.GetFolder());
    EXPECT_EQ(0u, m_log.Log(1, L"%s\n", L"first"));
    EXPECT_EQ(1u, DayFiles(m_logFolder, m_prefix).size());
    EXPECT_FALSE(m_log.HasSwitchedToTemp());
    // The write probe leaves nothing behind.
    EXPECT_FALSE(FileExists(m_logFolder + L"\\" + m_prefix + L".tmp"));
}

TEST_F(LoggingTest, LineCarriesShortDateTwentyFourHourTimeAndMilliseconds)
{
    ASSERT_EQ(S_OK, Start(1));
    const SYSTEMTIME before = LocalNow();
    ASSERT_EQ(0u, m_log.Log(1, L"%s %d\n", L"hello", 42));
    ASSERT_EQ(0u, m_log.Log(1, L"second\n"));
    const std::set<std::string> prefixes = PrefixesBetween(before, LocalNow());

    const std::string text = Contents();
    const size_t firstEnd = text.find("hello 42\r\n");
    ASSERT_NE(std::string::npos, firstEnd) << text;
    EXPECT_EQ(1u, prefixes.count(text.substr(0, firstEnd))) << text;
    const std::string second = text.substr(firstEnd + 10);
    ASSERT_GE(second.size(), 8u) << text;
    EXPECT_EQ("second\r\n", second.substr(second.size() - 8)) << text;
    EXPECT_EQ(1u, prefixes.count(second.substr(0, second.size() - 8))) << text;
}

TEST_F(LoggingTest, PercentSignsInTheFormattedTextAreWrittenUnchanged)
{
    ASSERT_EQ(S_OK, Start(1));
    ASSERT_EQ(0u, m_log.Log(1, L"Saved %s\n", L"C:\\data\\file%d%s%%.xml"));
    EXPECT_NE(std::string::npos, Contents().find(" Saved C:\\data\\file%d%s%%.xml\r\n")) << Contents();
}

TEST_F(LoggingTest, CharactersOutsideTheCodePageDoNotCutTheLine)
{
    ASSERT_EQ(S_OK, Start(2));
    // A user name such as \u0141ukasz has letters that a narrow code page may lack.
    EXPECT_EQ(0u, m_log.Log(2, L"%s\n", L"User \x0141ukasz \x0416\x0430\x043d\x043d\x0430 \x00fc signed in"));
    EXPECT_EQ(0u, m_log.Log(2, L"%s\n", L"next line"));
    const std::string text = Contents();
    EXPECT_EQ(1, CountOf(text, " User ?ukasz ????? ")) << text;
    EXPECT_EQ(1, CountOf(text, " signed in\r\n")) << text;
    EXPECT_EQ(2, CountOf(text, "\r\n")) << text;
}

struct LevelCase
{
    friend void PrintTo(const LevelCase& c, std::ostream* out) { *out << c.configured << "/" << c.message; }
    DWORD configured;
    DWORD message;
    bool written;
};

class LoggingLevelTest : public LoggingTest, public ::testing::WithParamInterface<LevelCase>
{
};

TEST_P(LoggingLevelTest, LineIsWrittenOnlyWhenItsLevelIsWithinTheConfiguredOne)
{
    const LevelCase c = GetParam();
    ASSERT_EQ(S_OK, Start(c.configured));
    EXPECT_EQ(c.configured, m_log.GetLevel());
    EXPECT_EQ(0u, m_log.Log(c.message, L"%s\n", L"marker"));
    EXPECT_EQ(c.written ? 1 : 0, CountOf(Contents(), "marker"));
}

INSTANTIATE_TEST_SUITE_P(Levels, LoggingLevelTest,
                         ::testing::Values(LevelCase{ 2, 3, false }, LevelCase{ 2, 2, true }, LevelCase{ 2, 1, true },
                                           LevelCase{ 5, 5, true }, LevelCase{ 4, 5, false },
                                           LevelCase{ 1, 0, true }),
                         [](const ::testing::TestParamInfo<LevelCase>& info) {
                             return "Configured" + std::to_string(info.param.configured) + "Message"
                                    + std::to_string(info.param.message);
                         });

TEST_F(LoggingTest, StoppedLoggerWritesNothingAndAnswersZero)
{
    ASSERT_EQ(S_OK, Start(5));
    const CStringEx file = m_log.GetFilePath();
    ASSERT_EQ(S_OK, m_log.Initialize(0, 0, nullptr, FOLDERID_LocalAppData));
    EXPECT_EQ(0u, m_log.GetLevel());
    EXPECT_EQ(0u, m_log.Log(1, L"%s\n", L"after stop"));
    EXPECT_FALSE(FileExists(file));
}

TEST_F(LoggingTest, FileNameCarriesTheSessionNumberOnlyWhenItIsSet)
{
    ASSERT_EQ(S_OK, Start(1));
    ASSERT_EQ(0u, m_log.Log(1, L"plain\n"));
    m_log.SetSessionNumber(7);
    ASSERT_EQ(0u, m_log.Log(1, L"session\n"));

    const std::string plain = ReadDayFiles(m_logFolder, m_prefix);
    const std::string session = ReadDayFiles(m_logFolder, m_prefix, 7);
    EXPECT_EQ(1, CountOf(plain, "plain"));
    EXPECT_EQ(0, CountOf(plain, "session"));
    EXPECT_EQ(1, CountOf(session, "session"));
    EXPECT_EQ(0, CountOf(session, "plain"));
}

TEST_F(LoggingTest, BadInputIsRefusedAndLoggingCarriesOn)
{
    ASSERT_EQ(S_OK, Start(2));
    const CStringEx file = m_log.GetFilePath();
    EXPECT_EQ(E_INVALIDARG, m_log.Initialize(5, 0, L"", FOLDERID_LocalAppData));
    EXPECT_EQ(E_INVALIDARG, m_log.Initialize(5, 0, nullptr, FOLDERID_LocalAppData));
    const GUID unknownFolder = { 0x1b2c3d4e, 0x1111, 0x2222, { 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0x00 } };
    EXPECT_EQ(E_FAIL, m_log.Initialize(5, 0, L"Other", unknownFolder));

    EXPECT_EQ(2u, m_log.GetLevel());
    EXPECT_EQ(file, m_log.GetFilePath());
    EXPECT_EQ(0u, m_log.Log(2, L"still here\n"));
    EXPECT_EQ(1, CountOf(ReadBytes(file), "still here"));
}

struct HexCase
{
    friend void PrintTo(const HexCase& c, std::ostream* out) { *out << c.count; }
    DWORD count;
    const char* expected;
};

class LoggingHexTest : public LoggingTest, public ::testing::WithParamInterface<HexCase>
{
};

TEST_P(LoggingHexTest, DumpBreaksAfterEveryTenthByte)
{
    const HexCase c = GetParam();
    ASSERT_EQ(S_OK, Start(5));
    BYTE bytes[32];
    for (BYTE i = 0; i < sizeof(bytes); ++i)
        bytes[i] = static_cast<BYTE>(i * 17);
    ASSERT_EQ(0u, m_log.LogHex(L"Report", bytes, c.count));
    const std::string text = Contents();
    const size_t start = text.find("Report");
    ASSERT_NE(std::string::npos, start) << text;
    EXPECT_EQ(c.expected, text.substr(start));
}

INSTANTIATE_TEST_SUITE_P(
    Counts, LoggingHexTest,
    ::testing::Values(
        HexCase{ 3, "Report:  0x00 0x11 0x22\r\n" },
        HexCase{ 10, "Report:  0x00 0x11 0x22 0x33 0x44 0x55 0x66 0x77 0x88 0x99\r\n" },
        HexCase{ 11, "Report:\r\n 0x00 0x11 0x22 0x33 0x44 0x55 0x66 0x77 0x88 0x99\r\n 0xaa\r\n" },
        HexCase{ 20, "Report:\r\n 0x00 0x11 0x22 0x33 0x44 0x55 0x66 0x77 0x88 0x99\r\n"
                     " 0xaa 0xbb 0xcc 0xdd 0xee 0xff 0x10 0x21 0x32 0x43\r\n" }),
    [](const ::testing::TestParamInfo<HexCase>& info) { return std::to_string(info.param.count) + "Bytes"; });

TEST_F(LoggingTest, HexDumpNeedsLevelFiveAndRefusesAnEmptyBuffer)
{
    const BYTE bytes[] = { 1, 2, 3 };
    ASSERT_EQ(S_OK, Start(4));
    EXPECT_EQ(0u, m_log.LogHex(L"Quiet", bytes, 3));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), m_log.LogHex(L"Null", nullptr, 3));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), m_log.LogHex(L"Empty", bytes, 0));
    EXPECT_TRUE(Contents().empty());
}

TEST_F(LoggingTest, LogResFormatsTheTextOfTheStringId)
{
    ASSERT_EQ(S_OK, Start(2));
    // 555 is the fall-back time stamp: month, day, year, hour, minute, second, milliseconds.
    ASSERT_EQ(0u, m_log.LogRes(2, IDS_LOG_FALLBACK_TIMESTAMP, 12, 31, 2026, 23, 59, 58, 7));
    EXPECT_NE(std::string::npos, Contents().find("12/31/2026 23:59:58.007 ")) << Contents();
}

TEST_F(LoggingTest, LogResOfATextWithoutLineBreakStillEndsItsLine)
{
    ASSERT_EQ(S_OK, Start(2));
    // The text of 555 has no line break of its own; the next message must not run into it.
    ASSERT_EQ(0u, m_log.LogRes(2, IDS_LOG_FALLBACK_TIMESTAMP, 1, 2, 2026, 3, 4, 5, 6));
    ASSERT_EQ(0u, m_log.Log(2, L"next\n"));
    EXPECT_NE(std::string::npos, Contents().find("01/02/2026 03:04:05.006 \r\n")) << Contents();
}

TEST_F(LoggingTest, LogResOfAMissingStringLogsTheFailureText)
{
    ASSERT_EQ(S_OK, Start(2));
    EXPECT_EQ(0u, m_log.LogRes(1, 64999, 5, L"ignored"));
    EXPECT_EQ(2, CountOf(Contents(), "String (64999) failed to load.\r\n")) << Contents();
    // A level-3 message is not admitted, but the failure itself is an error (level 2).
    EXPECT_EQ(0u, m_log.LogRes(3, 64998));
    EXPECT_EQ(1, CountOf(Contents(), "String (64998) failed to load.\r\n")) << Contents();
}

TEST_F(LoggingTest, LogResOfStringIdZeroLogsNothing)
{
    ASSERT_EQ(S_OK, Start(5));
    EXPECT_EQ(0u, m_log.LogRes(1, 0));
    EXPECT_TRUE(Contents().empty());
}

TEST_F(LoggingTest, WriterLockHeldLongerThanHalfASecondDropsTheLineWithTimeout)
{
    ASSERT_EQ(S_OK, Start(2));
    std::promise<void> held;
    std::atomic<bool> release{ false };
    std::thread holder([&] {
        CMutexAcquire lock(m_log.GetWriterLock());
        held.set_value();
        while (!release)
            Sleep(10);
    });
    held.get_future().wait();

    const ULONGLONG before = GetTickCount64();
    const DWORD result = m_log.Log(2, L"%s\n", L"blocked line");
    const ULONGLONG waited = GetTickCount64() - before;
    const DWORD levelWhileHeld = m_log.GetLevel();
    release = true;
    holder.join();

    EXPECT_EQ(static_cast<DWORD>(ERROR_TIMEOUT), result);
    EXPECT_GE(waited, 450u);
    EXPECT_LT(waited, 5000u);
    EXPECT_EQ(0u, levelWhileHeld);
    EXPECT_EQ(0, CountOf(Contents(), "blocked line"));
    EXPECT_EQ(0u, m_log.Log(2, L"%s\n", L"free again"));
    EXPECT_EQ(1, CountOf(Contents(), "free again"));
}

// A writer thread as a service runs it: takes the hand-off message, writes the line with
// WriteLine and frees both strings.
class HandOffWriter
{
public:
    explicit HandOffWriter(CUtilLogging& log) : m_log(log)
    {
        std::promise<DWORD> started;
        std::future<DWORD> id = started.get_future();
        m_thread = std::thread([this, &started] {
            MSG msg;
            PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
            started.set_value(GetCurrentThreadId());
            while (GetMessageW(&msg, nullptr, 0, 0) > 0)
            {
                if (msg.message != CUtilLogging::kHandOffMessage)
                    continue;
                CBstrEx prefix, text;
                prefix.Attach(reinterpret_cast<BSTR>(msg.wParam));
                text.Attach(reinterpret_cast<BSTR>(msg.lParam));
                m_prefixes.push_back(Narrow(prefix.Text()));
                m_writeResults.push_back(m_log.WriteLine(prefix.Text(), text.Text()));
            }
        });
        m_threadId = id.get();
    }
    ~HandOffWriter() { Stop(); }
    void Stop()
    {
        if (m_thread.joinable())
        {
            PostThreadMessageW(m_threadId, WM_QUIT, 0, 0);
            m_thread.join();
        }
    }
    DWORD ThreadId() const { return m_threadId; }

    std::vector<std::string> m_prefixes;
    std::vector<DWORD> m_writeResults;

private:
    CUtilLogging& m_log;
    std::thread m_thread;
    DWORD m_threadId = 0;
};

TEST_F(LoggingTest, HandOffPostsPrefixAndTextToTheWriterThread)
{
    ASSERT_EQ(S_OK, Start(4));
    HandOffWriter writer(m_log);
    m_log.SetHandOffThread(writer.ThreadId());
    const SYSTEMTIME before = LocalNow();
    EXPECT_EQ(0u, m_log.Log(4, L"%s %d%%\n", L"handed off", 100));
    const std::set<std::string> prefixes = PrefixesBetween(before, LocalNow());
    EXPECT_EQ(0u, m_log.Log(5, L"%s\n", L"too detailed"));
    writer.Stop();
    m_log.SetHandOffThread(0);

    ASSERT_EQ(1u, writer.m_prefixes.size());
    EXPECT_EQ(0u, writer.m_writeResults[0]);
    EXPECT_EQ(1u, prefixes.count(writer.m_prefixes[0])) << writer.m_prefixes[0];
    const std::string text = Contents();
    EXPECT_NE(std::string::npos, text.find(writer.m_prefixes[0] + "handed off 100%\r\n")) << text;
    EXPECT_EQ(0, CountOf(text, "too detailed"));
}

TEST_F(LoggingTest, HandOffToAnEndedThreadReportsTheFailedPost)
{
    ASSERT_EQ(S_OK, Start(4));
    DWORD endedThread = 0;
    std::thread([&] { endedThread = GetCurrentThreadId(); }).join();
    m_log.SetHandOffThread(endedThread);
    EXPECT_NE(0u, m_log.Log(4, L"%s\n", L"nowhere"));
    m_log.SetHandOffThread(0);
    EXPECT_EQ(0, CountOf(Contents(), "nowhere"));
}

// Where writing is refused, the same four levels are made below the temporary folder.
// Tests run as an account that permissions do not stop, so the refusal comes from the
// logger's denied-folder seam.
struct FallbackCase
{
    friend void PrintTo(const FallbackCase& c, std::ostream* out) { *out << c.name; }
    const char* name;
    const KNOWNFOLDERID* knownFolder;
    // The denied folder: the known folder plus this many of the four levels.
    int deniedDepth;
};

class LoggingFallbackTest : public LoggingTest, public ::testing::WithParamInterface<FallbackCase>
{
};

TEST_P(LoggingFallbackTest, RefusedLogFolderMovesBelowTheTemporaryFolder)
{
    const FallbackCase c = GetParam();
    const CStringEx known = KnownFolder(*c.knownFolder);
    ASSERT_FALSE(known.IsEmpty());
    CStringEx denied = known;
    const CStringEx levels = LogLevels();
    int slashes = 0;
    for (int i = 0; i < levels.GetLength(); ++i)
    {
        if (levels.GetAt(i) == L'\\' && ++slashes > c.deniedDepth)
            break;
        denied += levels.GetAt(i);
    }
    if (c.deniedDepth == 4)
    {
        // The levels exist already: only new files are refused.
        CUtilLogging other;
        ASSERT_EQ(S_OK, other.Initialize(1, 0, m_prefix, *c.knownFolder));
    }
    m_log.SetDeniedFolder(denied);

    ASSERT_EQ(S_OK, m_log.Initialize(2, 0, m_prefix, *c.knownFolder));
    EXPECT_EQ(0u, m_log.Log(2, L"%s\n", L"first line"));
    EXPECT_EQ(0u, m_log.Log(2, L"%s\n", L"second line"));

    const CStringEx moved = TempFolder() + levels;
    EXPECT_TRUE(m_log.HasSwitchedToTemp());
    EXPECT_EQ(moved, m_log.GetFolder());
    const std::string text = ReadDayFiles(moved, m_prefix);
    EXPECT_EQ(1, CountOf(text, "first line"));
    EXPECT_EQ(1, CountOf(text, "second line"));
    EXPECT_TRUE(DayFiles(known + levels, m_prefix).empty());

    // Started again with new settings, the log stays where it moved and takes the new level.
    ASSERT_EQ(S_OK, m_log.Initialize(3, 0, m_prefix, *c.knownFolder));
    EXPECT_EQ(3u, m_log.GetLevel());
    EXPECT_EQ(moved, m_log.GetFolder());
    EXPECT_EQ(0u, m_log.Log(3, L"%s\n", L"line after restart"));
    EXPECT_EQ(1, CountOf(ReadDayFiles(moved, m_prefix), "line after restart"));
    EXPECT_TRUE(DayFiles(known + levels, m_prefix).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Folders, LoggingFallbackTest,
    ::testing::Values(FallbackCase{ "LevelsCannotBeCreated", &FOLDERID_LocalAppDataLow, 1 },
                      FallbackCase{ "FilesCannotBeWritten", &FOLDERID_LocalAppData, 4 }),
    [](const ::testing::TestParamInfo<FallbackCase>& info) { return std::string(info.param.name); });

TEST_F(LoggingTest, MoveToTheTemporaryFolderHappensOncePerLogger)
{
    CUtilLogging other;
    ASSERT_EQ(S_OK, other.Initialize(1, 0, m_prefix, FOLDERID_LocalAppData));
    m_log.SetDeniedFolder(m_logFolder);
    ASSERT_EQ(S_OK, Start(2));
    ASSERT_EQ(0u, m_log.Log(2, L"%s\n", L"moved line"));
    ASSERT_TRUE(m_log.HasSwitchedToTemp());

    // Refused there as well, after a new start: no second move, the line is dropped with the error.
    const CStringEx movedFolder = TempFolder() + LogLevels();
    m_log.SetDeniedFolder(movedFolder);
    ASSERT_EQ(S_OK, Start(2));
    EXPECT_EQ(movedFolder, m_log.GetFolder());
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), m_log.Log(2, L"%s\n", L"refused line"));
    EXPECT_EQ(movedFolder, m_log.GetFolder());
    m_log.SetDeniedFolder(nullptr);
    const std::string moved = ReadDayFiles(movedFolder, m_prefix);
    EXPECT_EQ(1, CountOf(moved, "moved line"));
    EXPECT_EQ(0, CountOf(moved, "refused line"));
    EXPECT_TRUE(DayFiles(m_logFolder, m_prefix).empty());
}

// Files are aged with SetFileTime. Wine keeps no creation time of its own and reports the
// last write time as the creation time, so all three times are set.
void AgeFile(const CStringEx& path, int days, DWORD flags = 0)
{
    CFileHandleEx file(CreateFileW(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, flags, nullptr));
    ASSERT_TRUE(file.IsValid()) << GetLastError();
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER value;
    value.LowPart = now.dwLowDateTime;
    value.HighPart = now.dwHighDateTime;
    value.QuadPart -= static_cast<ULONGLONG>(days) * 86400ULL * 10000000ULL;
    FILETIME aged = { value.LowPart, value.HighPart };
    ASSERT_TRUE(SetFileTime(file.Get(), &aged, &aged, &aged)) << GetLastError();
}

void MakeFile(const CStringEx& path, int ageDays)
{
    {
        CFileHandleEx file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file.IsValid()) << GetLastError();
    }
    AgeFile(path, ageDays);
}

class LoggingCleanupTest : public LoggingTest
{
protected:
    void SetUp() override
    {
        LoggingTest::SetUp();
        ASSERT_EQ(S_OK, Start(2, 0));
        m_other = UniqueName(L"OtherT");
        MakeFile(Path(L"20010131S03.log"), 31);
        MakeFile(Path(L"20010130.log"), 30);
        MakeFile(Path(L"20010101S02.log"), 0);
        MakeFile(m_log.GetFilePath(), 400);
        MakeFile(Path(L"20010102.log"), 40);
        MakeFile(m_logFolder + L"\\" + m_other + L"old.log", 40);
        // Another program whose name starts with ours, and files of ours in no day-file form.
        MakeFile(Path(L"Config20010103.log"), 40);
        MakeFile(Path(L"Config.log"), 40);
        MakeFile(Path(L"2001013.log"), 40);
        ASSERT_TRUE(CreateDirectoryW(Path(L"20010104.log"), nullptr));
        AgeFile(Path(L"20010104.log"), 40, FILE_FLAG_BACKUP_SEMANTICS);
    }
    void TearDown() override
    {
        DeleteLogs(m_logFolder, m_other);
        LoggingTest::TearDown();
    }
    CStringEx Path(LPCWSTR name) const { return m_logFolder + L"\\" + m_prefix + name; }

    CStringEx m_other;
};

TEST_F(LoggingCleanupTest, FilesOlderThanTheRetentionAreDeletedAtStart)
{
    const CStringEx today = m_log.GetFilePath();
    {
        // A file someone holds open without sharing cannot be looked at and stays.
        CFileHandleEx busy(CreateFileW(Path(L"20010102.log"), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(busy.IsValid());
        ASSERT_EQ(S_OK, Start(2, 30));
        ASSERT_TRUE(m_log.WaitForCleanup(20000));
    }
    EXPECT_FALSE(FileExists(Path(L"20010131S03.log")));
    EXPECT_TRUE(FileExists(Path(L"20010130.log")));
    EXPECT_TRUE(FileExists(Path(L"20010101S02.log")));
    EXPECT_TRUE(FileExists(today)) << "today's file stays whatever its creation date";
    EXPECT_TRUE(FileExists(Path(L"20010102.log")));
    EXPECT_TRUE(FileExists(m_logFolder + L"\\" + m_other + L"old.log")) << "other programs' files stay";
    EXPECT_TRUE(FileExists(Path(L"Config20010103.log"))) << "a program whose name starts with ours keeps its files";
    EXPECT_TRUE(FileExists(Path(L"Config.log")));
    EXPECT_TRUE(FileExists(Path(L"2001013.log")));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(Path(L"20010104.log")));
}

TEST_F(LoggingCleanupTest, RetentionZeroNeverDeletes)
{
    ASSERT_EQ(S_OK, Start(2, 0));
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(0u, m_log.Log(2, L"line %d\n", i));
    m_log.SetRetentionDays(0);
    ASSERT_TRUE(m_log.WaitForCleanup(20000));
    Sleep(200);
    EXPECT_TRUE(FileExists(Path(L"20010131S03.log")));
    EXPECT_TRUE(FileExists(Path(L"20010130.log")));

    // Switching the retention on later starts a pass at once.
    m_log.SetRetentionDays(30);
    ASSERT_TRUE(m_log.WaitForCleanup(20000));
    EXPECT_FALSE(FileExists(Path(L"20010131S03.log")));
    EXPECT_TRUE(FileExists(Path(L"20010130.log")));
}

// A retention read from settings as a negative number arrives as a huge one: it keeps every
// file, and must never wrap around into a cut-off in the future.
class LoggingLongRetentionTest : public LoggingCleanupTest, public ::testing::WithParamInterface<DWORD>
{
};

TEST_P(LoggingLongRetentionTest, RetentionBeyondAnyFileDateDeletesNothing)
{
    ASSERT_EQ(S_OK, Start(2, GetParam()));
    ASSERT_TRUE(m_log.WaitForCleanup(20000));
    EXPECT_TRUE(FileExists(Path(L"20010131S03.log")));
    EXPECT_TRUE(FileExists(Path(L"20010130.log")));
    EXPECT_TRUE(FileExists(Path(L"20010101S02.log")));
    EXPECT_TRUE(FileExists(Path(L"20010102.log")));
}

INSTANTIATE_TEST_SUITE_P(Days, LoggingLongRetentionTest, ::testing::Values(0xFFFFFFFFu, 0xFFFFFFFEu, 0x80000000u, 36500u),
                         [](const ::testing::TestParamInfo<DWORD>& info) { return std::to_string(info.param); });

// Listens to debug output the way a debug viewer does, through the DBWIN shared buffer.
class DebugOutputListener
{
public:
    DebugOutputListener()
    {
        m_mapping.Attach(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, L"DBWIN_BUFFER"));
        m_bufferReady.Attach(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY"));
        m_dataReady.Attach(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY"));
        if (!m_mapping.IsValid() || !m_bufferReady.IsValid() || !m_dataReady.IsValid())
            return;
        m_view = static_cast<const char*>(MapViewOfFile(m_mapping.GetHandle(), FILE_MAP_READ, 0, 0, 4096));
        if (m_view)
            m_thread = std::thread([this] { Listen(); });
    }
    ~DebugOutputListener()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_view)
            UnmapViewOfFile(m_view);
    }
    bool IsListening() const { return m_view != nullptr; }
    // Waits for a message of this process that contains the text.
    bool Saw(const std::string& text, DWORD timeoutMs)
    {
        for (ULONGLONG end = GetTickCount64() + timeoutMs; GetTickCount64() < end; Sleep(20))
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (const std::string& message : m_messages)
                if (message.find(text) != std::string::npos)
                    return true;
        }
        return false;
    }

private:
    void Listen()
    {
        while (!m_stop)
        {
            SetEvent(m_bufferReady.GetHandle());
            if (m_dataReady.Wait(50) != WAIT_OBJECT_0)
                continue;
            DWORD pid = 0;
            memcpy(&pid, m_view, sizeof(pid));
            if (pid == GetCurrentProcessId())
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_messages.emplace_back(m_view + sizeof(pid), strnlen(m_view + sizeof(pid), 4096 - sizeof(pid)));
            }
        }
    }

    CHandleEx m_mapping, m_bufferReady, m_dataReady;
    const char* m_view = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_stop{ false };
    std::mutex m_mutex;
    std::vector<std::string> m_messages;
};

// Wine's event log accepts the event and records nothing, so what can be seen is the call's
// result and the same text on the debug output.
TEST_F(LoggingTest, EventReportGoesToDebugOutputAndTheEventLogWhateverTheLevel)
{
    ASSERT_EQ(S_OK, Start(1));
    m_log.SetEventSourceName(L"KelvoLoggingTests");
    DebugOutputListener listener;
    ASSERT_TRUE(listener.IsListening());

    EXPECT_EQ(0u, m_log.ReportEvent(EVENTLOG_WARNING_TYPE, L"Cart %s answered %d%%\n", L"K-17", 80));
    EXPECT_TRUE(listener.Saw("Cart K-17 answered 80%\n", 10000));
    EXPECT_EQ(0u, m_log.ReportEventRes(EVENTLOG_ERROR_TYPE, IDS_LOG_FALLBACK_TIMESTAMP, 1, 2, 2027, 3, 4, 5, 6));
    EXPECT_TRUE(listener.Saw("01/02/2027 03:04:05.006 ", 10000));
    EXPECT_EQ(0u, m_log.ReportEventRes(EVENTLOG_ERROR_TYPE, 64997));
    EXPECT_TRUE(listener.Saw("String (64997) failed to load.", 10000));
    // Event reports never go to the log file.
    EXPECT_EQ(0, CountOf(Contents(), "K-17"));
}

// The event log is the fallback for what cannot be logged, also when the reason is a writer
// lock that does not come free.
TEST_F(LoggingTest, EventReportDoesNotWaitForTheWriterLock)
{
    ASSERT_EQ(S_OK, Start(1));
    m_log.SetEventSourceName(L"KelvoLoggingTests");
    std::promise<void> held;
    std::atomic<bool> release{ false };
    std::thread holder([&] {
        CMutexAcquire lock(m_log.GetWriterLock());
        held.set_value();
        while (!release)
            Sleep(10);
    });
    held.get_future().wait();

    const ULONGLONG before = GetTickCount64();
    const DWORD logged = m_log.Log(1, L"%s\n", L"blocked line");
    const DWORD reported = m_log.ReportEvent(EVENTLOG_ERROR_TYPE, L"%s\n", L"the log is blocked");
    const DWORD reportedRes = m_log.ReportEventRes(EVENTLOG_ERROR_TYPE, IDS_LOG_FALLBACK_TIMESTAMP, 1, 2, 2027, 3, 4, 5, 6);
    const ULONGLONG took = GetTickCount64() - before;
    release = true;
    holder.join();

    EXPECT_EQ(static_cast<DWORD>(ERROR_TIMEOUT), logged);
    EXPECT_EQ(0u, reported);
    EXPECT_EQ(0u, reportedRes);
    EXPECT_LT(took, 5000u);
}
}
