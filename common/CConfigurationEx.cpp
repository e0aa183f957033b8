#include "common/CConfigurationEx.h"
#include "common/CErrorEx.h"
#include "common/CResourceLoader.h"
#include "common/CSaxForwardingHandler.h"
#include "common/CUniqueAnyEx.h"
#include "common/CUtilLogging.h"
#include "common/CXMLDOMDocumentEx.h"
#include "common/CXMLDOMNodeEx.h"
#include "common/CXMLDOMNodeListEx.h"
#include "resources/KVIdsConfig.h"
#include <cwchar>
#include <new>

namespace
{
// Any failure while driving the SAX reader and writer counts as E_FAIL.
void ThrowFailIf(bool failed)
{
    if (failed)
        throw CErrorEx(static_cast<DWORD>(E_FAIL));
}

template <class T>
CComPtrEx<T> CreateRunning(REFCLSID clsid, REFIID iid)
{
    CComPtrEx<IUnknown> unknown;
    CComPtrEx<T> object;
    ThrowFailIf(FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, unknown.PutVoid())));
    ThrowFailIf(FAILED(OleRun(unknown.Get())));
    ThrowFailIf(FAILED(unknown.QueryInterface(iid, object)));
    return object;
}

// Deletes a temporary file unless it was put in place.
class CTemporaryFile
{
public:
    explicit CTemporaryFile(const CStringEx& path) : m_path(path) {}
    ~CTemporaryFile()
    {
        if (!m_path.IsEmpty())
            DeleteFileW(m_path);
    }
    CTemporaryFile(const CTemporaryFile&) = delete;
    CTemporaryFile& operator=(const CTemporaryFile&) = delete;
    void Keep() { m_path.Empty(); }

private:
    CStringEx m_path;
};

CConfigurationEx::ReplaceFileFn g_replaceFile = &ReplaceFileW;
}

void CConfigurationEx::SetReplaceFile(ReplaceFileFn replaceFile)
{
    g_replaceFile = replaceFile ? replaceFile : &ReplaceFileW;
}

CConfigurationEx::CConfigurationEx() = default;
CConfigurationEx::~CConfigurationEx() = default;

void CConfigurationEx::Detach()
{
    InvalidateIndex();
    m_document = nullptr;
    m_root = nullptr;
    m_path.Empty();
    m_loaded = 0;
}

HRESULT CConfigurationEx::Attach(LPCWSTR path, const _CObjectExPtr<CXMLDOMDocumentEx>& document)
{
    try
    {
        Detach();
        if (!path || !*path || !document)
            return S_FALSE;
        _CObjectExPtr<CXMLDOMNodeEx> root = document->GetRoot();
        if (!root)
            return E_OUTOFMEMORY;
        m_document = document;
        m_root = root;
        m_path = path;
        m_loaded = 1;
        return S_OK;
    }
    catch (...)
    {
        Detach();
        return HResultFromCaughtException();
    }
}

HRESULT CConfigurationEx::CreateFromTemplate(LPCWSTR path)
{
    try
    {
        _CObjectExPtr<CXMLDOMDocumentEx> document = MakeObjectEx<CXMLDOMDocumentEx>();
        ThrowIfFailed(document->LoadXML(CResourceLoader::Instance().LoadText(IDS_CFG_TEMPLATE)));
        return Attach(path, document);
    }
    catch (...)
    {
        return HResultFromCaughtException();
    }
}

HRESULT CConfigurationEx::LoadFromText(LPCWSTR path, LPCWSTR xml)
{
    try
    {
        Detach();
        _CObjectExPtr<CXMLDOMDocumentEx> document = MakeObjectEx<CXMLDOMDocumentEx>();
        ThrowIfFailed(document->LoadXML(xml));
        return Attach(path, document);
    }
    catch (...)
    {
        return HResultFromCaughtException();
    }
}

HRESULT CConfigurationEx::LoadFile(LPCWSTR path)
{
    try
    {
        LoadDocument(path);
        return S_OK;
    }
    catch (...)
    {
        // Nothing of an earlier document stays behind to be shown or saved by mistake.
        Detach();
        return HResultFromCaughtException();
    }
}

