#include "tests/configsec/PickerTestWorld.h"
#include "configsec/CADAccountSearch.h"
#include "configsec/CADObject.h"
#include "configsec/CADSelectAdvanceDlg.h"
#include "configsec/CADSelectDlg.h"
#include "resources/KVIdsConfigSec.h"
#include "tests/uisupport/UiScreenshot.h"
#include <commctrl.h>
#include <algorithm>

namespace
{
const wchar_t kSelectCaption[] = L"Select Users or Groups";
const wchar_t kAdvancedCaption[] = L"Select Users or Groups: Advanced Search";
const wchar_t kResolveCaption[] = L"Multiple Names Found";
const wchar_t kCorrectCaption[] = L"Name Not Found";

using Texts = std::vector<std::wstring>;

Texts ListTexts(const CSmartList<CADObject*>& list)
{
    Texts texts;
    for (size_t i = 0; i < list.GetCount(); ++i)
        texts.push_back(list.GetAt(i)->GetListText().GetString());
    return texts;
}

// The common-queries page inside the advanced dialog.
HWND PageOf(HWND advanced)
{
    return FindWindowExW(advanced, nullptr, L"#32770", nullptr);
}

// Starts a search on the page: match mode, name, Find Now.
std::wstring StartSearch(HWND advanced, int mode, const std::wstring& name)
{
    HWND page = PageOf(advanced);
    if (!page)
        return L"no common-queries page";
    DialogDriver::Send(GetDlgItem(page, IDC_CONFIGSEC_MATCH_MODE), CB_SETCURSEL, static_cast<WPARAM>(mode), 0);
    DialogDriver::SetText(page, IDC_CONFIGSEC_NAME_EDIT, name);
    if (!DialogDriver::WaitUntil([&] { return DialogDriver::IsEnabled(advanced, IDC_CONFIGSEC_FIND_NOW); }))
        return L"Find Now stayed disabled with a name";
    // Sent, so the search has started when the driver goes on.
    DialogDriver::Send(advanced, WM_COMMAND, MAKEWPARAM(IDC_CONFIGSEC_FIND_NOW, BN_CLICKED), 0);
    return L"";
}

std::wstring Users(int count)
{
    std::wstring text = L"[domain]\ndns = hq.example.com\nnetbios = HQ\n[computer]\nname = .\n";
    for (int i = 0; i < count; ++i)
        text += L"[user user" + std::to_wstring(10000 + i) + L"]\n";
    return text;
}

// Waits for the advanced dialog, searches for the names that start with "user" and waits
// until at least minRows rows are listed. Empty when all of it happened.
std::wstring SearchUsers(DialogDriver& ui, LRESULT minRows, HWND& advanced, HWND& results)
{
    advanced = ui.WaitForDialog(kAdvancedCaption);
    if (!advanced)
        return L"no advanced dialog";
    std::wstring started = StartSearch(advanced, CADAccountSearch::MatchStartsWith, L"user");
    if (!started.empty())
        return started;
    results = GetDlgItem(advanced, IDC_CONFIGSEC_NAMES);
    if (!DialogDriver::WaitUntil([&] { return DialogDriver::Send(results, LVM_GETITEMCOUNT, 0, 0) >= minRows; }))
        return L"no rows arrived";
    return L"";
}
}

