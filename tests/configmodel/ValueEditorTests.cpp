#include "ConfigModelWorld.h"
#include "configeditor/CEditMultiSzValueDlg.h"
#include "configeditor/CEditValueDlg.h"
#include "configeditor/CViewXMLDlg.h"
#include "common/CResourceLoader.h"
#include "resources/KVIdsConfigEditorValues.h"
#include "tests/uisupport/UiScreenshot.h"
#include <algorithm>
#include <functional>
#include <memory>

namespace
{
std::vector<std::wstring> g_screenshots;

// Lists the screenshots for a person to look at once every test has run.
class CScreenshotList : public ::testing::Environment
{
public:
    void TearDown() override
    {
        for (const std::wstring& path : g_screenshots)
            printf("Screenshot: %s\n", Utf8(path.c_str()).c_str());
    }
};
::testing::Environment* const g_screenshotList = ::testing::AddGlobalTestEnvironment(new CScreenshotList);

void Screenshot(HWND window, const std::string& name)
{
    UpdateWindow(window);
    const std::wstring path = kelvo_test::SaveWindowScreenshot(window, CStringEx(std::wstring(name.begin(), name.end())));
    EXPECT_FALSE(path.empty()) << name;
    if (!path.empty())
        g_screenshots.push_back(path);
}

// Answers every message box the dialog under test shows, as a user pressing the button
// (OK unless told otherwise) would, and keeps the box's text. A thread timer is served by
// the box's own message loop, so the click that showed the box returns once the box is
// answered; nothing waits for a person.
class CBoxAnswerer
{
public:
    explicit CBoxAnswerer(HWND owner, int button = IDOK) : m_owner(owner), m_button(button)
    {
        s_current = this;
        m_timer = SetTimer(nullptr, 0, 20, &Tick);
    }
    ~CBoxAnswerer()
    {
        KillTimer(nullptr, m_timer);
        s_current = nullptr;
    }
    // The texts of the boxes answered since the last call.
    std::vector<std::string> Take() { return std::exchange(m_texts, {}); }

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
    {
        if (s_current)
            EnumThreadWindows(GetCurrentThreadId(), &Answer, reinterpret_cast<LPARAM>(s_current));
    }
    static BOOL CALLBACK Answer(HWND window, LPARAM context)
    {
        CBoxAnswerer* self = reinterpret_cast<CBoxAnswerer*>(context);
        wchar_t className[32] = {};
        GetClassNameW(window, className, 32);
        if (wcscmp(className, L"#32770") != 0 || GetWindow(window, GW_OWNER) != self->m_owner || !IsWindowVisible(window))
            return TRUE;
        std::wstring text;
        EnumChildWindows(window, &CollectStatic, reinterpret_cast<LPARAM>(&text));
        self->m_texts.push_back(Utf8(text.c_str()));
        PostMessageW(window, WM_COMMAND, self->m_button, 0);
        return TRUE;
    }
    static BOOL CALLBACK CollectStatic(HWND child, LPARAM context)
    {
        wchar_t className[32] = {};
        GetClassNameW(child, className, 32);
        wchar_t text[512] = {};
        if (_wcsicmp(className, L"Static") == 0 && GetWindowTextW(child, text, 512) > 0)
            *reinterpret_cast<std::wstring*>(context) += text;
        return TRUE;
    }

