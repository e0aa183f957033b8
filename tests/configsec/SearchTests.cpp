#include "tests/configsec/PickerTestWorld.h"
#include "common/CResourceLoader.h"
#include "common/CWMIQuerySearchContext.h"
#include "configsec/CADAccountSearch.h"
#include "resources/KVIdsConfigSec.h"
#include <algorithm>

namespace
{
std::vector<std::wstring> Found(const CADLocation& location, int mode, const std::wstring& name, HRESULT* result = nullptr)
{
    std::vector<std::wstring> names;
    const HRESULT hr = CADAccountSearch::Search(location, mode, name.c_str(), nullptr, [&](std::unique_ptr<CADObject> row) {
        names.emplace_back(row->GetListText().GetString());
        return true;
    });
    if (result)
        *result = hr;
    return names;
}

struct EscapeCase
{
    int mode;
    const wchar_t* name;
    std::vector<std::wstring> expected;
};
}

// Typed names are values, never filter syntax: wildcards and parentheses match only
// themselves in the directory.
TEST_F(ConfigSecTest, TypedNamesMatchOnlyThemselvesInTheDirectory)
{
    const CADLocation domain{ L"HQ", false };
    const EscapeCase cases[] = {
        { CADAccountSearch::MatchExact, L"a*", {} },
        { CADAccountSearch::MatchExact, L"*", {} },
        { CADAccountSearch::MatchExact, L"a*b", { L"HQ\\a*b" } },
        { CADAccountSearch::MatchExact, L"(x)", { L"HQ\\(x)" } },
        { CADAccountSearch::MatchExact, L"x)(sAMAccountName=alice", {} },
        { CADAccountSearch::MatchStartsWith, L"(", { L"HQ\\(x)" } },
        { CADAccountSearch::MatchStartsWith, L"a*", { L"HQ\\a*b" } },
        { CADAccountSearch::MatchExact, L"Bob Brown", { L"HQ\\bob" } },
    };
    for (const EscapeCase& c : cases)
    {
        HRESULT hr = E_FAIL;
        EXPECT_EQ(c.expected, Found(domain, c.mode, c.name, &hr)) << c.name;
        EXPECT_EQ(S_OK, hr) << c.name;
    }
}

// A name search finds every matching person and group, also beyond the directory's result
// limit, and no computer account, though a computer is a user by its object class.
TEST_F(ConfigSecTest, NameSearchesGoBeyondTheResultLimitAndListNoComputers)
{
    std::wstring directory = L"[domain]\ndns = hq.example.com\nnetbios = HQ\n[computer]\nname = .\n"
                             L"[directory]\nsize_limit = 3\n";
    for (int i = 1; i <= 5; ++i)
        directory += L"[user nurse" + std::to_wstring(i) + L"]\n";
    directory += L"[group Nurses Ward 4]\n[computer account NURSE-PC]\n[computer account NURSE-LAPTOP]\n";
    UseDirectory(directory);
    const CADLocation domain{ L"HQ", false };
    HRESULT hr = E_FAIL;
    std::vector<std::wstring> found = Found(domain, CADAccountSearch::MatchStartsWith, L"nurse", &hr);
    EXPECT_EQ(S_OK, hr);
    std::sort(found.begin(), found.end());
    EXPECT_EQ((std::vector<std::wstring>{ L"HQ\\Nurses Ward 4", L"HQ\\nurse1", L"HQ\\nurse2", L"HQ\\nurse3",
                                          L"HQ\\nurse4", L"HQ\\nurse5" }),
              found);
    for (const wchar_t* computer : { L"NURSE-PC$", L"NURSE-PC" })
        EXPECT_TRUE(Found(domain, CADAccountSearch::MatchExact, computer, &hr).empty()) << computer;
}

namespace
{
std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// Services made for a test, deleted when it ends.
class CTestServices
{
public:
    CTestServices() : m_manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {}
    ~CTestServices()
    {
        for (const std::wstring& name : m_names)
            if (SC_HANDLE service = OpenServiceW(m_manager, name.c_str(), DELETE))
            {
                DeleteService(service);
                CloseServiceHandle(service);
            }
        if (m_manager)
            CloseServiceHandle(m_manager);
    }
    bool Add(const std::wstring& name)
    {
        SC_HANDLE service = CreateServiceW(m_manager, name.c_str(), name.c_str(), SERVICE_QUERY_STATUS,
                                           SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                           L"C:\\windows\\system32\\notepad.exe", nullptr, nullptr, nullptr, nullptr, nullptr);
        if (!service)
            return false;
        CloseServiceHandle(service);
        m_names.push_back(name);
        return true;
    }

private:
    SC_HANDLE m_manager;
    std::vector<std::wstring> m_names;
};

// The names of the services the picker's name condition selects.
std::vector<std::wstring> ServicesWhere(int mode, const std::wstring& name)
{
    CStringEx query(L"SELECT * FROM Win32_Service WHERE ");
    query += CADAccountSearch::BuildWmiCondition(mode, name.c_str());
    _CObjectExPtr<CWMIQuerySearchContext> context;
    std::vector<std::wstring> names;
    const HRESULT hr = CWMIQuerySearchContext::Execute(L"ROOT\\CIMV2", L"WQL", query, L"__CLASS", L"Win32_Group", context);
    EXPECT_EQ(S_OK, hr) << Narrow(query.GetString());
    while (SUCCEEDED(hr) && context->NextRow() == S_OK)
    {
        CStringEx found;
        context->GetString(L"Name", found);
        names.emplace_back(found.GetString());
    }
    return names;
}
}