BOOL CConfigurationEx::GetEntryChild(LPCWSTR key, LPCWSTR childName, CStringEx& text)
{
    try
    {
        text.Empty();
        _CObjectExPtr<CXMLDOMNodeEx> entry = FindEntry(key);
        _CObjectExPtr<CXMLDOMNodeEx> child = entry && childName ? entry->SelectSingleNode(childName) : nullptr;
        if (!child)
            return FALSE;
        text = child->GetText();
        return TRUE;
    }
    catch (...)
    {
        text.Empty();
        return FALSE;
    }
}

BOOL CConfigurationEx::GetEntryNumber(LPCWSTR key, LPCWSTR childName, long& number, long def)
{
    CStringEx text;
    if (!GetEntryChild(key, childName, text) || text.IsEmpty())
    {
        number = def;
        return FALSE;
    }
    number = wcstol(text, nullptr, 0);
    return TRUE;
}

// The key's entry in the section, appended with its key attribute when missing. Null when
// there is no section; throws when the section or entry query fails.
_CObjectExPtr<CXMLDOMNodeEx> CConfigurationEx::FindOrAddEntry(LPCWSTR key)
{
    HRESULT hr = S_OK;
    _CObjectExPtr<CXMLDOMNodeEx> section = m_root->SelectSingleNode(CResourceLoader::Instance().LoadText(IDS_CFG_SECTION_XPATH), &hr);
    ThrowIfFailed(hr);
    if (!section)
        return nullptr;
    // A key the entry query cannot express (a quote in it) is refused: an entry added for it
    // could not be found by the query again, and formatted into the query the key could
    // select some other entry.
    if (wcschr(key, L'\''))
        ThrowWin32(ERROR_INVALID_PARAMETER);
    // The section's entries are the configuration's entries: the index answers.
    _CObjectExPtr<CXMLDOMNodeEx> entry = FindEntry(key);
    if (entry)
        return entry;
    entry = section->AppendChild(m_entryName);
    ThrowFailIf(!entry);
    const HRESULT keyed = entry->SetAttribute(m_keyAttributeName, key);
    if (FAILED(keyed))
    {
        // An entry without its key could never be found again, yet would be saved: it goes.
        // Should even the removal fail, the failure reported is the key's.
        section->RemoveChild(*entry);
        ThrowIfFailed(keyed);
    }
    AddToIndex(key, entry);
    return entry;
}

HRESULT CConfigurationEx::SetValue(LPCWSTR key, LPCWSTR value)
{
    try
    {
        if (!key || !*key || !m_loaded || !m_root)
            return S_FALSE;
        _CObjectExPtr<CXMLDOMNodeEx> entry = FindOrAddEntry(key);
        if (!entry)
        {
            CUtilLogging::Instance().LogRes(2, IDS_CFG_NO_SECTION, m_path.GetString(), key);
            return S_FALSE;
        }
        _CObjectExPtr<CXMLDOMNodeEx> element = entry->SelectSingleNode(m_valueName);
        if (!element)
            element = entry->AppendChild(m_valueName);
        ThrowFailIf(!element);
        ThrowIfFailed(element->SetText(value ? value : L""));
        return S_OK;
    }
    catch (...)
    {
        const HRESULT hr = HResultFromCaughtException();
        CUtilLogging::Instance().LogRes(2, IDS_CFG_WRITE_FAILED, key, m_path.GetString(), hr);
        return hr;
    }
}

HRESULT CConfigurationEx::SetList(LPCWSTR key, const std::vector<CStringEx>& values)
{
    // An empty list is written only on purpose, through ClearList.
    if (values.empty())
        return S_FALSE;
    return ReplaceValues(key, values);
}