    static CBoxAnswerer* s_current;
    HWND m_owner;
    int m_button;
    UINT_PTR m_timer = 0;
    std::vector<std::string> m_texts;
};
CBoxAnswerer* CBoxAnswerer::s_current = nullptr;

std::string Text(LPCWSTR text)
{
    return Utf8(text);
}

std::string Res(UINT id)
{
    return Utf8(CResourceLoader::Instance().LoadText(id));
}

std::string ItemText(HWND dialog, int id)
{
    wchar_t text[512] = {};
    GetDlgItemTextW(dialog, id, text, 512);
    return Utf8(text);
}

bool Visible(HWND dialog, int id)
{
    return (GetWindowLongW(GetDlgItem(dialog, id), GWL_STYLE) & WS_VISIBLE) != 0;
}

bool Enabled(HWND dialog, int id)
{
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

void Click(HWND dialog, int id)
{
    SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

void Type(HWND dialog, int id, LPCWSTR text)
{
    SendMessageW(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

// Chooses the combo box entry with that text, as a user's pick does.
void Choose(HWND dialog, int id, LPCWSTR text)
{
    HWND combo = GetDlgItem(dialog, id);
    const LRESULT item = SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text));
    ASSERT_NE(CB_ERR, item) << Utf8(text);
    SendMessageW(combo, CB_SETCURSEL, item, 0);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
}

std::string ChosenText(HWND dialog, int id)
{
    HWND combo = GetDlgItem(dialog, id);
    const LRESULT item = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    if (item == CB_ERR)
        return "(nothing)";
    wchar_t text[128] = {};
    SendMessageW(combo, CB_GETLBTEXT, item, reinterpret_cast<LPARAM>(text));
    return Utf8(text);
}

const std::string kNamed = "<named value=\"0\">Off</named><named value=\"4\">Events</named>";

std::string Def(const std::string& type, const std::string& extra = "")
{
    return "<add key=\"S\"><caption>Edited setting</caption><type>" + type + "</type><note>a note</note>" + extra + "</add>";
}

std::string Entry(const std::string& inner)
{
    return "<add key=\"S\">" + inner + "</add>";
}

// The answer the browse dialog gives, and what it was asked.
OPENFILENAMEW g_browseAsked;
std::wstring g_browseFilter;
std::wstring g_browseTitle;
std::wstring g_browseFolder;
BOOL WINAPI ChooseDingWav(LPOPENFILENAMEW dialog)
{
    g_browseAsked = *dialog;
    g_browseTitle = dialog->lpstrTitle ? dialog->lpstrTitle : L"";
    g_browseFolder = dialog->lpstrInitialDir ? dialog->lpstrInitialDir : L"";
    const wchar_t* end = dialog->lpstrFilter;
    while (end && (end[0] || end[1]))
        ++end;
    g_browseFilter.assign(dialog->lpstrFilter, end ? end - dialog->lpstrFilter + 2 : 0);
    wcscpy_s(dialog->lpstrFile, dialog->nMaxFile, L"C:\\Windows\\Media\\ding.wav");
    return TRUE;
}

// One value editor run: the setting's definition and file entry, what the dialog shows on
// opening, what the user does, and what the clone holds after OK.
struct EditCase
{
    const char* name;
    std::string definition;
    std::string entry;
    std::vector<int> shown;
    std::function<void(HWND)> checkOpening;
    std::function<void(HWND)> act;
    const char* stored;      // value 0's text after OK, or the shown range for a Range
};

std::ostream& operator<<(std::ostream& out, const EditCase& c)
{
    return out << c.name;
}

class ValueEditor : public CConfigModelTest, public ::testing::WithParamInterface<EditCase>
{
protected:
    void TearDown() override
    {
        CEditValueDlg::SetOpenFileDialog(nullptr);
        CConfigModelTest::TearDown();
    }
};
}

TEST_P(ValueEditor, ShowsTheTypesControlsAndStoresTheEditInTheClone)
{
    const EditCase& c = GetParam();
    Load(c.definition, c.entry);
    _CObjectExPtr<CAgentSetting> clone = Setting(L"S").Clone();
    CEditValueDlg dialog(*clone, nullptr);
    ASSERT_TRUE(dialog.Create(IDD_EDIT_VALUE, nullptr));
    ShowWindow(dialog, SW_SHOW);
    CBoxAnswerer boxes(dialog);

    EXPECT_EQ("Edited setting", Text(dialog.GetWindowText()));
    for (int id : { IDC_EV_TEXT, IDC_EV_BROWSE, IDC_EV_YES, IDC_EV_NO, IDC_EV_NAMED_VALUES, IDC_EV_NUMBER,
                    IDC_EV_RANGE_HIGH, IDC_EV_RANGE_SEPARATOR, IDC_EV_NOTE, IDC_EV_KEY_ALT, IDC_EV_KEY_CTRL,
                    IDC_EV_KEY_SHIFT, IDC_EV_KEY_CODE })
    {
        const bool expected = std::find(c.shown.begin(), c.shown.end(), id) != c.shown.end();
        EXPECT_EQ(expected, Visible(dialog, id)) << "control " << id;
    }
    c.checkOpening(dialog);
    Screenshot(dialog, std::string("ValueEditor_") + c.name);

    c.act(dialog);
    Click(dialog, IDOK);
    EXPECT_EQ(std::vector<std::string>{}, boxes.Take());
    EXPECT_FALSE(IsWindow(dialog)) << "OK closes the editor";

    // The editor takes the clone over as the main dialog does after OK.
    Setting(L"S").TakeEdit(*clone);
    if (Setting(L"S").GetType() == EAgentSettingType::Range)
    {
        CStringEx shown;
        Setting(L"S").GetDisplayText(shown);
        EXPECT_EQ(c.stored, Text(shown));
    }
    else
    {
        EXPECT_EQ(c.stored, Text(clone->GetValueText(0)));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Types, ValueEditor,
    ::testing::Values(
        EditCase{ "BooleanYesToNo", Def("Boolean"), Entry("<value>1</value>"), { IDC_EV_YES, IDC_EV_NO },
                  [](HWND d) { EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(d, IDC_EV_YES)); },
                  [](HWND d) { Click(d, IDC_EV_NO); }, "0" },
        EditCase{ "BooleanNotOneOpensAsNo", Def("Boolean"), Entry("<value>yes</value>"), { IDC_EV_YES, IDC_EV_NO },
                  [](HWND d) { EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(d, IDC_EV_NO)); },
                  [](HWND d) { Click(d, IDC_EV_YES); }, "1" },
        EditCase{ "NamedNumber", Def("Number", kNamed), Entry("<value>4</value>"), { IDC_EV_NAMED_VALUES },
                  [](HWND d) { EXPECT_EQ("Events", ChosenText(d, IDC_EV_NAMED_VALUES)); },
                  [](HWND d) { Choose(d, IDC_EV_NAMED_VALUES, L"Off"); }, "0" },
        EditCase{ "NumberStoredInDecimal", Def("Number", "<min>0</min><max>0</max>"), Entry("<value>010</value>"), { IDC_EV_NUMBER, IDC_EV_NOTE },
                  [](HWND d) {
                      EXPECT_EQ("8", ItemText(d, IDC_EV_NUMBER)) << "shown as the agent reads it";
                      EXPECT_EQ("a note", ItemText(d, IDC_EV_NOTE));
                  },
                  [](HWND d) { Type(d, IDC_EV_NUMBER, L"010"); }, "10" },
        EditCase{ "NumberAtItsLimit", Def("Number", "<min>1</min><max>10</max>"), Entry("<value>5</value>"),
                  { IDC_EV_NUMBER, IDC_EV_NOTE }, [](HWND d) { EXPECT_EQ("5", ItemText(d, IDC_EV_NUMBER)); },
                  [](HWND d) { Type(d, IDC_EV_NUMBER, L"10"); }, "10" },
        EditCase{ "Key", Def("Key"), Entry("<value>0x20041</value>"),
                  { IDC_EV_KEY_ALT, IDC_EV_KEY_CTRL, IDC_EV_KEY_SHIFT, IDC_EV_KEY_CODE },
                  [](HWND d) {
                      EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(d, IDC_EV_KEY_CTRL));
                      EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(d, IDC_EV_KEY_ALT));
                      EXPECT_EQ("A", ChosenText(d, IDC_EV_KEY_CODE));
                      HWND combo = GetDlgItem(d, IDC_EV_KEY_CODE);
                      EXPECT_EQ(1 + 12 + 26 + 10 + 21, SendMessageW(combo, CB_GETCOUNT, 0, 0));
                      wchar_t first[32] = {};
                      SendMessageW(combo, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(first));
                      EXPECT_STREQ(L"F1", first);
                  },
                  [](HWND d) {
                      Click(d, IDC_EV_KEY_ALT);
                      Choose(d, IDC_EV_KEY_CODE, L"F5");
                  },
                  "0x60074" },
        // An untouched OK changes nothing: a key the list does not offer is offered under its
        // code, and a value with modifiers but no key keeps them.
        EditCase{ "KeyNotInTheListUntouched", Def("Key"), Entry("<value>0x2002C</value>"),
                  { IDC_EV_KEY_ALT, IDC_EV_KEY_CTRL, IDC_EV_KEY_SHIFT, IDC_EV_KEY_CODE },
                  [](HWND d) {
                      EXPECT_EQ(Res(IDS_KEY_UNKNOWN) + " 0x2C", ChosenText(d, IDC_EV_KEY_CODE));
                      EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(d, IDC_EV_KEY_CTRL));
                  },
                  [](HWND) {}, "0x2002C" },
        EditCase{ "KeyNotInTheListWithAnotherModifier", Def("Key"), Entry("<value>0x2002C</value>"),
                  { IDC_EV_KEY_ALT, IDC_EV_KEY_CTRL, IDC_EV_KEY_SHIFT, IDC_EV_KEY_CODE }, [](HWND) {},
                  [](HWND d) { Click(d, IDC_EV_KEY_SHIFT); }, "0x3002c" },
        EditCase{ "KeyModifiersWithoutKeyUntouched", Def("Key"), Entry("<value>0x20000</value>"),
                  { IDC_EV_KEY_ALT, IDC_EV_KEY_CTRL, IDC_EV_KEY_SHIFT, IDC_EV_KEY_CODE },
                  [](HWND d) { EXPECT_EQ("(none)", ChosenText(d, IDC_EV_KEY_CODE)); }, [](HWND) {}, "0x20000" },
        EditCase{ "KeyModifiersWithoutKeyStoreNone", Def("Key"), Entry("<value>0x20041</value>"),
                  { IDC_EV_KEY_ALT, IDC_EV_KEY_CTRL, IDC_EV_KEY_SHIFT, IDC_EV_KEY_CODE }, [](HWND) {},
                  [](HWND d) { Choose(d, IDC_EV_KEY_CODE, L"(none)"); }, "0x0" },
        EditCase{ "FileFromTheBrowseDialog", Def("File", "<filter value=\"Sounds\">*.wav</filter>"),
                  Entry("<value>beep.wav</value>"), { IDC_EV_TEXT, IDC_EV_BROWSE },
                  [](HWND d) {
                      EXPECT_EQ("beep.wav", ItemText(d, IDC_EV_TEXT));
                      RECT edit = {}, browse = {};
                      GetWindowRect(GetDlgItem(d, IDC_EV_TEXT), &edit);
                      GetWindowRect(GetDlgItem(d, IDC_EV_BROWSE), &browse);
                      EXPECT_LE(edit.right, browse.left) << "the button sits beside the field";
                  },
                  [](HWND d) {
                      CEditValueDlg::SetOpenFileDialog(&ChooseDingWav);
                      Click(d, IDC_EV_BROWSE);
                      EXPECT_EQ(std::wstring(L"Sounds\0*.wav\0\0", 14), g_browseFilter);
                      EXPECT_EQ(Res(IDS_EDT_BROWSE_TITLE), Text(g_browseTitle.c_str()));
                      CStringEx folder, name;
                      CResourceLoader::GetModulePath(folder, name, FALSE);
                      EXPECT_EQ(folder.Str(), g_browseFolder) << "starts in the program's folder";
                      EXPECT_EQ(static_cast<DWORD>(OFN_HIDEREADONLY | OFN_NONETWORKBUTTON), g_browseAsked.Flags);
                      EXPECT_EQ(static_cast<DWORD>(MAX_PATH), g_browseAsked.nMaxFile);
                      EXPECT_EQ(d, g_browseAsked.hwndOwner);
                  },
                  "ding.wav" },
        EditCase{ "Range", Def("Range", "<min>0</min><max>10</max>"), Entry("<min>3</min><max>7</max>"),
                  { IDC_EV_NUMBER, IDC_EV_RANGE_HIGH, IDC_EV_RANGE_SEPARATOR, IDC_EV_NOTE },
                  [](HWND d) {
                      EXPECT_EQ("3", ItemText(d, IDC_EV_NUMBER));
                      EXPECT_EQ("7", ItemText(d, IDC_EV_RANGE_HIGH));
                      RECT high = {}, note = {};
                      GetWindowRect(GetDlgItem(d, IDC_EV_RANGE_HIGH), &high);
                      GetWindowRect(GetDlgItem(d, IDC_EV_NOTE), &note);
                      EXPECT_GE(note.left, high.right) << "the note sits right of the upper field";
                  },
                  [](HWND d) {
                      Type(d, IDC_EV_NUMBER, L" 0 ");
                      Type(d, IDC_EV_RANGE_HIGH, L"+10");
                  },
                  "0 to 10" },
        EditCase{ "RangeWithOnlyTheLowFieldChangesNothing", Def("Range", "<min>0</min><max>10</max>"),
                  Entry("<min>3</min><max>7</max>"), { IDC_EV_NUMBER, IDC_EV_RANGE_HIGH, IDC_EV_RANGE_SEPARATOR, IDC_EV_NOTE },
                  [](HWND) {},
                  [](HWND d) {
                      Type(d, IDC_EV_NUMBER, L"1");
                      Type(d, IDC_EV_RANGE_HIGH, L"");
                  },
                  "3 to 7" },
        EditCase{ "Text", Def("Colour"), Entry("<value>red</value>"), { IDC_EV_TEXT },
                  [](HWND d) { EXPECT_EQ("red", ItemText(d, IDC_EV_TEXT)); },
                  [](HWND d) { Type(d, IDC_EV_TEXT, L"light blue"); }, "light blue" }),
    [](const ::testing::TestParamInfo<EditCase>& info) { return std::string(info.param.name); });

