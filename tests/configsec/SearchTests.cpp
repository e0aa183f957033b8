#include "tests/configsec/PickerTestWorld.h"
#include "common/CResourceLoader.h"
#include "common/CWMIQuerySearchContext.h"
#include "configsec/CADAccountSearch.h"
#include "resources/KVIdsConfigSec.h"

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

// The WQL texts keep a name inside its string: quotes and backslashes are escaped, and
// in a LIKE pattern the wildcards match only themselves.
TEST_F(ConfigSecTest, WmiQueriesEscapeTheName)
{
    const std::wstring exact = CADAccountSearch::BuildWmiQuery(CADAccountSearch::MatchExact, L"o'hara \"x\" C:\\50%_[a]").GetString();
    EXPECT_NE(std::wstring::npos, exact.find(L"Name = \"o'hara \\\"x\\\" C:\\\\50%_[a]\"")) << exact;
    const std::wstring prefix = CADAccountSearch::BuildWmiQuery(CADAccountSearch::MatchStartsWith, L"5%_[a\\").GetString();
    EXPECT_NE(std::wstring::npos, prefix.find(L"Name LIKE \"5[%][_][[]a\\\\%\"")) << prefix;
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
    EXPECT_STREQ(L"Eventlog", name.GetString());
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