// Names that match several accounts are settled in the resolve dialog (OK without a
// choice is refused), names that match nothing in the correction dialog, and OK of the
// selection dialog then gives every account in the order typed.
TEST_F(ConfigSecTest, SelectionResolvesAmbiguousAndMistypedNamesWithTheUser)
{
    CSmartList<CADObject*> chosen;
    INT_PTR answer = 0;
    const std::wstring verdict = DialogDriver::Run(
        [&](DialogDriver& ui) -> std::wstring {
            HWND select = ui.WaitForDialog(kSelectCaption);
            if (!select)
                return L"no selection dialog";
            DialogDriver::SetText(select, IDC_CONFIGSEC_NAMES, L"Pat Lee; nobdy; Alice Adams");
            DialogDriver::Click(select, IDOK);

            HWND resolve = ui.WaitForDialog(kResolveCaption);
            if (!resolve)
                return L"no resolve dialog";
            HWND candidates = GetDlgItem(resolve, IDC_CONFIGSEC_NAMES);
            const Texts names = DialogDriver::ListTexts(candidates);
            if (names.size() != 2)
                return L"expected two candidates";
            kelvo_test::SaveWindowScreenshot(resolve, L"ConfigSec_Resolve");
            DialogDriver::Click(resolve, IDOK);
            if (!DialogDriver::WaitUntil([] { return !Boxes().empty(); }))
                return L"OK without a choice was not refused";
            const int group = names[0] == L"Pat Lee" ? 0 : 1;
            DialogDriver::SelectRow(candidates, group);
            DialogDriver::Click(resolve, IDOK);

            HWND correct = ui.WaitForDialog(kCorrectCaption);
            if (!correct)
                return L"no correction dialog";
            kelvo_test::SaveWindowScreenshot(correct, L"ConfigSec_Correct");
            DialogDriver::SetText(correct, IDC_CONFIGSEC_NAME_EDIT, L"nobody");
            DialogDriver::Click(correct, IDOK);
            if (!DialogDriver::WaitUntil([] { return Boxes().size() == 2; }))
                return L"a corrected name that matches nothing was not reported";
            DialogDriver::SetText(correct, IDC_CONFIGSEC_NAME_EDIT, L"bob");
            DialogDriver::Click(correct, IDOK);
            return DialogDriver::WaitGone(select) ? L"" : L"selection dialog stayed open";
        },
        [&] {
            CADSelectDlg dialog(nullptr, chosen);
            answer = dialog.DoModal();
        });
    EXPECT_EQ(L"", verdict);
    EXPECT_EQ(IDOK, answer);
    EXPECT_EQ((Texts{ L"HQ\\Pat Lee", L"HQ\\bob", L"HQ\\alice" }), ListTexts(chosen));
    ASSERT_EQ(3u, chosen.GetCount());
    EXPECT_EQ(CADObject::KindGroup, chosen.GetAt(0)->m_kind);
    EXPECT_EQ(L"Pharmacist", std::wstring(chosen.GetAt(1)->m_description));
    const std::vector<Box> boxes = Boxes();
    ASSERT_EQ(2u, boxes.size());
    EXPECT_EQ(Text(IDS_CONFIGSEC_CHOOSE_ONE), boxes[0].text);
    EXPECT_EQ(Text(IDS_CONFIGSEC_STILL_NOT_FOUND), boxes[1].text);
}

