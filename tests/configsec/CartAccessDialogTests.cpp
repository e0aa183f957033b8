#include "tests/configsec/PickerTestWorld.h"
#include "configsec/ConfigSec.h"
#include "configsec/ConfigSecInstance.h"
#include "resources/KVIdsConfigSec.h"
#include "resources/KVIdsDirectory.h"
#include "tests/uisupport/UiScreenshot.h"
#include <commctrl.h>

namespace
{
const wchar_t kCartCaption[] = L"Cart Access";
const wchar_t kSelectCaption[] = L"Select Users or Groups";

// The result of one ConfigSecCartAccess call.
struct CartAccessResult
{
    int answer = 0;
    std::wstring text;
    size_t length = 0;
    bool hadBuffer = false;
};

CartAccessResult RunCartAccess(const std::wstring& value, const std::function<std::wstring(DialogDriver&)>& script,
                               std::wstring& verdict, wchar_t* earlier = nullptr)
{
    CartAccessResult result;
    wchar_t* buffer = earlier;
    size_t length = 77;
    verdict = DialogDriver::Run(script, [&] {
        result.answer = ConfigSecCartAccess(nullptr, value.c_str(), value.size(), &buffer, &length);
    });
    result.hadBuffer = buffer != nullptr;
    result.length = length;
    if (buffer)
        result.text.assign(buffer, length);
    ConfigSecFreeMemory(buffer);
    return result;
}

std::vector<int> ImagesOf(HWND list)
{
    std::vector<int> images;
    const int count = static_cast<int>(DialogDriver::Send(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i)
    {
        LVITEMW item = {};
        item.mask = LVIF_IMAGE;
        item.iItem = i;
        DialogDriver::Send(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        images.push_back(item.iImage);
    }
    return images;
}

using Texts = std::vector<std::wstring>;
}

// The administrator's whole road: the stored list is looked up (found entries take the
// directory's spelling, unknown ones stay as written), an account found in the directory
// is added, one already listed in other letter case is not, one entry is removed, and OK
// gives the new text in the library's buffer.
TEST_F(ConfigSecTest, CartAccessLoadsAddsRemovesAndOkGivesTheNewText)
{
    std::wstring verdict;
    const CartAccessResult result = RunCartAccess(L"hq\\ALICE;HQ\\staff;HQ\\ghost;Staff", [&](DialogDriver& ui) -> std::wstring {
        HWND cart = ui.WaitForDialog(kCartCaption);
        if (!cart)
            return L"no cart-access dialog";
        HWND list = GetDlgItem(cart, IDC_CONFIGSEC_ACCOUNTS);
        const Texts loaded = DialogDriver::ListTexts(list);
        if (loaded != Texts{ L"HQ\\alice", L"HQ\\Staff", L"HQ\\ghost", L"Staff" })
            return L"loaded list differs";
        if (ImagesOf(list) != std::vector<int>{ 0, 1, I_IMAGENONE, I_IMAGENONE })
            return L"kind icons differ";
        // The unknown entry and the one without a domain are said so in words, and counted.
        if (DialogDriver::ListTexts(list, 1) != Texts{ L"", L"", Text(IDS_CONFIGSEC_ENTRY_NOT_FOUND), Text(IDS_CONFIGSEC_ENTRY_NO_DOMAIN) })
            return L"the entries' problems are not said";
        if (DialogDriver::GetText(cart, IDC_CONFIGSEC_CART_SUMMARY).find(L": 1.") == std::wstring::npos)
            return L"the problems are not counted: " + DialogDriver::GetText(cart, IDC_CONFIGSEC_CART_SUMMARY);
        kelvo_test::SaveWindowScreenshot(cart, L"ConfigSec_CartAccess");

        DialogDriver::Click(cart, IDC_CONFIGSEC_ADD);
        HWND select = ui.WaitForDialog(kSelectCaption);
        if (!select)
            return L"no selection dialog";
        DialogDriver::SetText(select, IDC_CONFIGSEC_NAMES, L"bob; ALICE");
        kelvo_test::SaveWindowScreenshot(select, L"ConfigSec_Select");
        DialogDriver::Click(select, IDOK);
        if (!DialogDriver::WaitGone(select))
            return L"selection dialog stayed open";
        if (!DialogDriver::WaitUntil([&] { return DialogDriver::ListTexts(list).size() == 5; }))
            return L"bob was not added once";
        if (DialogDriver::ListTexts(list).back() != L"HQ\\bob")
            return L"added entry differs";

        DialogDriver::SelectRow(list, 1);
        DialogDriver::Click(cart, IDC_CONFIGSEC_REMOVE);
        if (!DialogDriver::WaitUntil([&] { return DialogDriver::ListTexts(list).size() == 4; }))
            return L"Remove did not remove";
        DialogDriver::Click(cart, IDOK);
        return DialogDriver::WaitGone(cart) ? L"" : L"OK did not close";
    }, verdict);

    EXPECT_EQ(L"", verdict);
    EXPECT_EQ(IDOK, result.answer);
    EXPECT_EQ(L"HQ\\alice;HQ\\ghost;Staff;HQ\\bob", result.text);
    EXPECT_EQ(result.text.size(), result.length);
    EXPECT_TRUE(Boxes().empty());
}

// Cancel gives nothing, even when the caller's variable still held an earlier result,
// and Remove without a selection says so in a box with the library's caption.
TEST_F(ConfigSecTest, CancelGivesNothingAndRemoveWithoutSelectionSaysSo)
{
    std::wstring verdict;
    const CartAccessResult first = RunCartAccess(L"HQ\\bob", [](DialogDriver& ui) -> std::wstring {
        HWND cart = ui.WaitForDialog(kCartCaption);
        if (!cart)
            return L"no dialog";
        DialogDriver::Click(cart, IDOK);
        return L"";
    }, verdict);
    ASSERT_EQ(L"", verdict);
    ASSERT_EQ(IDOK, first.answer);

    wchar_t* earlier = ConfigSecHeap::Allocate(8);
    ASSERT_NE(nullptr, earlier);
    wcscpy(earlier, L"old");
    const CartAccessResult cancelled = RunCartAccess(L"HQ\\bob", [](DialogDriver& ui) -> std::wstring {
        HWND cart = ui.WaitForDialog(kCartCaption);
        if (!cart)
            return L"no dialog";
        DialogDriver::Click(cart, IDC_CONFIGSEC_REMOVE);
        if (!DialogDriver::WaitUntil([] { return !Boxes().empty(); }))
            return L"no message for Remove without a selection";
        DialogDriver::Click(cart, IDCANCEL);
        return L"";
    }, verdict, earlier);
    EXPECT_EQ(L"", verdict);
    EXPECT_EQ(IDCANCEL, cancelled.answer);
    EXPECT_FALSE(cancelled.hadBuffer);
    EXPECT_EQ(0u, cancelled.length);
    ASSERT_EQ(1u, Boxes().size());
    EXPECT_EQ(Text(IDS_CONFIGSEC_NOTHING_SELECTED), Boxes()[0].text);
    EXPECT_EQ(kPickerCaption, Boxes()[0].caption);
}

// A stored entry is looked up by its account name, as the agent reads it: "Bob Brown" is
// only bob's display name, so the entry stays as written instead of becoming bob, and the
// group "Pat Lee" is found although a user shows the same display name.
TEST_F(ConfigSecTest, StoredEntriesMatchAccountNamesNeverDisplayNames)
{
    const std::wstring value = L"HQ\\Bob Brown;HQ\\pat lee";
    std::wstring verdict;
    const CartAccessResult result = RunCartAccess(value, [](DialogDriver& ui) -> std::wstring {
        HWND cart = ui.WaitForDialog(kCartCaption);
        if (!cart)
            return L"no dialog";
        HWND list = GetDlgItem(cart, IDC_CONFIGSEC_ACCOUNTS);
        if (DialogDriver::ListTexts(list) != Texts{ L"HQ\\Bob Brown", L"HQ\\Pat Lee" })
            return L"loaded list differs";
        if (ImagesOf(list) != std::vector<int>{ I_IMAGENONE, 1 })
            return L"kind icons differ";
        DialogDriver::Click(cart, IDOK);
        return L"";
    }, verdict);
    EXPECT_EQ(L"", verdict);
    EXPECT_EQ(IDOK, result.answer);
    EXPECT_EQ(L"HQ\\Bob Brown;HQ\\Pat Lee", result.text);
}

// Without a reachable directory nothing can be looked up: every entry is kept and
// written back exactly as it was given, bare names and spaces included.
class ConfigSecNoDirectoryTest : public ConfigSecTest, public ::testing::WithParamInterface<bool>
{
};

TEST_P(ConfigSecNoDirectoryTest, ComputerWithoutDirectoryKeepsTheWholeList)
{
    const bool workgroup = GetParam();
    if (workgroup)
        UseWorkgroup();
    else
        UseUnreachableDirectory();
    const std::wstring value = L"HQ\\alice;Staff;  HQ\\Nurses ;OTHER\\carol";
    std::wstring verdict;
    const CartAccessResult result = RunCartAccess(value, [](DialogDriver& ui) -> std::wstring {
        HWND cart = ui.WaitForDialog(kCartCaption);
        if (!cart)
            return L"no dialog";
        if (DialogDriver::ListTexts(GetDlgItem(cart, IDC_CONFIGSEC_ACCOUNTS)).size() != 4)
            return L"entries were dropped";
        kelvo_test::SaveWindowScreenshot(cart, L"ConfigSec_CartAccess_NoDirectory");
        DialogDriver::Click(cart, IDOK);
        return L"";
    }, verdict);
    EXPECT_EQ(L"", verdict);
    EXPECT_EQ(IDOK, result.answer);
    EXPECT_EQ(value, result.text);
    // A domain member whose directory does not answer is told so; a workgroup computer
    // has no directory to miss.
    const std::vector<Box> boxes = Boxes();
    if (workgroup)
        EXPECT_TRUE(boxes.empty());
    else
    {
        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ(Text(IDS_DIR_UNREACHABLE), boxes[0].text);
    }
}

INSTANTIATE_TEST_SUITE_P(ConfigSec, ConfigSecNoDirectoryTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Workgroup" : "DomainMemberWithoutDirectory";
                         });

// The caller's length bounds every read: a value without a terminator that ends at an
// inaccessible page is read safely, and a shorter length reads only its part. A result
// buffer that cannot be allocated answers -1 with empty outputs.
TEST_F(ConfigSecTest, ValueLengthBoundsTheReadAndAllocationFailureAnswersMinusOne)
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const size_t page = system.dwPageSize;
    auto* pages = static_cast<BYTE*>(VirtualAlloc(nullptr, page * 2, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(nullptr, pages);
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(pages + page, page, PAGE_NOACCESS, &old));
    const std::wstring text = L"HQ\\bob;HQ\\alice";
    wchar_t* value = reinterpret_cast<wchar_t*>(pages + page) - text.size();
    wmemcpy(value, text.c_str(), text.size());

    const auto pressOk = [](DialogDriver& ui) -> std::wstring {
        HWND cart = ui.WaitForDialog(kCartCaption);
        if (!cart)
            return L"no dialog";
        DialogDriver::Click(cart, IDOK);
        return L"";
    };
    struct Case { size_t length; const wchar_t* expected; } cases[] = { { text.size(), L"HQ\\bob;HQ\\alice" },
                                                                          { 6, L"HQ\\bob" } };
    for (const Case& c : cases)
    {
        wchar_t* result = nullptr;
        size_t resultLength = 0;
        int answer = 0;
        const std::wstring verdict = DialogDriver::Run(pressOk, [&] {
            answer = ConfigSecCartAccess(nullptr, value, c.length, &result, &resultLength);
        });
        EXPECT_EQ(L"", verdict);
        EXPECT_EQ(IDOK, answer);
        ASSERT_NE(nullptr, result);
        EXPECT_EQ(std::wstring(c.expected), std::wstring(result, resultLength));
        ConfigSecFreeMemory(result);
    }

    ConfigSecHeap::SetFailAllocations(true);
    wchar_t* result = nullptr;
    size_t resultLength = 5;
    int answer = 0;
    const std::wstring verdict = DialogDriver::Run(pressOk, [&] {
        answer = ConfigSecCartAccess(nullptr, value, text.size(), &result, &resultLength);
    });
    EXPECT_EQ(L"", verdict);
    EXPECT_EQ(-1, answer);
    EXPECT_EQ(nullptr, result);
    EXPECT_EQ(0u, resultLength);
    VirtualFree(pages, 0, MEM_RELEASE);
}