namespace
{
// Input the editor refuses: the message shown, and the dialog stays open with the clone
// unchanged.
struct RefusalCase
{
    const char* name;
    std::string definition;
    std::string entry;
    std::function<void(HWND)> act;
    UINT messageId;
    std::vector<int> arguments;
};

std::ostream& operator<<(std::ostream& out, const RefusalCase& c)
{
    return out << c.name;
}

class ValueEditorRefusal : public CConfigModelTest, public ::testing::WithParamInterface<RefusalCase>
{
};

std::function<void(HWND)> TypeNumber(LPCWSTR text)
{
    return [text](HWND d) { Type(d, IDC_EV_NUMBER, text); };
}

std::function<void(HWND)> TypeRange(LPCWSTR low, LPCWSTR high)
{
    return [low, high](HWND d) {
        Type(d, IDC_EV_NUMBER, low);
        Type(d, IDC_EV_RANGE_HIGH, high);
    };
}

const std::string kRange = "<min>0</min><max>10</max>";
const std::string kRequired = "<required>1</required>";
}

TEST_P(ValueEditorRefusal, ShowsWhyAndStaysOpenWithTheCloneUnchanged)
{
    const RefusalCase& c = GetParam();
    Load(c.definition, c.entry);
    _CObjectExPtr<CAgentSetting> clone = Setting(L"S").Clone();
    CStringEx before;
    clone->GetDisplayText(before);
    CEditValueDlg dialog(*clone, nullptr);
    ASSERT_TRUE(dialog.Create(IDD_EDIT_VALUE, nullptr));
    ShowWindow(dialog, SW_SHOW);
    CBoxAnswerer boxes(dialog);

    c.act(dialog);
    Click(dialog, IDOK);

    CStringEx expected;
    if (c.arguments.size() == 2)
        CResourceLoader::Instance().FormatString(expected, c.messageId, c.arguments[0], c.arguments[1]);
    else if (c.arguments.size() == 1)
        CResourceLoader::Instance().FormatString(expected, c.messageId, c.arguments[0]);
    else
        expected = CResourceLoader::Instance().LoadText(c.messageId);
    EXPECT_EQ(std::vector<std::string>{ Text(expected) }, boxes.Take());
    EXPECT_TRUE(IsWindow(dialog)) << "the editor stays open";
    CStringEx after;
    clone->GetDisplayText(after);
    EXPECT_EQ(Text(before), Text(after));
    EXPECT_FALSE(clone->HasChanges());
    if (std::string(c.name) == "NumberBelowLimit")
        Screenshot(dialog, "ValueEditor_RefusedNumber");
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, ValueEditorRefusal,
    ::testing::Values(
        RefusalCase{ "NegativeNumber", Def("Number"), "", TypeNumber(L"-5"), IDS_EDT_NUMBER_DIGITS, {} },
        RefusalCase{ "EmptyNumber", Def("Number"), "", TypeNumber(L""), IDS_EDT_NUMBER_DIGITS, {} },
        RefusalCase{ "NumberInAnotherNotation", Def("Number"), "", TypeNumber(L"0x10"), IDS_EDT_NUMBER_DIGITS, {} },
        RefusalCase{ "NumberBeyond32Bits", Def("Number"), "", TypeNumber(L"4294967296"), IDS_EDT_NUMBER_DIGITS, {} },
        RefusalCase{ "NumberBelowLimit", Def("Number", "<min>1</min><max>10</max>"), "", TypeNumber(L"0"),
                     IDS_EDT_NUMBER_LIMITS, { 1, 10 } },
        RefusalCase{ "NumberAboveLimit", Def("Number", "<min>1</min><max>10</max>"), "", TypeNumber(L"11"),
                     IDS_EDT_NUMBER_LIMITS, { 1, 10 } },
        RefusalCase{ "NamedNumberWithNothingChosen", Def("Number", kNamed), Entry("<value>3</value>"), [](HWND) {},
                     IDS_EDT_CHOOSE_VALUE, {} },
        RefusalCase{ "RangeLowNotANumber", Def("Range", kRange), "", TypeRange(L"abc", L"5"), IDS_EDT_NUMBER_DIGITS, {} },
        RefusalCase{ "RangeHighWithTrailingText", Def("Range", kRange), "", TypeRange(L"1", L"5x"), IDS_EDT_NUMBER_DIGITS, {} },
        RefusalCase{ "RangeLowBelowTheLimit", Def("Range", kRange), "", TypeRange(L"-1", L"5"), IDS_EDT_RANGE_LOW_LIMIT, { 0 } },
        RefusalCase{ "RangeHighAboveTheLimit", Def("Range", kRange), "", TypeRange(L"1", L"11"), IDS_EDT_RANGE_HIGH_LIMIT, { 10 } },
        RefusalCase{ "RangeHighBelowLow", Def("Range", kRange), "", TypeRange(L"6", L"5"), IDS_EDT_RANGE_HIGH_BELOW_LOW, {} },
        RefusalCase{ "RangeRequiredLowMissing", Def("Range", kRange + kRequired), Entry("<min>1</min><max>2</max>"),
                     TypeRange(L"", L"5"), IDS_EDT_RANGE_LOW_LIMIT, { 0 } },
        RefusalCase{ "RequiredKeyWithoutKey", Def("Key", kRequired), Entry("<value>0x41</value>"),
                     [](HWND d) { Choose(d, IDC_EV_KEY_CODE, L"(none)"); }, IDS_EDT_CHOOSE_VALUE, {} },
        RefusalCase{ "RequiredFileEmpty", Def("File", kRequired), Entry("<value>a.wav</value>"),
                     [](HWND d) { Type(d, IDC_EV_TEXT, L""); }, IDS_EDT_FILE_REQUIRED, {} },
        RefusalCase{ "RequiredTextEmpty", Def("Text", kRequired), Entry("<value>a</value>"),
                     [](HWND d) { Type(d, IDC_EV_TEXT, L""); }, IDS_EDT_VALUE_REQUIRED, {} }),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

namespace
{
std::vector<std::string> ListItems(HWND dialog)
{
    HWND list = GetDlgItem(dialog, IDC_ML_VALUES);
    std::vector<std::string> items;
    const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i)
    {
        wchar_t text[256] = {};
        SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
        items.push_back(Utf8(text));
    }
    return items;
}

void SelectItem(HWND dialog, int position)
{
    HWND list = GetDlgItem(dialog, IDC_ML_VALUES);
    SendMessageW(list, LB_SETCURSEL, position, 0);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_ML_VALUES, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}

// Which of Add, Replace, Delete and OK are enabled, as "ARDO" with dashes for disabled.
std::string Buttons(HWND dialog)
{
    std::string state;
    state += Enabled(dialog, IDC_ML_ADD) ? 'A' : '-';
    state += Enabled(dialog, IDC_ML_REPLACE) ? 'R' : '-';
    state += Enabled(dialog, IDC_ML_DELETE) ? 'D' : '-';
    state += Enabled(dialog, IDOK) ? 'O' : '-';
    return state;
}
}

