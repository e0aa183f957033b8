#include "tests/configsec/DialogDriver.h"
#include "common/CResourceLoader.h"
#include "configsec/ConfigSec.h"
#include "resources/KVIdsConfigSec.h"
#include "tests/uisupport/UiScreenshot.h"
#include "KelvoVersion.h"
#include <gtest/gtest.h>

namespace
{
using InitFn = DWORD(WINAPI*)(HINSTANCE, const wchar_t*, const wchar_t*, size_t);
using TermFn = void(WINAPI*)();
using CartAccessFn = int(WINAPI*)(HWND, const wchar_t*, size_t, wchar_t**, size_t*);
using FreeFn = void(WINAPI*)(wchar_t*);

const wchar_t kCaption[] = L"Kelvo Agent Configuration";

// The heap of the process that holds the block, or null.
HANDLE HeapHolding(const void* block)
{
    HANDLE heaps[64] = {};
    const DWORD count = GetProcessHeaps(ARRAYSIZE(heaps), heaps);
    for (DWORD i = 0; i < count && i < ARRAYSIZE(heaps); ++i)
        if (HeapValidate(heaps[i], 0, block))
            return heaps[i];
    return nullptr;
}

template <class T>
T ByOrdinal(HMODULE module, WORD ordinal)
{
    return reinterpret_cast<T>(reinterpret_cast<void (*)()>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal))));
}

// The built library, loaded as the editor loads it, with its exports taken by ordinal.
class ConfigSecDllTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(0u, CResourceLoader::Instance().Load());
        m_resources = CResourceLoader::Instance().GetModule();
        m_library = LoadLibraryW(L"KelvoAgentConfigSec.dll");
        ASSERT_NE(nullptr, m_library);
        init = ByOrdinal<InitFn>(m_library, CONFIGSEC_ORDINAL_INIT);
        term = ByOrdinal<TermFn>(m_library, CONFIGSEC_ORDINAL_TERM);
        cartAccess = ByOrdinal<CartAccessFn>(m_library, CONFIGSEC_ORDINAL_CART_ACCESS);
        freeMemory = ByOrdinal<FreeFn>(m_library, CONFIGSEC_ORDINAL_FREE_MEMORY);
        ASSERT_TRUE(init && term && cartAccess && freeMemory);
    }
    void TearDown() override
    {
        if (term)
            term();
        if (m_library)
            FreeLibrary(m_library);
    }

    DWORD InitOk() { return init(m_resources, KELVO_VERSION_TEXT, kCaption, wcslen(kCaption)); }

    // Runs the cart-access dialog with the script; answers the dialog result and the text.
    int RunCartAccess(const std::wstring& value, const std::function<std::wstring(DialogDriver&)>& script,
                      std::wstring& text, std::wstring& verdict)
    {
        wchar_t* result = nullptr;
        size_t length = 0;
        int answer = 0;
        verdict = DialogDriver::Run(script, [&] { answer = cartAccess(nullptr, value.c_str(), value.size(), &result, &length); });
        text = result ? std::wstring(result, length) : std::wstring();
        freeMemory(result);
        return answer;
    }

    HMODULE m_resources = nullptr;
    HMODULE m_library = nullptr;
    InitFn init = nullptr;
    TermFn term = nullptr;
    CartAccessFn cartAccess = nullptr;
    FreeFn freeMemory = nullptr;
};
}

// The four exports are reached by ordinal only; there is no fifth and no export by name.
TEST_F(ConfigSecDllTest, ExportsAreReachableByOrdinalOneToFourOnly)
{
    EXPECT_EQ(nullptr, GetProcAddress(m_library, MAKEINTRESOURCEA(5)));
    for (const char* name : { "ConfigSecInitInstance", "ConfigSecTermInstance", "ConfigSecCartAccess", "ConfigSecFreeMemory" })
        EXPECT_EQ(nullptr, GetProcAddress(m_library, name)) << name;
}

