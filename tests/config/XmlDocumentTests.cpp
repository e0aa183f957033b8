#include "ConfigTestSupport.h"
#include "common/CXMLDOMDocumentEx.h"
#include "common/CXMLDOMNodeEx.h"
#include "common/CXMLDOMNodeListEx.h"
#include "resources/KVIdsConfig.h"

static _CObjectExPtr<CXMLDOMDocumentEx> Parse(LPCWSTR xml)
{
    _CObjectExPtr<CXMLDOMDocumentEx> document = MakeObjectEx<CXMLDOMDocumentEx>();
    EXPECT_EQ(S_OK, document->LoadXML(xml)) << Utf8(xml);
    return document;
}

struct RootCase
{
    const wchar_t* xml;
    const wchar_t* rootName;
};

class XmlRoot : public ::testing::TestWithParam<RootCase>
{
};

class XmlDocumentFile : public CTempFolderTest
{
};

TEST_P(XmlRoot, GetRootPassesOverTheXmlDeclarationOnly)
{
    _CObjectExPtr<CXMLDOMDocumentEx> document = Parse(GetParam().xml);
    _CObjectExPtr<CXMLDOMNodeEx> root = document->GetRoot();
    ASSERT_TRUE(root);
    EXPECT_EQ(Utf8(GetParam().rootName), Utf8(root->GetNodeName()));
}

INSTANTIATE_TEST_SUITE_P(
    Documents, XmlRoot,
    ::testing::Values(RootCase{L"<configuration/>", L"configuration"},
                      RootCase{L"<?xml version='1.0'?><configuration/>", L"configuration"},
                      // A comment after the declaration is the first node not named "xml...".
                      RootCase{L"<?xml version='1.0'?><!-- note --><configuration/>", L"#comment"}));

TEST(XmlDocument, AnEmptyWrapperAnswersWithNullsAndFailures)
{
    CXMLDOMDocumentEx document;
    EXPECT_FALSE(document.GetRoot());
    EXPECT_FALSE(document.Clone());
    EXPECT_EQ(E_POINTER, document.Save(L"C:\\never-written.xml"));
    CStringEx xml(L"old");
    EXPECT_TRUE(FAILED(document.GetXml(xml)));
    EXPECT_TRUE(xml.IsEmpty());
    EXPECT_TRUE(document.GetContentSignature().IsEmpty());
}

TEST(XmlDocument, AttributesReadAsTextOrBaseTenNumberWithDefaultWhenMissing)
{
    _CObjectExPtr<CXMLDOMDocumentEx> document = Parse(L"<r><add key='010'/><add key=''/><add/></r>");
    _CObjectExPtr<CXMLDOMNodeListEx> entries = document->GetRoot()->SelectNodes(L"add");
    ASSERT_TRUE(entries);
    ASSERT_EQ(3, entries->Length());

    _CObjectExPtr<CXMLDOMNodeEx> withKey = entries->Item(0);
    EXPECT_EQ("010", Utf8(withKey->GetAttribute(L"key")));
    EXPECT_EQ("010", Utf8(withKey->GetAttribute(IDS_CFG_KEY_ATTRIBUTE)));
    EXPECT_EQ(10, withKey->GetAttributeNumber(IDS_CFG_KEY_ATTRIBUTE, -1));
    EXPECT_EQ(-1, entries->Item(1)->GetAttributeNumber(IDS_CFG_KEY_ATTRIBUTE, -1));
    EXPECT_TRUE(entries->Item(2)->GetAttribute(L"key").IsEmpty());
    EXPECT_EQ(-1, entries->Item(2)->GetAttributeNumber(IDS_CFG_KEY_ATTRIBUTE, -1));
    EXPECT_FALSE(entries->Item(3));
}

TEST(XmlDocument, SetChildTextAddsOneChildThenReplacesItsText)
{
    _CObjectExPtr<CXMLDOMDocumentEx> document = Parse(L"<r><add/></r>");
    _CObjectExPtr<CXMLDOMNodeEx> entry = document->GetRoot()->SelectSingleNode(L"add");
    ASSERT_TRUE(entry);

    EXPECT_EQ(S_OK, entry->SetChildText(L"value", L"first"));
    EXPECT_EQ(S_OK, entry->SetChildText(L"value", L"second"));
    _CObjectExPtr<CXMLDOMNodeListEx> children = entry->SelectNodes(L"value");
    ASSERT_TRUE(children);
    EXPECT_EQ(1, children->Length());
    EXPECT_EQ("second", Utf8(entry->GetChildText(L"value")));

    EXPECT_EQ(E_FAIL, entry->SetChildText(nullptr, L"x"));
    EXPECT_EQ(E_FAIL, entry->SetChildText(L"value", nullptr));
    EXPECT_EQ("second", Utf8(entry->GetChildText(L"value")));
}