// A user's walk through the list editor: select, replace, a refused duplicate, add, delete,
// then OK, and the editor merges the clone into the setting.
TEST_F(CConfigModelTest, ListEditorAddsReplacesAndDeletesAndTheSettingTakesItOver)
{
    Load(Def("List"), Entry("<value>nurses</value><value>doctors</value><value>porters</value>"));
    _CObjectExPtr<CAgentSetting> clone = Setting(L"S").Clone();
    CEditMultiSzValueDlg dialog(*clone, nullptr);
    ASSERT_TRUE(dialog.Create(IDD_EDIT_MULTISZ_VALUE, nullptr));
    ShowWindow(dialog, SW_SHOW);
    CBoxAnswerer boxes(dialog);
    EXPECT_EQ("Edited setting", Text(dialog.GetWindowText()));
    EXPECT_EQ((std::vector<std::string>{ "nurses", "doctors", "porters" }), ListItems(dialog));
    EXPECT_EQ("----", Buttons(dialog));
    Screenshot(dialog, "ListEditor_Opened");

    // Selecting a value puts it into the entry field, ready to be deleted.
    SelectItem(dialog, 1);
    EXPECT_EQ("doctors", ItemText(dialog, IDC_ML_ENTRY));
    EXPECT_EQ("--D-", Buttons(dialog));
    Type(dialog, IDC_ML_ENTRY, L"surgeons");
    EXPECT_EQ("AR-O", Buttons(dialog));
    Type(dialog, IDC_ML_ENTRY, L"DOCTORS");
    EXPECT_EQ("--D-", Buttons(dialog)) << "the same value in other letters is no edit";
    Type(dialog, IDC_ML_ENTRY, L"surgeons");
    Click(dialog, IDC_ML_REPLACE);
    EXPECT_EQ((std::vector<std::string>{ "nurses", "surgeons", "porters" }), ListItems(dialog));
    EXPECT_EQ("", ItemText(dialog, IDC_ML_ENTRY));
    EXPECT_EQ("---O", Buttons(dialog));

    // A value already listed, in other letters, is refused and shown.
    Type(dialog, IDC_ML_ENTRY, L"Nurses");
    EXPECT_EQ("A---", Buttons(dialog).substr(0, 3) + "-");
    Click(dialog, IDC_ML_ADD);
    EXPECT_EQ(std::vector<std::string>{ Res(IDS_EDT_VALUE_IN_LIST) }, boxes.Take());
    EXPECT_EQ(0, SendMessageW(GetDlgItem(dialog, IDC_ML_VALUES), LB_GETCURSEL, 0, 0));
    EXPECT_EQ("--DO", Buttons(dialog));

    // Add appends; Delete removes and selects the value that took the removed one's place.
    SelectItem(dialog, -1);
    Type(dialog, IDC_ML_ENTRY, L"cleaners");
    Click(dialog, IDC_ML_ADD);
    EXPECT_EQ((std::vector<std::string>{ "nurses", "surgeons", "porters", "cleaners" }), ListItems(dialog));
    SelectItem(dialog, 0);
    Click(dialog, IDC_ML_DELETE);
    EXPECT_EQ((std::vector<std::string>{ "surgeons", "porters", "cleaners" }), ListItems(dialog));
    EXPECT_EQ("surgeons", ItemText(dialog, IDC_ML_ENTRY));
    SelectItem(dialog, 2);
    Click(dialog, IDC_ML_DELETE);
    EXPECT_EQ("porters", ItemText(dialog, IDC_ML_ENTRY)) << "the last one removed selects the new last";
    Screenshot(dialog, "ListEditor_Edited");

    Click(dialog, IDOK);
    EXPECT_EQ(std::vector<std::string>{}, boxes.Take());
    EXPECT_FALSE(IsWindow(dialog));
    Setting(L"S").MergeListEdit(*clone);
    CStringEx shown;
    Setting(L"S").GetDisplayText(shown);
    EXPECT_EQ("surgeons porters", Text(shown));
    ASSERT_EQ(S_OK, CAgentSetting::WriteChanges(m_settings, *m_target));
    std::vector<CStringEx> values;
    m_target->GetList(L"S", values);
    ASSERT_EQ(2u, values.size());
    EXPECT_EQ(L"surgeons", values[0].Str());
}