HRESULT CConfigurationEx::ReplaceValues(LPCWSTR key, const std::vector<CStringEx>& values)
{
    try
    {
        if (!key || !*key || !m_loaded || !m_root)
            return S_FALSE;
        _CObjectExPtr<CXMLDOMNodeEx> entry = FindOrAddEntry(key);
        if (!entry)
        {
            CUtilLogging::Instance().LogRes(2, IDS_CFG_NO_SECTION, m_path.GetString(), key);
            return S_FALSE;
        }
        std::vector<_CObjectExPtr<CXMLDOMNodeEx>> existing;
        if (_CObjectExPtr<CXMLDOMNodeListEx> list = entry->SelectNodes(m_valueName))
        {
            while (_CObjectExPtr<CXMLDOMNodeEx> element = list->NextNode())
                existing.push_back(element);
        }
        // Reuse the elements there are, add what is missing, drop what is left over.
        for (size_t i = 0; i < values.size(); ++i)
        {
            _CObjectExPtr<CXMLDOMNodeEx> element = i < existing.size() ? existing[i] : entry->AppendChild(m_valueName);
            ThrowFailIf(!element);
            ThrowIfFailed(element->SetText(values[i]));
        }
        for (size_t i = values.size(); i < existing.size(); ++i)
            ThrowIfFailed(entry->RemoveChild(*existing[i]));
        return S_OK;
    }
    catch (...)
    {
        const HRESULT hr = HResultFromCaughtException();
        CUtilLogging::Instance().LogRes(2, IDS_CFG_WRITE_FAILED, key, m_path.GetString(), hr);
        return hr;
    }
}

_CObjectExPtr<CXMLDOMNodeEx> CConfigurationEx::GetRootNode() const
{
    return m_loaded ? m_root : nullptr;
}

HRESULT CConfigurationEx::ClearList(LPCWSTR key)
{
    return ReplaceValues(key, {});
}

HRESULT CConfigurationEx::SetEntryChild(LPCWSTR key, LPCWSTR childName, LPCWSTR text)
{
    try
    {
        if (!key || !*key || !childName || !*childName || !m_loaded || !m_root)
            return S_FALSE;
        _CObjectExPtr<CXMLDOMNodeEx> entry = FindOrAddEntry(key);
        if (!entry)
        {
            CUtilLogging::Instance().LogRes(2, IDS_CFG_NO_SECTION, m_path.GetString(), key);
            return S_FALSE;
        }
        ThrowIfFailed(entry->SetChildText(childName, text ? text : L""));
        return S_OK;
    }
    catch (...)
    {
        const HRESULT hr = HResultFromCaughtException();
        CUtilLogging::Instance().LogRes(2, IDS_CFG_WRITE_FAILED, key, m_path.GetString(), hr);
        return hr;
    }
}

HRESULT CConfigurationEx::Save()
{
    if (!m_loaded || !m_document)
        return S_OK;
    try
    {
        _CObjectExPtr<CXMLDOMDocumentEx> rendered;
        CStringEx signature;
        ThrowIfFailed(Render(rendered, signature, nullptr));
        WriteFileAtomically(*rendered, signature, m_path);
        // The configuration continues with what is now in the file.
        const CStringEx path = m_path;
        return Attach(path, rendered);
    }
    catch (...)
    {
        const HRESULT hr = HResultFromCaughtException();
        CUtilLogging::Instance().LogRes(2, IDS_CFG_SAVE_FAILED, m_path.GetString(), hr);
        return hr;
    }
}

HRESULT CConfigurationEx::GetXml(CStringEx& text)
{
    text.Empty();
    if (!m_document)
        return E_FAIL;
    try
    {
        _CObjectExPtr<CXMLDOMDocumentEx> rendered;
        CStringEx signature;
        return Render(rendered, signature, &text);
    }
    catch (...)
    {
        text.Empty();
        return HResultFromCaughtException();
    }
}

HRESULT CConfigurationEx::GetFileBytes(std::vector<BYTE>& bytes)
{
    bytes.clear();
    if (!m_document)
        return E_FAIL;
    try
    {
        _CObjectExPtr<CXMLDOMDocumentEx> rendered;
        CStringEx signature;
        ThrowIfFailed(Render(rendered, signature, nullptr));
        ThrowIfFailed(rendered->SaveToBytes(bytes));
        _CObjectExPtr<CXMLDOMDocumentEx> reread = MakeObjectEx<CXMLDOMDocumentEx>();
        ThrowIfFailed(reread->LoadBytes(bytes));
        ThrowFailIf(reread->GetContentSignature() != signature);
        return S_OK;
    }
    catch (...)
    {
        bytes.clear();
        const HRESULT hr = HResultFromCaughtException();
        CUtilLogging::Instance().LogRes(2, IDS_CFG_SAVE_FAILED, m_path.GetString(), hr);
        return hr;
    }
}

