#include "tests/directory/DirectoryTestSupport.h"
#include <adserr.h>

namespace
{
std::vector<std::wstring> Strings(const CMultiSzStringEx& list)
{
    std::vector<std::wstring> out;
    for (const wchar_t* p = list.GetData(); p && *p; p += wcslen(p) + 1)
        out.emplace_back(p);
    return out;
}
}

TEST_F(DirectoryTest, SearchContextReadsRowsStringsAndKinds)
{
    CADQuery query;
    LPCWSTR attributes[] = { L"sAMAccountName", L"distinguishedName", L"objectClass", L"groupType", L"displayName" };
    _CObjectExPtr<CADQuerySearchContext> context;
    ASSERT_EQ(S_OK, query.Search(m_root.c_str(), L"(|(sAMAccountName=alice)(sAMAccountName=Staff))", attributes,
                                 ARRAYSIZE(attributes), context));
    ASSERT_TRUE(context);

    int users = 0, groups = 0;
    while (context->NextRow() == S_OK)
    {
        CStringEx name, dn;
        ASSERT_EQ(S_OK, context->GetString(L"sAMAccountName", name));
        ASSERT_EQ(S_OK, context->GetString(L"distinguishedName", dn)); // a DN-typed column
        EXPECT_STREQ((L"CN=" + name.Str() + L",CN=Users,DC=hq,DC=example,DC=com").c_str(), dn.GetString());
        CMultiSzStringEx classes;
        ASSERT_EQ(S_OK, context->GetStrings(L"objectClass", classes));
        EXPECT_EQ(classes.GetCount(), Strings(classes).size());
        if (context->GetKind() == CQuerySearchContext::KindGroup)
        {
            ++groups;
            EXPECT_STREQ(L"Staff", name.GetString());
            // A numeric column is not read as text.
            CStringEx type;
            EXPECT_EQ(E_FAIL, context->GetString(L"groupType", type));
        }
        else
        {
            ++users;
            EXPECT_EQ(CQuerySearchContext::KindOther, context->GetKind());
            EXPECT_STREQ(L"alice", name.GetString());
            EXPECT_EQ(4u, classes.GetCount());
            CStringEx display;
            EXPECT_EQ(S_OK, context->GetString(L"displayName", display));
            EXPECT_STREQ(L"Alice Adams", display.GetString());
        }
    }
    EXPECT_EQ(1, users);
    EXPECT_EQ(1, groups);
    EXPECT_EQ(S_ADS_NOMORE_ROWS, context->NextRow());
}

TEST_F(DirectoryTest, SearchContextRefusesBadAttributeNamesAndMissingColumns)
{
    CADQuery query;
    LPCWSTR attributes[] = { L"sAMAccountName" };
    _CObjectExPtr<CADQuerySearchContext> context;
    ASSERT_EQ(S_OK, query.Search(m_root.c_str(), L"(sAMAccountName=bob)", attributes, 1, context));
    ASSERT_EQ(S_OK, context->NextRow());
    CStringEx text(L"unchanged");
    CMultiSzStringEx list;
    EXPECT_EQ(E_INVALIDARG, context->GetString(nullptr, text));
    EXPECT_EQ(E_INVALIDARG, context->GetString(L"", text));
    EXPECT_EQ(E_INVALIDARG, context->GetStrings(nullptr, list));
    EXPECT_TRUE(FAILED(context->GetString(L"description", text)));
    EXPECT_STREQ(L"unchanged", text.GetString());
    // The class attribute was not fetched, so the kind is unknown.
    EXPECT_EQ(CQuerySearchContext::KindUnknown, context->GetKind());
}

TEST_F(DirectoryTest, SearchWithoutRowsOrWithBadInputFails)
{
    CADQuery query;
    LPCWSTR attributes[] = { L"cn" };
    _CObjectExPtr<CADQuerySearchContext> context;
    ASSERT_EQ(S_OK, query.Search(m_root.c_str(), L"(sAMAccountName=nobody)", attributes, 1, context));
    EXPECT_EQ(S_ADS_NOMORE_ROWS, context->NextRow());

    EXPECT_EQ(E_INVALIDARG, query.Search(L"", L"(cn=x)", attributes, 1, context));
    EXPECT_FALSE(context);
    EXPECT_EQ(E_INVALIDARG, query.Search(m_root.c_str(), L" ", attributes, 1, context));
    EXPECT_EQ(E_ADS_INVALID_FILTER, query.Search(m_root.c_str(), L"(cn=a(b)", attributes, 1, context));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_DS_NO_SUCH_OBJECT),
              query.Search(L"LDAP://DC=elsewhere,DC=com", L"(cn=x)", attributes, 1, context));
}

TEST_F(DirectoryTest, UnopenedDirectorySearchAnswersTheOpeningResult)
{
    CADDirectorySearch search(L"LDAP://DC=elsewhere,DC=com");
    const HRESULT opened = search.GetOpenResult();
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_DS_NO_SUCH_OBJECT), opened);
    EXPECT_EQ(opened, search.Execute(L"(cn=x)", nullptr, 0));
    EXPECT_EQ(opened, search.GetFirstRow());
    EXPECT_EQ(opened, search.GetNextRow());
    ADS_SEARCH_COLUMN column = {};
    EXPECT_EQ(opened, search.GetColumn(L"cn", &column));

    CADDirectorySearch empty(L"");
    EXPECT_EQ(E_INVALIDARG, empty.GetOpenResult());
}