TEST_F(CConfigModelTest, ARequiredListMayBeEmptiedButNotClosedEmpty)
{
    Load(Def("List", kRequired), Entry("<value>only</value>"));
    _CObjectExPtr<CAgentSetting> clone = Setting(L"S").Clone();
    CEditMultiSzValueDlg dialog(*clone, nullptr);
    ASSERT_TRUE(dialog.Create(IDD_EDIT_MULTISZ_VALUE, nullptr));
    CBoxAnswerer boxes(dialog);
    SelectItem(dialog, 0);
    Click(dialog, IDC_ML_DELETE);
    EXPECT_TRUE(ListItems(dialog).empty());
    EXPECT_EQ("", ItemText(dialog, IDC_ML_ENTRY));
    EXPECT_EQ("---O", Buttons(dialog));
    Click(dialog, IDOK);
    EXPECT_EQ(std::vector<std::string>{ Res(IDS_EDT_VALUE_REQUIRED) }, boxes.Take());
    EXPECT_TRUE(IsWindow(dialog));
    // Empty text is refused on Add too.
    Click(dialog, IDC_ML_ADD);
    EXPECT_EQ(std::vector<std::string>{ Res(IDS_EDT_VALUE_REQUIRED) }, boxes.Take());
    Click(dialog, IDCANCEL);
    EXPECT_FALSE(IsWindow(dialog));
}