// An empty names box and an empty search name are refused with their messages; Check
// Names marks resolved names and keeps the dialog open; the advanced search lists the
// rows of a search, and its checked rows join the names box as resolved names.
TEST_F(ConfigSecTest, AdvancedSearchRowsJoinTheNamesBox)
{
    CSmartList<CADObject*> chosen;
    INT_PTR answer = 0;
    const std::wstring verdict = DialogDriver::Run(
        [&](DialogDriver& ui) -> std::wstring {
            HWND select = ui.WaitForDialog(kSelectCaption);
            if (!select)
                return L"no selection dialog";
            DialogDriver::Click(select, IDC_CONFIGSEC_CHECK_NAMES);
            if (!DialogDriver::WaitUntil([] { return Boxes().size() == 1; }))
                return L"an empty names box was not refused";
            DialogDriver::SetText(select, IDC_CONFIGSEC_NAMES, L"staff");
            DialogDriver::Click(select, IDC_CONFIGSEC_CHECK_NAMES);
            if (!DialogDriver::WaitUntil([&] { return DialogDriver::GetText(select, IDC_CONFIGSEC_NAMES).find(L"HQ\\Staff") == 0; }))
                return L"Check Names did not resolve staff";
            // A resolved name is one unit: a caret inside selects it, and Delete removes it
            // whole.
            HWND names = GetDlgItem(select, IDC_CONFIGSEC_NAMES);
            DialogDriver::Send(names, EM_SETSEL, 3, 3);
            DWORD first = 0, last = 0;
            DialogDriver::Send(names, EM_GETSEL, reinterpret_cast<WPARAM>(&first), reinterpret_cast<LPARAM>(&last));
            if (first != 0 || last != 8)
                return L"a caret inside a resolved name did not select it: " + std::to_wstring(first) + L"-" + std::to_wstring(last);
            // (Typing over it is refused through EN_PROTECTED on Windows; Wine's rich edit
            // keeps the attribute but sends no EN_PROTECTED, so the names box follows the
            // text instead: an edited name is simply no longer resolved.)
            DialogDriver::Send(names, WM_KEYDOWN, VK_DELETE, 0);
            if (!DialogDriver::WaitUntil([&] { return DialogDriver::GetText(select, IDC_CONFIGSEC_NAMES).find(L"Staff") == std::wstring::npos; }))
                return L"Delete did not remove the resolved name: " + DialogDriver::GetText(select, IDC_CONFIGSEC_NAMES);
            DialogDriver::SetText(select, IDC_CONFIGSEC_NAMES, L"staff");
            DialogDriver::Click(select, IDC_CONFIGSEC_CHECK_NAMES);
            if (!DialogDriver::WaitUntil([&] { return DialogDriver::GetText(select, IDC_CONFIGSEC_NAMES).find(L"HQ\\Staff") == 0; }))
                return L"Check Names did not resolve staff again";

            DialogDriver::Click(select, IDC_CONFIGSEC_ADVANCED);
            HWND advanced = ui.WaitForDialog(kAdvancedCaption);
            if (!advanced)
                return L"no advanced dialog";
            if (DialogDriver::IsEnabled(advanced, IDC_CONFIGSEC_FIND_NOW) || DialogDriver::IsEnabled(advanced, IDOK))
                return L"Find Now or OK enabled without a name or a checked row";
            std::wstring started = StartSearch(advanced, CADAccountSearch::MatchStartsWith, L"a");
            if (!started.empty())
                return started;
            HWND results = GetDlgItem(advanced, IDC_CONFIGSEC_NAMES);
            if (!DialogDriver::WaitUntil([&] { return DialogDriver::IsEnabled(advanced, IDC_CONFIGSEC_FIND_NOW); }))
                return L"the search did not finish";
            const Texts rows = DialogDriver::ListTexts(results);
            if (rows != Texts{ L"alice", L"a*b" } && rows != Texts{ L"a*b", L"alice" })
            {
                std::wstring all = L"rows of the search differ:";
                for (const Box& box : Boxes())
                    all += L" box " + box.text;
                for (const std::wstring& row : rows)
                    all += L" [" + row + L"]";
                return all;
            }
            if (DialogDriver::ListTexts(results, 1)[rows[0] == L"alice" ? 0 : 1] != L"Alice Adams")
                return L"display name column differs";
            kelvo_test::SaveWindowScreenshot(advanced, L"ConfigSec_AdvancedSearch");
            DialogDriver::CheckRow(results, rows[0] == L"alice" ? 0 : 1);
            if (!DialogDriver::WaitUntil([&] { return DialogDriver::IsEnabled(advanced, IDOK); }))
                return L"OK stayed disabled with a checked row";
            DialogDriver::Click(advanced, IDOK);
            if (!DialogDriver::WaitGone(advanced))
                return L"advanced dialog stayed open";
            if (!DialogDriver::WaitUntil([&] { return DialogDriver::GetText(select, IDC_CONFIGSEC_NAMES).find(L"HQ\\alice") != std::wstring::npos; }))
                return L"the checked row did not join the names box";
            DialogDriver::Click(select, IDOK);
            return DialogDriver::WaitGone(select) ? L"" : L"selection dialog stayed open";
        },
        [&] {
            CADSelectDlg dialog(nullptr, chosen);
            answer = dialog.DoModal();
        });
    EXPECT_EQ(L"", verdict);
    EXPECT_EQ(IDOK, answer);
    EXPECT_EQ((Texts{ L"HQ\\Staff", L"HQ\\alice" }), ListTexts(chosen));
    ASSERT_FALSE(Boxes().empty());
    EXPECT_EQ(Text(IDS_CONFIGSEC_NO_NAMES), Boxes()[0].text);
}