TEST(XmlDocument, QueriesTellNoMatchFromABadExpression)
{
    _CObjectExPtr<CXMLDOMDocumentEx> document = Parse(L"<r><a>1</a><a>2</a><b>0x10</b></r>");
    _CObjectExPtr<CXMLDOMNodeEx> root = document->GetRoot();
    HRESULT hr = E_UNEXPECTED;

    EXPECT_TRUE(root->SelectSingleNode(L"a", &hr));
    EXPECT_EQ(S_OK, hr);
    EXPECT_FALSE(root->SelectSingleNode(L"missing", &hr));
    EXPECT_EQ(S_FALSE, hr);
    EXPECT_FALSE(root->SelectSingleNode(L"a[@key='it's']", &hr));
    EXPECT_TRUE(FAILED(hr));
    EXPECT_FALSE(root->SelectNodes(L"a[@key='it's']"));

    // Children read as base-10 numbers, with 0 for none.
    EXPECT_EQ(0, root->GetChildNumber(IDS_CFG_VALUE_ELEMENT));
    EXPECT_EQ("0x10", Utf8(root->GetChildText(L"b")));

    _CObjectExPtr<CXMLDOMNodeListEx> list = root->SelectNodes(L"a");
    ASSERT_TRUE(list);
    EXPECT_EQ("1", Utf8(list->NextNode()->GetText()));
    EXPECT_EQ("2", Utf8(list->NextNode()->GetText()));
    EXPECT_FALSE(list->NextNode());
}

TEST(XmlDocument, ValuesKeepTheirWhiteSpace)
{
    _CObjectExPtr<CXMLDOMDocumentEx> document = Parse(L"<r>\n <v>  padded  </v>\n <w>   </w>\n</r>");
    _CObjectExPtr<CXMLDOMNodeEx> root = document->GetRoot();
    EXPECT_EQ("  padded  ", Utf8(root->GetChildText(L"v")));
    EXPECT_EQ("   ", Utf8(root->GetChildText(L"w")));
}

TEST(XmlDocument, ACopyKeepsWhiteSpaceAndQueriesWithXPathLikeTheOriginal)
{
    _CObjectExPtr<CXMLDOMDocumentEx> copy = Parse(L"<r><v>  padded  </v><v>b</v></r>")->Clone();
    ASSERT_TRUE(copy);
    VARIANT_BOOL preserve = VARIANT_FALSE;
    ASSERT_EQ(S_OK, copy->Get()->get_preserveWhiteSpace(&preserve));
    EXPECT_EQ(VARIANT_TRUE, preserve);
    CComPtrEx<IXMLDOMDocument2> document2;
    ASSERT_EQ(S_OK, copy->Get()->QueryInterface(KelvoMsxml::IidXmlDomDocument2, document2.PutVoid()));
    CBstrEx property(L"SelectionLanguage");
    CVariantEx language;
    ASSERT_EQ(S_OK, document2->getProperty(property.Get(), language.Put()));
    ASSERT_EQ(VT_BSTR, language.vt);
    EXPECT_EQ("XPath", Utf8(language.bstrVal));
    EXPECT_EQ("  padded  ", Utf8(copy->GetRoot()->GetChildText(L"v[1]")));
    EXPECT_EQ("b", Utf8(copy->GetRoot()->GetChildText(L"v[last()]")));
}

TEST(XmlDocument, IndentationChangesLayoutButNotContent)
{
    _CObjectExPtr<CXMLDOMDocumentEx> document =
        Parse(L"<r><s><a k='1'><v> x </v><v/></a><!--c--><a><v>y</v></a></s><m>text<i/>tail</m></r>");
    const CStringEx signature = document->GetContentSignature();
    ASSERT_EQ(S_OK, document->Indent());
    EXPECT_EQ(signature, document->GetContentSignature());

    CStringEx xml;
    ASSERT_EQ(S_OK, document->GetXml(xml));
    EXPECT_NE(-1, xml.Find(L"\n\t\t<a k=\"1\">")) << Utf8(xml);
    EXPECT_NE(-1, xml.Find(L"<v> x </v>")) << Utf8(xml);
    // Mixed content is left as it is.
    EXPECT_NE(-1, xml.Find(L"<m>text<i/>tail</m>")) << Utf8(xml);

    // Indenting again after removing the layout gives the same text.
    ASSERT_EQ(S_OK, document->RemoveIndentation());
    ASSERT_EQ(S_OK, document->Indent());
    CStringEx again;
    ASSERT_EQ(S_OK, document->GetXml(again));
    EXPECT_EQ(Utf8(xml), Utf8(again));

    // A changed value changes the signature.
    document->GetRoot()->SelectSingleNode(L"s/a/v")->SetText(L"x");
    EXPECT_NE(signature, document->GetContentSignature());
}

TEST_F(XmlDocumentFile, AFileThatDoesNotParseFailsAndKeepsTheLoadedDocument)
{
    const CStringEx good = PathOf(L"good.xml");
    const CStringEx bad = PathOf(L"bad.xml");
    WriteBytes(good, "<r><a>1</a></r>");
    WriteBytes(bad, "<r><a>1</r>");

    CXMLDOMDocumentEx document;
    ASSERT_EQ(S_OK, document.Load(good));
    const CLogMark mark;
    EXPECT_TRUE(FAILED(document.Load(bad)));
    // Wine's parser gives no line or position; the line names the file either way.
    EXPECT_NE(std::string::npos, mark.NewText().find("XML parse error in '" + Utf8(bad) + "'")) << mark.NewText();
    EXPECT_TRUE(FAILED(document.Load(PathOf(L"missing.xml"))));
    ASSERT_TRUE(document.GetRoot());
    EXPECT_EQ("1", Utf8(document.GetRoot()->GetChildText(L"a")));
    EXPECT_EQ("<r><a>1</r>", ReadBytes(bad));
}