// Text typed into the entry field and not added is not lost at OK: the user is asked; Yes
// adds it, No leaves it out, Cancel goes back to the list with the text still there.
TEST_F(CConfigModelTest, TextTypedButNotAddedIsAddedOrLeftOutAsTheUserSays)
{
    Load(Def("List"), Entry("<value>nurses</value><value>doctors</value>"));
    CStringEx question;
    CResourceLoader::Instance().FormatString(question, IDS_EDT_LIST_TEXT_NOT_ADDED, L"porters");
    struct Answer
    {
        int button;
        const char* shown; // the setting after the merge; null: the editor stays open
    };
    for (const Answer& answer : { Answer{ IDYES, "doctors porters" }, Answer{ IDNO, "doctors" }, Answer{ IDCANCEL, nullptr } })
    {
        _CObjectExPtr<CAgentSetting> clone = Setting(L"S").Clone();
        CEditMultiSzValueDlg dialog(*clone, nullptr);
        ASSERT_TRUE(dialog.Create(IDD_EDIT_MULTISZ_VALUE, nullptr));
        ShowWindow(dialog, SW_SHOW);
        CBoxAnswerer boxes(dialog, answer.button);
        SelectItem(dialog, 0);
        Click(dialog, IDC_ML_DELETE);
        SelectItem(dialog, -1);
        Type(dialog, IDC_ML_ENTRY, L"porters");
        EXPECT_EQ("A--O", Buttons(dialog));
        if (answer.button == IDYES)
            Screenshot(dialog, "ListEditor_TypedNotAdded");
        Click(dialog, IDOK);
        EXPECT_EQ(std::vector<std::string>{ Text(question) }, boxes.Take()) << answer.button;
        if (!answer.shown)
        {
            EXPECT_TRUE(IsWindow(dialog));
            EXPECT_EQ("porters", ItemText(dialog, IDC_ML_ENTRY));
            EXPECT_EQ((std::vector<std::string>{ "doctors" }), ListItems(dialog));
            Click(dialog, IDCANCEL);
            continue;
        }
        EXPECT_FALSE(IsWindow(dialog)) << answer.button;
        _CObjectExPtr<CAgentSetting> edited = Setting(L"S").Clone();
        edited->MergeListEdit(*clone);
        CStringEx shown;
        edited->GetDisplayText(shown);
        EXPECT_EQ(answer.shown, Text(shown)) << answer.button;
    }
}