// Initialisation refuses missing arguments and other releases, succeeds once, answers 0
// to a second call without looking at it, and starts afresh after Term. Before it, the
// dialog cannot be shown and freeing does nothing; a text the caller's variable still
// points at is let go of (the variable cleared), never written through or freed.
TEST_F(ConfigSecDllTest, InitialisationFollowsItsContract)
{
    wchar_t foreign[] = L"kept";
    wchar_t* result = foreign;
    size_t length = 9;
    EXPECT_EQ(-1, cartAccess(nullptr, L"HQ\\bob", 6, &result, &length));
    EXPECT_EQ(nullptr, result);
    EXPECT_EQ(0u, length);
    EXPECT_STREQ(L"kept", foreign);
    freeMemory(nullptr);
    freeMemory(foreign);
    EXPECT_STREQ(L"kept", foreign);

    struct Bad { HINSTANCE module; const wchar_t* version; const wchar_t* caption; size_t length; DWORD expected; };
    const Bad bad[] = {
        { nullptr, KELVO_VERSION_TEXT, kCaption, 5, ERROR_INVALID_PARAMETER },
        { m_resources, nullptr, kCaption, 5, ERROR_INVALID_PARAMETER },
        { m_resources, KELVO_VERSION_TEXT, nullptr, 5, ERROR_INVALID_PARAMETER },
        { m_resources, KELVO_VERSION_TEXT, kCaption, 0, ERROR_INVALID_PARAMETER },
        { m_resources, L"1.1.38.1", kCaption, 5, 425 },
        { m_resources, L"1.1.38", kCaption, 5, 425 },
        { m_resources, L"1.1.38.0 ", kCaption, 5, 425 },
        { m_resources, L"", kCaption, 5, 425 },
    };
    for (const Bad& b : bad)
        EXPECT_EQ(b.expected, init(b.module, b.version, b.caption, b.length));
    result = foreign;
    length = 9;
    EXPECT_EQ(-1, cartAccess(nullptr, L"HQ\\bob", 6, &result, &length));
    EXPECT_EQ(nullptr, result);
    EXPECT_EQ(0u, length);

    EXPECT_EQ(0u, InitOk());
    EXPECT_EQ(0u, init(nullptr, L"9.9", nullptr, 0));
    EXPECT_EQ(-1, cartAccess(nullptr, L"HQ\\bob", 6, nullptr, &length));
    EXPECT_EQ(-1, cartAccess(nullptr, L"HQ\\bob", 6, &result, nullptr));
    term();
    EXPECT_EQ(425u, init(m_resources, L"1.0.0.0", kCaption, 5));
    EXPECT_EQ(0u, InitOk());
}

// Through the library on this computer (Wine answers every computer as a member of a
// workgroup): the list comes back unchanged on OK, nothing comes back on Cancel, and the
// caption is read only up to its length.
TEST_F(ConfigSecDllTest, CartAccessOnAWorkgroupComputerKeepsTheList)
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    auto* pages = static_cast<BYTE*>(VirtualAlloc(nullptr, system.dwPageSize * 2, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(nullptr, pages);
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(pages + system.dwPageSize, system.dwPageSize, PAGE_NOACCESS, &old));
    const std::wstring caption = L"Cart editor";
    wchar_t* unterminated = reinterpret_cast<wchar_t*>(pages + system.dwPageSize) - caption.size();
    wmemcpy(unterminated, caption.c_str(), caption.size());
    ASSERT_EQ(0u, init(m_resources, KELVO_VERSION_TEXT, unterminated, caption.size()));

    const std::wstring value = L"HQ\\alice;Staff;KIOSK\\kiosk";
    std::wstring text, verdict;
    int answer = RunCartAccess(value, [&](DialogDriver& ui) -> std::wstring {
        HWND cart = ui.WaitForDialog(L"Cart Access");
        if (!cart)
            return L"no dialog";
        if (DialogDriver::ListTexts(GetDlgItem(cart, IDC_CONFIGSEC_ACCOUNTS)).size() != 3)
            return L"entries were dropped";
        kelvo_test::SaveWindowScreenshot(cart, L"ConfigSecDll_CartAccess");
        // Remove without a selection: the library's box carries the caption as given.
        DialogDriver::Click(cart, IDC_CONFIGSEC_REMOVE);
        HWND box = ui.WaitForDialog(caption);
        if (!box)
            return L"no message box with the caption";
        DialogDriver::Click(box, IDOK);
        if (!DialogDriver::WaitGone(box))
            return L"message box stayed";
        DialogDriver::Click(cart, IDOK);
        return L"";
    }, text, verdict);
    EXPECT_EQ(L"", verdict);
    EXPECT_EQ(IDOK, answer);
    EXPECT_EQ(value, text);

    // Cancel while the caller's variable still holds the text of an earlier OK: that text is
    // freed and the variable cleared.
    wchar_t* earlier = nullptr;
    size_t earlierLength = 0;
    verdict = DialogDriver::Run(
        [](DialogDriver& ui) -> std::wstring {
            HWND cart = ui.WaitForDialog(L"Cart Access");
            if (!cart)
                return L"no dialog";
            DialogDriver::Click(cart, IDOK);
            return L"";
        },
        [&] { answer = cartAccess(nullptr, value.c_str(), value.size(), &earlier, &earlierLength); });
    EXPECT_EQ(L"", verdict);
    ASSERT_EQ(IDOK, answer);
    ASSERT_NE(nullptr, earlier);
    const HANDLE heap = HeapHolding(earlier);
    ASSERT_NE(nullptr, heap) << "the text is in no heap of the process";
    wchar_t* result = earlier;
    size_t length = earlierLength;
    verdict = DialogDriver::Run(
        [](DialogDriver& ui) -> std::wstring {
            HWND cart = ui.WaitForDialog(L"Cart Access");
            if (!cart)
                return L"no dialog";
            DialogDriver::Send(cart, WM_CLOSE, 0, 0);
            return L"";
        },
        [&] { answer = cartAccess(nullptr, value.c_str(), value.size(), &result, &length); });
    EXPECT_EQ(L"", verdict);
    EXPECT_EQ(IDCANCEL, answer);
    EXPECT_EQ(nullptr, result);
    EXPECT_EQ(0u, length);
    EXPECT_FALSE(HeapValidate(heap, 0, earlier)) << "the earlier text was not freed";
    term();
    VirtualFree(pages, 0, MEM_RELEASE);
}