// OK of the advanced search is offered for a highlighted row as for a checked one; it takes
// the checked rows, and the highlighted one when none is checked.
TEST_F(ConfigSecTest, AdvancedSearchOkTakesTheCheckedRowsOrElseTheHighlightedOne)
{
    const CADLocation domain{ L"HQ", false };
    for (const bool alsoCheck : { false, true })
    {
        CSmartList<CADObject*> chosen;
        const std::wstring verdict = DialogDriver::Run(
            [&](DialogDriver& ui) -> std::wstring {
                HWND advanced = ui.WaitForDialog(kAdvancedCaption);
                if (!advanced)
                    return L"no advanced dialog";
                const std::wstring started = StartSearch(advanced, CADAccountSearch::MatchStartsWith, L"a");
                if (!started.empty())
                    return started;
                HWND results = GetDlgItem(advanced, IDC_CONFIGSEC_NAMES);
                if (!DialogDriver::WaitUntil([&] { return DialogDriver::IsEnabled(advanced, IDC_CONFIGSEC_FIND_NOW); }))
                    return L"the search did not finish";
                const Texts rows = DialogDriver::ListTexts(results);
                const auto row = [&](const wchar_t* name) {
                    return static_cast<int>(std::find(rows.begin(), rows.end(), name) - rows.begin());
                };
                if (rows.size() != 2 || row(L"a*b") == 2 || row(L"alice") == 2)
                    return L"rows of the search differ";
                // The first row found is highlighted: OK (Enter) takes it.
                if (!DialogDriver::IsEnabled(advanced, IDOK) ||
                    DialogDriver::Send(results, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED) != 0)
                    return L"the first row found is not offered";
                ListView_SetItemState(results, -1, 0, LVIS_SELECTED);
                DialogDriver::SelectRow(results, row(L"a*b"));
                if (!DialogDriver::WaitUntil([&] { return DialogDriver::IsEnabled(advanced, IDOK); }))
                    return L"OK stayed disabled with a highlighted row";
                if (alsoCheck)
                    DialogDriver::CheckRow(results, row(L"alice"));
                else
                    kelvo_test::SaveWindowScreenshot(advanced, L"ConfigSec_AdvancedSearchHighlighted");
                DialogDriver::Click(advanced, IDOK);
                return DialogDriver::WaitGone(advanced) ? L"" : L"advanced dialog stayed open";
            },
            [&] {
                CADSelectAdvanceDlg dialog(nullptr, domain, chosen);
                EXPECT_EQ(IDOK, dialog.DoModal());
            });
        EXPECT_EQ(L"", verdict);
        EXPECT_EQ(alsoCheck ? Texts{ L"HQ\\alice" } : Texts{ L"HQ\\a*b" }, ListTexts(chosen));
    }
}

// Stop ends a long search after the current row and keeps the rows already listed;
// closing the dialog during a search cancels it, waits for the thread and deletes every
// row still on its way, so nothing outlives the dialog.
TEST_F(ConfigSecTest, StopKeepsRowsAndClosingDuringASearchLeavesNothingBehind)
{
    UseDirectory(Users(3000));
    const CADLocation domain{ L"HQ", false };
    const long before = CADObject::Alive();

    // Stop.
    CSmartList<CADObject*> chosen;
    size_t stoppedRows = 0;
    std::wstring verdict = DialogDriver::Run(
        [&](DialogDriver& ui) -> std::wstring {
            HWND advanced = nullptr, results = nullptr;
            const std::wstring searched = SearchUsers(ui, 20, advanced, results);
            if (!searched.empty())
                return searched;
            const ULONGLONG stopAt = GetTickCount64();
            const size_t atStop = DialogDriver::ListTexts(results).size();
            DialogDriver::Send(advanced, WM_COMMAND, MAKEWPARAM(IDC_CONFIGSEC_STOP, BN_CLICKED), 0);
            if (!DialogDriver::WaitUntil([&] { return DialogDriver::IsEnabled(advanced, IDC_CONFIGSEC_FIND_NOW); }))
                return L"Stop did not end the search: " + std::to_wstring(atStop) + L" rows at Stop, " +
                       std::to_wstring(DialogDriver::ListTexts(results).size()) + L" after " +
                       std::to_wstring(GetTickCount64() - stopAt) + L" ms";
            stoppedRows = DialogDriver::ListTexts(results).size();
            Sleep(300);
            if (DialogDriver::ListTexts(results).size() != stoppedRows)
                return L"rows kept arriving after Stop";
            DialogDriver::Click(advanced, IDCANCEL);
            return DialogDriver::WaitGone(advanced) ? L"" : L"Cancel did not close";
        },
        [&] {
            CADSelectAdvanceDlg dialog(nullptr, domain, chosen);
            dialog.DoModal();
        });
    EXPECT_EQ(L"", verdict);
    EXPECT_GE(stoppedRows, 20u);
    EXPECT_LT(stoppedRows, 3000u);

    // Close while rows are streaming in: the close is sent, so it overtakes the rows that
    // are queued.
    ULONGLONG closedAt = 0;
    verdict = DialogDriver::Run(
        [&](DialogDriver& ui) -> std::wstring {
            HWND advanced = nullptr, results = nullptr;
            const std::wstring searched = SearchUsers(ui, 5, advanced, results);
            if (!searched.empty())
                return searched;
            closedAt = GetTickCount64();
            DialogDriver::Send(advanced, WM_CLOSE, 0, 0);
            return DialogDriver::WaitGone(advanced, 15000) ? L"" : L"closing during the search did nothing";
        },
        [&] {
            CADSelectAdvanceDlg dialog(nullptr, domain, chosen);
            EXPECT_EQ(IDCANCEL, dialog.DoModal());
            EXPECT_FALSE(dialog.IsSearching());
        });
    EXPECT_EQ(L"", verdict);
    EXPECT_LT(GetTickCount64() - closedAt, 10000u);
    // Every row object is gone: none leaked in the queue or on a failed post.
    Sleep(200);
    EXPECT_EQ(before, CADObject::Alive());
    EXPECT_EQ(0u, chosen.GetCount());
}