TEST_F(CConfigModelTest, XmlViewShowsTheTargetDocumentLineByLine)
{
    Load(Def("Text"), Entry("<value>red &amp; blue</value>"));
    CStringEx xml;
    ASSERT_EQ(S_OK, m_target->GetXml(xml));
    CViewXMLDlg dialog(xml, nullptr);
    ASSERT_TRUE(dialog.Create(IDD_VIEW_XML, nullptr));
    ShowWindow(dialog, SW_SHOW);
    HWND edit = GetDlgItem(dialog, IDC_XML_TEXT);
    const std::string shown = ItemText(dialog, IDC_XML_TEXT);
    EXPECT_NE(std::string::npos, shown.find("red &amp; blue")) << shown;
    EXPECT_GT(SendMessageW(edit, EM_GETLINECOUNT, 0, 0), 3) << "the document shows one element per line";
    EXPECT_EQ(std::string::npos, shown.find("\r\r"));
    Screenshot(dialog, "XmlView");
    Click(dialog, IDOK);
    EXPECT_FALSE(IsWindow(dialog));
}

namespace
{
// Plays a user's steps into a modal run, one step per tick of a thread timer that the
// dialog's own message loop serves.
class CModalScript
{
public:
    explicit CModalScript(std::vector<std::function<void()>> steps) : m_steps(std::move(steps))
    {
        s_current = this;
        m_timer = SetTimer(nullptr, 0, 30, &Tick);
    }
    ~CModalScript()
    {
        KillTimer(nullptr, m_timer);
        s_current = nullptr;
    }

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
    {
        if (s_current && s_current->m_next < s_current->m_steps.size())
            s_current->m_steps[s_current->m_next++]();
    }