// Makes an indented copy of the document with exactly its content (its signature goes to
// signature) and, when asked, its XML text. The SAX reader feeding the XML writer in
// indent mode does this on Windows; a writer that alters content on the way (Wine's adds a
// line break and tabs to every value and mangles CDATA) is caught by comparing the content,
// and the copy is then indented in the DOM instead.
HRESULT CConfigurationEx::Render(_CObjectExPtr<CXMLDOMDocumentEx>& rendered, CStringEx& signature, CStringEx* text)
{
    _CObjectExPtr<CXMLDOMDocumentEx> copy = m_document->Clone();
    if (!copy)
        return E_OUTOFMEMORY;
    // The old layout goes first, or a writer would indent on top of it.
    ThrowIfFailed(copy->RemoveIndentation());
    signature = copy->GetContentSignature();

    CStringEx written;
    if (SUCCEEDED(WriteThroughSax(*copy, written)))
    {
        _CObjectExPtr<CXMLDOMDocumentEx> reread = MakeObjectEx<CXMLDOMDocumentEx>();
        if (SUCCEEDED(reread->LoadXML(written)) && reread->GetContentSignature() == signature)
        {
            rendered = reread;
            if (text)
                *text = written;
            return S_OK;
        }
    }
    CUtilLogging::Instance().LogRes(4, IDS_CFG_WRITER_CHANGED_CONTENT, m_path.GetString());
    ThrowIfFailed(copy->Indent());
    rendered = copy;
    if (text)
        ThrowIfFailed(copy->GetXml(*text));
    return S_OK;
}

// The document as indented text from the SAX reader through the XML writer.
HRESULT CConfigurationEx::WriteThroughSax(CXMLDOMDocumentEx& source, CStringEx& text)
{
    try
    {
        CComPtrEx<ISAXXMLReader> reader =
            CreateRunning<ISAXXMLReader>(KelvoMsxml::ClsidSaxXmlReader60, KelvoMsxml::IidSaxXmlReader);
        CComPtrEx<IMXWriter> writer = CreateRunning<IMXWriter>(KelvoMsxml::ClsidMxXmlWriter60, KelvoMsxml::IidMxWriter);

        // The writer receives content through a forwarder (see CSaxForwardingHandler), and
        // DTD events, errors, comments and declarations directly.
        CComPtrEx<ISAXContentHandler> content;
        CComPtrEx<ISAXDTDHandler> dtd;
        CComPtrEx<ISAXErrorHandler> errors;
        ThrowFailIf(FAILED(writer.QueryInterface(KelvoMsxml::IidSaxContentHandler, content)));
        ThrowFailIf(FAILED(writer.QueryInterface(KelvoMsxml::IidSaxDtdHandler, dtd)));
        ThrowFailIf(FAILED(writer.QueryInterface(KelvoMsxml::IidSaxErrorHandler, errors)));
        CComPtrEx<ISAXContentHandler> forwarder = CSaxForwardingHandler::Create(content.Get());
        ThrowFailIf(!forwarder);
        ThrowFailIf(FAILED(reader->putContentHandler(forwarder.Get())));
        ThrowFailIf(FAILED(reader->putDTDHandler(dtd.Get())));
        ThrowFailIf(FAILED(reader->putErrorHandler(errors.Get())));
        CVariantEx writerVariant;
        writerVariant.vt = VT_UNKNOWN;
        writerVariant.punkVal = writer.Get();
        writer->AddRef();
        ThrowFailIf(FAILED(reader->putProperty(CResourceLoader::Instance().LoadText(IDS_SAX_LEXICAL_HANDLER), writerVariant)));
        ThrowFailIf(FAILED(reader->putProperty(CResourceLoader::Instance().LoadText(IDS_SAX_DECL_HANDLER), writerVariant)));

        ThrowFailIf(FAILED(writer->put_byteOrderMark(VARIANT_TRUE)));
        ThrowFailIf(FAILED(writer->put_omitXMLDeclaration(VARIANT_TRUE)));
        ThrowFailIf(FAILED(writer->put_indent(VARIANT_TRUE)));
        ThrowFailIf(FAILED(writer->put_encoding(CResourceLoader::Instance().LoadText(IDS_XML_OUTPUT_ENCODING).GetBSTR())));
        ThrowFailIf(FAILED(writer->put_version(CResourceLoader::Instance().LoadText(IDS_XML_OUTPUT_VERSION).GetBSTR())));

        CVariantEx input;
        input.vt = VT_DISPATCH;
        input.pdispVal = source.Get();
        ThrowFailIf(!input.pdispVal);
        input.pdispVal->AddRef();
        ThrowFailIf(FAILED(reader->parse(input)));
        CVariantEx output;
        ThrowFailIf(FAILED(writer->get_output(output.Put())) || output.vt != VT_BSTR);
        text = CStringEx(output.bstrVal ? output.bstrVal : L"", static_cast<int>(SysStringLen(output.bstrVal)));
        return S_OK;
    }
    catch (...)
    {
        text.Empty();
        return HResultFromCaughtException();
    }
}