// A row the search thread cannot hand over (the dialog's window is gone, or the search
// was cancelled while it waited for room) is deleted, not lost.
TEST_F(ConfigSecTest, RowsThatCannotBePostedAreDeleted)
{
    CADSelectAdvanceDlg::SearchWork work;
    work.window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, work.window);
    ASSERT_TRUE(work.cancel.Create());
    work.rowSlots.Attach(CreateSemaphoreW(nullptr, 1, 1, nullptr));
    DestroyWindow(work.window);
    const long before = CADObject::Alive();
    EXPECT_FALSE(CADSelectAdvanceDlg::PostRow(work, std::make_unique<CADObject>()));
    EXPECT_EQ(before, CADObject::Alive());

    // No room left and the search cancelled.
    work.cancel.Set();
    EXPECT_FALSE(CADSelectAdvanceDlg::PostRow(work, std::make_unique<CADObject>()));
    EXPECT_EQ(before, CADObject::Alive());
}

// The picker against the test domain: name searches (the people filter leaves out the
// computer that bears alice's name; a display name and a name with parentheses find their
// accounts; a star finds nothing), and the advanced search pages through 1,100 people.
TEST_F(ConfigSecTest, PickerSearchesTheDomainController_TestDomain)
{
    UseDirectory(StandardDirectory());
    UseTestDomain();
    const CADLocation domain{ L"HQ", false };
    auto found = [&](int mode, const wchar_t* name) {
        Texts names;
        EXPECT_EQ(S_OK, CADAccountSearch::Search(domain, mode, name, nullptr, [&](std::unique_ptr<CADObject> row) {
            names.emplace_back(row->GetListText().GetString());
            return true;
        }));
        return names;
    };
    EXPECT_EQ(Texts{ L"HQ\\alice" }, found(CADAccountSearch::MatchExact, L"alice"));
    EXPECT_EQ(Texts{ L"HQ\\paula" }, found(CADAccountSearch::MatchExact, L"Paula Primary"));
    EXPECT_EQ(Texts{ L"HQ\\Ops (HQ)" }, found(CADAccountSearch::MatchExact, L"Ops (HQ)"));
    EXPECT_EQ(Texts{ L"HQ\\zo\u00EB" }, found(CADAccountSearch::MatchExact, L"Zo\u00EB \u00C6r\u00F8sk\u00F8bing"));
    EXPECT_EQ(Texts{}, found(CADAccountSearch::MatchExact, L"*"));
    EXPECT_EQ(12u, found(CADAccountSearch::MatchStartsWith, L"Chain").size());

    CSmartList<CADObject*> chosen;
    LRESULT rows = 0;
    const std::wstring verdict = DialogDriver::Run(
        [&](DialogDriver& ui) -> std::wstring {
            HWND advanced = ui.WaitForDialog(kAdvancedCaption);
            if (!advanced)
                return L"no advanced dialog";
            const std::wstring started = StartSearch(advanced, CADAccountSearch::MatchStartsWith, L"person");
            if (!started.empty())
                return started;
            auto finished = [&] { return DialogDriver::IsEnabled(advanced, IDC_CONFIGSEC_FIND_NOW); };
            if (!DialogDriver::WaitUntil(finished, 60000))
                return L"the search did not finish";
            rows = DialogDriver::Send(GetDlgItem(advanced, IDC_CONFIGSEC_NAMES), LVM_GETITEMCOUNT, 0, 0);
            DialogDriver::Click(advanced, IDCANCEL);
            return DialogDriver::WaitGone(advanced) ? L"" : L"Cancel did not close";
        },
        [&] {
            CADSelectAdvanceDlg dialog(nullptr, domain, chosen);
            dialog.DoModal();
        });
    EXPECT_EQ(L"", verdict);
    EXPECT_EQ(1100, rows);
}