    static CModalScript* s_current;
    std::vector<std::function<void()>> m_steps;
    size_t m_next = 0;
    UINT_PTR m_timer = 0;
};
CModalScript* CModalScript::s_current = nullptr;

HWND EditorWindow()
{
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), [](HWND window, LPARAM result) {
        if (GetDlgItem(window, IDC_EV_NUMBER) && IsWindowVisible(window))
            *reinterpret_cast<HWND*>(result) = window;
        return TRUE;
    }, reinterpret_cast<LPARAM>(&found));
    return found;
}

void PressEnterIn(int id)
{
    HWND field = GetDlgItem(EditorWindow(), id);
    PostMessageW(field, WM_KEYDOWN, VK_RETURN, 0x001C0001);
}

void ClickWithMouse(int id)
{
    HWND button = GetDlgItem(EditorWindow(), id);
    PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    PostMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
}
}

// Enter in the list editor's entry field adds the typed text (Add is then the default
// button); the next Enter, with nothing typed, ends the editor with OK. Nothing is asked.
TEST_F(CConfigModelTest, EnterInTheListEditorAddsTheTypedTextAndThenEndsIt)
{
    Load(Def("List"), Entry("<value>nurses</value><value>doctors</value>"));
    _CObjectExPtr<CAgentSetting> clone = Setting(L"S").Clone();
    auto listEditor = [] {
        HWND found = nullptr;
        EnumThreadWindows(GetCurrentThreadId(), [](HWND window, LPARAM result) {
            if (GetDlgItem(window, IDC_ML_ENTRY) && IsWindowVisible(window))
                *reinterpret_cast<HWND*>(result) = window;
            return TRUE;
        }, reinterpret_cast<LPARAM>(&found));
        return found;
    };
    CEditMultiSzValueDlg editor(*clone, nullptr);
    std::unique_ptr<CBoxAnswerer> boxes;
    CModalScript script({ [&] { boxes = std::make_unique<CBoxAnswerer>(listEditor(), IDYES); },
                          [&] {
                              SelectItem(listEditor(), 0);
                              Click(listEditor(), IDC_ML_DELETE);
                              SelectItem(listEditor(), -1);
                          },
                          [&] { SetDlgItemTextW(listEditor(), IDC_ML_ENTRY, L"porters"); },
                          [&] { PostMessageW(GetDlgItem(listEditor(), IDC_ML_ENTRY), WM_KEYDOWN, VK_RETURN, 0x001C0001); },
                          [&] { PostMessageW(GetDlgItem(listEditor(), IDC_ML_ENTRY), WM_KEYDOWN, VK_RETURN, 0x001C0001); } });
    EXPECT_EQ(IDOK, editor.DoModal());
    ASSERT_TRUE(boxes);
    EXPECT_EQ(0u, boxes->Take().size());
    Setting(L"S").MergeListEdit(*clone);
    CStringEx shown;
    Setting(L"S").GetDisplayText(shown);
    EXPECT_EQ("doctors porters", Text(shown));
}

// The Enter that closes a value editor must not open it again in the editor's list; a
// mouse click after a refused Enter is no Enter.
TEST_F(CConfigModelTest, AValueEditorTellsWhetherEnterEndedIt)
{
    Load(Def("Number"), Entry("<value>5</value>"));
    _CObjectExPtr<CAgentSetting> clone = Setting(L"S").Clone();
    {
        CEditValueDlg editor(*clone, nullptr);
        CModalScript script({ [] { SetDlgItemTextW(EditorWindow(), IDC_EV_NUMBER, L"12"); },
                              [] { PressEnterIn(IDC_EV_NUMBER); } });
        EXPECT_EQ(IDOK, editor.DoModal());
        EXPECT_TRUE(editor.WasEndedByEnter());
        EXPECT_EQ(L"12", clone->GetValueText(0).Str());
    }
    {
        CEditValueDlg editor(*clone, nullptr);
        std::unique_ptr<CBoxAnswerer> boxes;
        CModalScript script({ [&] { boxes = std::make_unique<CBoxAnswerer>(EditorWindow()); },
                              [] { SetDlgItemTextW(EditorWindow(), IDC_EV_NUMBER, L"-1"); },
                              [] { PressEnterIn(IDC_EV_NUMBER); },
                              [] { SetDlgItemTextW(EditorWindow(), IDC_EV_NUMBER, L"13"); },
                              [] { ClickWithMouse(IDOK); } });
        EXPECT_EQ(IDOK, editor.DoModal());
        EXPECT_FALSE(editor.WasEndedByEnter());
        EXPECT_EQ(std::vector<std::string>{ Res(IDS_EDT_NUMBER_DIGITS) }, boxes->Take());
        EXPECT_EQ(L"13", clone->GetValueText(0).Str());
    }
}