// Writes the document next to the file at path under a temporary name, checks that the
// written file holds exactly the document's content, and then puts it in place of the
// file in one step. Until that step the old file is untouched; whatever fails, the
// temporary file is removed.
void CConfigurationEx::WriteFileAtomically(CXMLDOMDocumentEx& document, const CStringEx& signature, LPCWSTR path)
{
    // ReplaceFileW needs absolute paths (a bare file name fails on some systems).
    CStringEx target;
    const DWORD needed = GetFullPathNameW(path, 0, nullptr, nullptr);
    ThrowLastErrorIf(needed == 0);
    const DWORD length = GetFullPathNameW(path, needed, target.GetBuffer(static_cast<int>(needed)), nullptr);
    ThrowLastErrorIf(length == 0 || length >= needed);
    target.ReleaseBuffer(static_cast<int>(length));
    const int slash = target.ReverseFind(L'\\');
    ThrowFailIf(slash < 0);
    const CStringEx folder = target.Left(slash == 2 ? 3 : slash);

    CStringEx temporary;
    ThrowLastErrorIf(GetTempFileNameW(folder, L"kvc", 0, temporary.GetBuffer(MAX_PATH + 1)) == 0);
    temporary.ReleaseBuffer();
    CTemporaryFile cleanup(temporary);

    ThrowIfFailed(document.Save(temporary));
    {
        // The data reaches the disk before the file takes the old one's place.
        CFileHandleEx file(CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ThrowLastErrorIf(!file);
        ThrowLastErrorIf(!FlushFileBuffers(file.Get()));
    }
    _CObjectExPtr<CXMLDOMDocumentEx> written = MakeObjectEx<CXMLDOMDocumentEx>();
    ThrowIfFailed(written->Load(temporary));
    ThrowFailIf(written->GetContentSignature() != signature);

    if (GetFileAttributesW(target) != INVALID_FILE_ATTRIBUTES)
    {
        // A file that cannot be replaced now (held open by another program, read-only,
        // denied) is refused before the replacement starts: a replacement that fails
        // half-way may leave scratch files of its own behind (Wine's does).
        {
            CFileHandleEx original(CreateFileW(target, GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            ThrowLastErrorIf(!original);
        }
        // The old file goes to a backup name during the replacement: a replacement that fails
        // after moving it away (without a backup name the old file would then be gone) leaves
        // it there, and it is put back.
        CStringEx backup(temporary);
        backup += L".old";
        CTemporaryFile backupCleanup(backup);
        if (!g_replaceFile(target, temporary, backup, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
        {
            const DWORD error = GetLastError();
            if (GetFileAttributesW(target) == INVALID_FILE_ATTRIBUTES && GetFileAttributesW(backup) != INVALID_FILE_ATTRIBUTES
                && !MoveFileExW(backup, target, MOVEFILE_WRITE_THROUGH))
                backupCleanup.Keep(); // the only copy of the old file stays where it is
            ThrowWin32(error);
        }
    }
    else
        ThrowLastErrorIf(!MoveFileExW(temporary, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    cleanup.Keep();
}