// The WQL conditions keep a typed name a value. Run against services whose names hold a
// quote, %, _, [ and ] (Wine lists no accounts, and a service is named freely): the exact
// condition finds exactly that service, and the prefix condition never finds the decoy that
// the same text read as a pattern would match. Wine's WQL knows no "_" or "[...]" in LIKE,
// so there the escaped prefix finds nothing at all (Windows finds the service), and it
// refuses \" inside a string, so a name with a double quote is checked by its text only.
TEST_F(ConfigSecTest, WmiConditionsMatchNamesThatNeedEscapingAsTheyAre)
{
    const std::wstring tag = L"KelvoEscape" + std::to_wstring(GetCurrentProcessId()) + L" o'hara 50";
    const std::wstring name = tag + L"%_[a]";
    const std::wstring decoy = tag + L"xy_[a]";
    CTestServices services;
    ASSERT_TRUE(services.Add(name)) << GetLastError();
    ASSERT_TRUE(services.Add(decoy)) << GetLastError();

    EXPECT_EQ(std::vector<std::wstring>{ name }, ServicesWhere(CADAccountSearch::MatchExact, name));
    EXPECT_TRUE(ServicesWhere(CADAccountSearch::MatchExact, tag + L"__[a]").empty());
    for (const std::wstring& found : ServicesWhere(CADAccountSearch::MatchStartsWith, tag + L"%_["))
        EXPECT_EQ(name, found) << "the prefix was read as a pattern";
    EXPECT_EQ(std::vector<std::wstring>{ decoy }, ServicesWhere(CADAccountSearch::MatchStartsWith, tag + L"xy"));

    const std::wstring quoted = CADAccountSearch::BuildWmiCondition(CADAccountSearch::MatchExact, L"say \"x\" C:\\").GetString();
    EXPECT_NE(std::wstring::npos, quoted.find(L"\"say \\\"x\\\" C:\\\\\"")) << Narrow(quoted);
}

// Wine's WMI serves no accounts or groups (Win32_Account, Win32_UserAccount and
// Win32_Group answer an empty result), so the WMI cursor is tested over a class it does
// serve: rows, string and array properties, the kind by class and derivation, and the
// end of the rows. The picker's own account query runs without error and finds nothing.
TEST_F(ConfigSecTest, WmiCursorReadsRowsPropertiesAndKinds)
{
    _CObjectExPtr<CWMIQuerySearchContext> services;
    ASSERT_EQ(S_OK, CWMIQuerySearchContext::Execute(L"ROOT\\CIMV2", L"WQL",
                                                    L"SELECT * FROM Win32_Service WHERE Name = \"Eventlog\"", L"__CLASS",
                                                    L"win32_service", services));
    ASSERT_EQ(S_OK, services->NextRow());
    CStringEx name;
    EXPECT_EQ(S_OK, services->GetString(L"Name", name));
    // The condition matches without regard to case; the name comes as the service spells it.
    EXPECT_EQ(0, _wcsicmp(L"Eventlog", name.GetString()));
    // An array property reads as a list (Wine's derivation list is empty).
    CMultiSzStringEx derivation;
    EXPECT_EQ(S_OK, services->GetStrings(L"__DERIVATION", derivation));
    EXPECT_EQ(CQuerySearchContext::KindGroup, services->GetKind()); // the class compares without case
    CStringEx unchanged(L"kept");
    EXPECT_TRUE(FAILED(services->GetString(L"NoSuchProperty", unchanged)));
    EXPECT_STREQ(L"kept", unchanged.GetString());
    EXPECT_EQ(E_INVALIDARG, services->GetString(nullptr, unchanged));
    EXPECT_EQ(E_FAIL, services->GetString(L"__DERIVATION", unchanged)); // an array is not one text
    EXPECT_EQ(S_FALSE, services->NextRow());
    EXPECT_EQ(E_POINTER, services->GetString(L"Name", unchanged));

    _CObjectExPtr<CWMIQuerySearchContext> other;
    ASSERT_EQ(S_OK, CWMIQuerySearchContext::Execute(L"ROOT\\CIMV2", L"WQL", L"SELECT * FROM Win32_Service", L"__CLASS",
                                                    L"Win32_Group", other));
    ASSERT_EQ(S_OK, other->NextRow());
    EXPECT_EQ(CQuerySearchContext::KindOther, other->GetKind());
    _CObjectExPtr<CWMIQuerySearchContext> noClass;
    ASSERT_EQ(S_OK, CWMIQuerySearchContext::Execute(L"ROOT\\CIMV2", L"WQL", L"SELECT * FROM Win32_Service", L"NoSuchProperty",
                                                    L"Win32_Group", noClass));
    ASSERT_EQ(S_OK, noClass->NextRow());
    EXPECT_EQ(CQuerySearchContext::KindUnknown, noClass->GetKind());

    // The picker's search among this computer's accounts: a name with a quote and
    // wildcards stays a valid query.
    const CADLocation computer{ m_computer.c_str(), true };
    for (const int mode : { CADAccountSearch::MatchExact, CADAccountSearch::MatchStartsWith })
    {
        HRESULT hr = E_FAIL;
        EXPECT_TRUE(Found(computer, mode, L"o'hara 50%_", &hr).empty());
        EXPECT_EQ(S_OK, hr);
    }
}

