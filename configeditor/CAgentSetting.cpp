#include "configeditor/CAgentSetting.h"
#include "configeditor/CAgentSettingKeys.h"
#include "common/CConfigurationEx.h"
#include "common/CErrorEx.h"
#include "common/CMultiSzStringEx.h"
#include "common/CResourceLoader.h"
#include "common/CUtilLogging.h"
#include "common/CXMLDOMNodeEx.h"
#include "common/CXMLDOMNodeListEx.h"
#include "resources/KVIdsConfig.h"
#include "resources/KVIdsConfigEditorValues.h"
#include <cwchar>

namespace
{
// The type names of definitions, loaded once for the process.
struct TypeNames
{
    TypeNames()
    {
        CResourceLoader& loader = CResourceLoader::Instance();
        names = { { loader.LoadText(IDS_EDT_TYPE_BOOLEAN), EAgentSettingType::Boolean },
                  { loader.LoadText(IDS_EDT_TYPE_NUMBER), EAgentSettingType::Number },
                  { loader.LoadText(IDS_EDT_TYPE_KEY), EAgentSettingType::Key },
                  { loader.LoadText(IDS_EDT_TYPE_LIST), EAgentSettingType::List },
                  { loader.LoadText(IDS_EDT_TYPE_FILE), EAgentSettingType::File },
                  { loader.LoadText(IDS_EDT_TYPE_RANGE), EAgentSettingType::Range },
                  { loader.LoadText(IDS_EDT_TYPE_CART_ACCESS), EAgentSettingType::CartAccess } };
    }
    std::vector<std::pair<CStringEx, EAgentSettingType>> names;
};

const TypeNames& Types()
{
    static const TypeNames types;
    return types;
}

// The texts of a Boolean, as stored and as shown, loaded once for the process.
struct BooleanTexts
{
    BooleanTexts()
    {
        CResourceLoader& loader = CResourceLoader::Instance();
        noValue = loader.LoadText(IDS_EDT_BOOL_NO_VALUE);
        noText = loader.LoadText(IDS_EDT_BOOL_NO_TEXT);
        yesValue = loader.LoadText(IDS_EDT_BOOL_YES_VALUE);
        yesText = loader.LoadText(IDS_EDT_BOOL_YES_TEXT);
    }
    CStringEx noValue, noText, yesValue, yesText;
};

const BooleanTexts& Booleans()
{
    static const BooleanTexts texts;
    return texts;
}

// Runs an operation of the setting; a failure inside leaves the setting as far as it got,
// which is all the editor can show.
template <class F>
void Guarded(F&& operation) noexcept
{
    try
    {
        operation();
    }
    catch (...)
    {
    }
}

CStringEx Decimal(LONG number)
{
    CStringEx text;
    text.Format(L"%ld", number);
    return text;
}

// The non-empty texts of the nodes the expression selects from the definition.
template <class F>
void ForEachSelected(CXMLDOMNodeEx& definition, UINT xpathId, F&& take)
{
    _CObjectExPtr<CXMLDOMNodeListEx> nodes = definition.SelectNodes(CResourceLoader::Instance().LoadText(xpathId));
    if (!nodes)
        return;
    while (_CObjectExPtr<CXMLDOMNodeEx> node = nodes->NextNode())
    {
        const CStringEx text = node->GetText();
        if (!text.IsEmpty())
            take(*node, text);
    }
}
}

CAgentSetting::CAgentSetting()
{
    Types();
}

CAgentSetting::~CAgentSetting() = default;

// ---- Building settings from definitions and files ----

HRESULT CAgentSetting::ReadDefinitions(CConfigurationEx& own, LPCWSTR section, CAgentSettingMap& settings)
{
    try
    {
        _CObjectExPtr<CXMLDOMNodeEx> root = own.GetRootNode();
        if (!root || !section || !*section)
            return S_FALSE;
        settings.clear();

        // The definitions every application has come first, then the application's own.
        CStringEx ownXPath;
        ownXPath.Format(L"//%s/%s", section, CResourceLoader::Instance().LoadText(IDS_CFG_ENTRY_ELEMENT).GetString());
        const CStringEx xpaths[] = { CResourceLoader::Instance().LoadText(IDS_EDT_COMMON_SETTINGS_XPATH), ownXPath };
        int index = 0;
        for (const CStringEx& xpath : xpaths)
        {
            _CObjectExPtr<CXMLDOMNodeListEx> definitions = root->SelectNodes(xpath);
            if (!definitions)
                return E_FAIL;
            while (_CObjectExPtr<CXMLDOMNodeEx> definition = definitions->NextNode())
            {
                if (_CObjectExPtr<CAgentSetting> setting = FromDefinition(*definition))
                    settings[index] = setting;
                ++index;
            }
        }
        return S_OK;
    }
    catch (...)
    {
        return HResultFromCaughtException();
    }
}

_CObjectExPtr<CAgentSetting> CAgentSetting::FromDefinition(CXMLDOMNodeEx& definition)
{
    try
    {
        _CObjectExPtr<CAgentSetting> setting = MakeObjectEx<CAgentSetting>();
        setting->ReadDefinition(definition);
        return setting;
    }
    catch (...)
    {
        return nullptr;
    }
}

void CAgentSetting::ReadDefinition(CXMLDOMNodeEx& definition)
{
    m_key = definition.GetAttribute(IDS_CFG_KEY_ATTRIBUTE);
    m_caption = definition.GetChildText(IDS_EDT_DEF_CAPTION);
    m_required = definition.GetChildNumber(IDS_EDT_DEF_REQUIRED) == 1;
    m_typeName = definition.GetChildText(IDS_EDT_DEF_TYPE);
    m_type = TypeFromName(m_typeName);
    m_note = definition.GetChildText(IDS_EDT_DEF_NOTE);
    const LONG low = definition.GetChildNumber(IDS_CFG_RANGE_LOW_ELEMENT);
    const LONG high = definition.GetChildNumber(IDS_CFG_RANGE_HIGH_ELEMENT);
    const CStringEx defaultText = definition.GetChildText(IDS_EDT_DEF_DEFAULT);

    // The values as the definition gives them.
    m_values.clear();
    if (m_type == EAgentSettingType::List)
    {
        ForEachSelected(definition, IDS_EDT_DEF_DEFAULT, [this](CXMLDOMNodeEx&, const CStringEx& text) {
            m_listDefaults.push_back(text);
            CAgentSettingValue& value = EnsureValue(GetValueCount());
            value.current = value.baseline = value.defaultText = text;
        });
    }
    else if (m_type == EAgentSettingType::Range)
    {
        EnsureValue(0).SetAllPairs(low, high);
    }
    else
    {
        CAgentSettingValue& value = EnsureValue(0);
        value.current = value.baseline = value.defaultText = defaultText;
        if (low != high)
            value.SetAllPairs(low, high);
    }

    // Names of numbers, and the filters of the browse dialog.
    ForEachSelected(definition, IDS_EDT_DEF_NAMED_VALUE_XPATH, [this](CXMLDOMNodeEx& node, const CStringEx& text) {
        const LONG number = node.GetAttributeNumber(IDS_CFG_VALUE_ELEMENT, INT_MAX);
        CStringEx existing;
        if (number != INT_MAX && !GetNamedValue(number, existing))
            m_namedValues.emplace_back(number, text);
    });
    ForEachSelected(definition, IDS_EDT_DEF_FILTER_XPATH, [this](CXMLDOMNodeEx& node, const CStringEx& text) {
        m_fileFilters.emplace_back(node.GetAttribute(IDS_CFG_VALUE_ELEMENT), text);
    });

    if (m_type == EAgentSettingType::Boolean)
        Booleans();
    else if (m_type == EAgentSettingType::Key)
        CAgentSettingKeys::EnsureLoaded();
}

EAgentSettingType CAgentSetting::TypeFromName(const CStringEx& name)
{
    for (const auto& [typeName, type] : Types().names)
    {
        if (typeName.CompareNoCase(name) == 0)
            return type;
    }
    return EAgentSettingType::Text;
}

void CAgentSetting::LoadValues(CAgentSettingMap& settings, CConfigurationEx& target)
{
    for (auto& [index, setting] : settings)
    {
        if (setting)
            setting->LoadValue(target);
    }
}

void CAgentSetting::LoadValue(CConfigurationEx& target)
{
    Guarded([&] {
        CommitValues();
        if (m_type == EAgentSettingType::Range)
            LoadRange(target);
        else if (m_type == EAgentSettingType::List)
            LoadList(target);
        else
            LoadSingle(target);
    });
}

void CAgentSetting::LoadRange(CConfigurationEx& target)
{
    CAgentSettingValue& value = EnsureValue(0);
    value.baselineLow = value.currentLow;
    value.baselineHigh = value.currentHigh;
    value.modified = value.deleted = 0;
    long low = 0;
    long high = 0;
    const BOOL foundLow = target.GetEntryNumber(m_key, target.GetLowName(), low, value.limitMin);
    const BOOL foundHigh = target.GetEntryNumber(m_key, target.GetHighName(), high, value.limitMax);
    if (foundLow && foundHigh)
    {
        if (low != value.currentLow || high != value.currentHigh)
        {
            value.currentLow = value.baselineLow = low;
            value.currentHigh = value.baselineHigh = high;
        }
    }
    else if (m_required)
    {
        // The file lacks the pair: offer the whole allowed span, to be written at the next save.
        ForceModified(0);
        value.currentLow = value.limitMin;
        value.currentHigh = value.limitMax;
        value.modified = value.PairDiffersFromBaseline() ? 1 : value.modified;
    }
}

void CAgentSetting::LoadSingle(CConfigurationEx& target)
{
    CStringEx text;
    if (target.GetValue(m_key, text))
    {
        const CAgentSettingValue* value = ValueAt(0);
        if (!value || value->deleted || text != value->current)
            SetValueText(text, FALSE, 0);
    }
    else if (m_required)
    {
        // A required entry goes into the document at once; the file follows at the next save,
        // and until then the setting shows as changed.
        ForceModified(0);
        target.SetValue(m_key, GetValueText(0));
    }
}

void CAgentSetting::LoadList(CConfigurationEx& target)
{
    std::vector<CStringEx> texts;
    const BOOL exists = target.GetList(m_key, texts);
    if (!texts.empty())
    {
        m_values.clear();
        for (size_t i = 0; i < texts.size(); ++i)
            SetValueText(texts[i], FALSE, static_cast<int>(i));
    }
    else if (m_required && !m_values.empty())
    {
        // A required list the file lacks gets the values the editor holds, written into the
        // document now and into the file at the next save.
        std::vector<CStringEx> current;
        for (auto& [index, value] : m_values)
        {
            ForceModified(index);
            current.push_back(value->deleted ? CStringEx() : value->current);
        }
        target.SetList(m_key, current);
    }
    else if (exists)
    {
        // The file states an empty list: that is what the editor shows.
        m_values.clear();
    }
}

void CAgentSetting::ResetToDefaults(CAgentSettingMap& settings)
{
    for (auto& [index, setting] : settings)
    {
        if (setting)
            setting->ResetToDefault();
    }
}

void CAgentSetting::ResetToDefault()
{
    Guarded([&] {
        if (m_type == EAgentSettingType::List)
        {
            m_values.clear();
            for (size_t i = 0; i < m_listDefaults.size(); ++i)
            {
                CAgentSettingValue& value = EnsureValue(static_cast<int>(i));
                value.current = value.baseline = value.defaultText = m_listDefaults[i];
            }
            return;
        }
        CAgentSettingValue& value = EnsureValue(0);
        value.current = value.baseline = value.defaultText;
        value.modified = value.added = value.deleted = 0;
        if (m_type == EAgentSettingType::Range)
        {
            value.currentLow = value.baselineLow = value.limitMin;
            value.currentHigh = value.baselineHigh = value.limitMax;
        }
        else
        {
            value.baselineLow = value.currentLow;
            value.baselineHigh = value.currentHigh;
        }
    });
}

HRESULT CAgentSetting::WriteChanges(CAgentSettingMap& settings, CConfigurationEx& target, bool everySetting)
{
    // Everything is written before anything is committed, so a failed write leaves every
    // edit showing as changed and the save can be refused as a whole.
    std::vector<CAgentSetting*> written;
    for (auto& [index, setting] : settings)
    {
        if (!setting || (!everySetting && !setting->HasChanges()))
            continue;
        const HRESULT hr = setting->WriteValue(target);
        if (FAILED(hr))
        {
            CUtilLogging::Instance().LogRes(2, IDS_CFG_WRITE_FAILED, setting->GetKey().GetString(),
                                            target.GetPath().GetString(), hr);
            return hr;
        }
        written.push_back(setting.Get());
    }
    for (CAgentSetting* setting : written)
        setting->CommitValues();
    return S_OK;
}

HRESULT CAgentSetting::WriteValue(CConfigurationEx& target)
{
    HRESULT hr = E_FAIL;
    try
    {
        if (m_type == EAgentSettingType::Range)
        {
            // A range is the entry's two bound children, with no value element.
            hr = target.SetEntryChild(m_key, target.GetLowName(), Decimal(GetCurrentLow()));
            if (hr == S_OK)
                hr = target.SetEntryChild(m_key, target.GetHighName(), Decimal(GetCurrentHigh()));
        }
        else if (m_type == EAgentSettingType::List)
        {
            std::vector<CStringEx> texts;
            for (const auto& [index, value] : m_values)
            {
                if (!value->deleted)
                    texts.push_back(value->current);
            }
            hr = texts.empty() ? target.ClearList(m_key) : target.SetList(m_key, texts);
        }
        else
        {
            const CAgentSettingValue* value = ValueAt(0);
            hr = target.SetValue(m_key, value && !value->deleted ? value->current.GetString() : nullptr);
        }
    }
    catch (...)
    {
        hr = HResultFromCaughtException();
    }
    // A write that wrote nothing (no section to write into, no key) is as much a failure.
    return hr == S_FALSE ? HRESULT_FROM_WIN32(ERROR_NOT_FOUND) : hr;
}

bool CAgentSetting::AnyChanges(const CAgentSettingMap& settings)
{
    for (const auto& [index, setting] : settings)
    {
        if (setting && setting->HasChanges())
            return true;
    }
    return false;
}

// ---- What the editor shows ----

void CAgentSetting::GetCaption(CStringEx& text) const
{
    text.Empty();
    Guarded([&] {
        if (m_note.IsEmpty())
            text = m_caption;
        else
            CResourceLoader::Instance().FormatString(text, IDS_EDT_CAPTION_WITH_NOTE, m_caption.GetString(), m_note.GetString());
    });
}

void CAgentSetting::GetDisplayText(CStringEx& text) const
{
    text.Empty();
    Guarded([&] {
        const CAgentSettingValue* value = ValueAt(0);
        switch (m_type)
        {
        case EAgentSettingType::Boolean:
            text = value && value->current == Booleans().yesValue ? Booleans().yesText : Booleans().noText;
            break;
        case EAgentSettingType::Number:
            if (!value)
                break;
            if (m_namedValues.empty())
                text = Decimal(GetNumber());
            else
                GetNamedValue(GetNumber(), text);
            break;
        case EAgentSettingType::Key:
            if (value)
                text = CAgentSettingKeys::GetDisplayName(static_cast<DWORD>(GetKeyValue()));
            break;
        case EAgentSettingType::List:
            for (const auto& [index, listValue] : m_values)
            {
                if (listValue->deleted)
                    continue;
                if (!text.IsEmpty())
                    text += L" ";
                text += listValue->current;
            }
            break;
        case EAgentSettingType::Range:
            if (value)
                CResourceLoader::Instance().FormatString(text, IDS_EDT_RANGE_TEXT, value->currentLow, value->currentHigh);
            break;
        default:
            if (value)
                text = value->current;
            break;
        }
    });
}

void CAgentSetting::GetFilterList(CMultiSzStringEx& list) const
{
    for (const auto& [description, pattern] : m_fileFilters)
    {
        // An empty description would end the list early: the pattern describes itself.
        list.Add(description.IsEmpty() ? pattern.GetString() : description.GetString());
        list.Add(pattern);
    }
}

// ---- Edits ----

void CAgentSetting::SetValueText(LPCWSTR text, BOOL edit, int index)
{
    Guarded([&] {
        if (index < 0 || (index != 0 && m_type != EAgentSettingType::List))
            return;
        CAgentSettingValue& value = EnsureValue(index);
        value.current = text;
        if (edit)
        {
            value.modified = value.current != value.baseline;
            return;
        }
        value.baseline = value.current;
        value.modified = value.added = value.deleted = 0;
    });
}

int CAgentSetting::AddListValue(LPCWSTR text)
{
    int index = -1;
    Guarded([&] {
        if (m_type != EAgentSettingType::List)
            return;
        const int next = m_values.empty() ? 0 : m_values.rbegin()->first + 1;
        CAgentSettingValue& value = EnsureValue(next);
        value.current = value.baseline = text;
        value.added = 1;
        value.modified = value.deleted = 0;
        index = next;
    });
    return index;
}

void CAgentSetting::DeleteListValue(int index)
{
    if (m_type != EAgentSettingType::List)
        return;
    if (CAgentSettingValue* value = ValueAt(index))
        value->deleted = 1;
}

void CAgentSetting::ForceModified(int index)
{
    Guarded([&] {
        if (index < 0 || (index != 0 && m_type != EAgentSettingType::List))
            return;
        CAgentSettingValue& value = EnsureValue(index);
        value.baseline.Format(L"%llu", GetTickCount64());
        value.baselineLow = value.baselineHigh = INT_MAX;
        value.modified = 1;
    });
}

bool CAgentSetting::HasChanges() const
{
    for (const auto& [index, value] : m_values)
    {
        if (value->IsChange())
            return true;
    }
    return false;
}

bool CAgentSetting::IsMissingFromFile() const
{
    // A forced value carries the baseline pair (INT_MAX, INT_MAX), which no loaded or edited
    // value has; an edit after the load does not make the entry any less missing.
    for (const auto& [index, value] : m_values)
    {
        if (value->modified && value->baselineLow == INT_MAX && value->baselineHigh == INT_MAX)
            return true;
    }
    return false;
}

void CAgentSetting::CommitValues()
{
    Guarded([&] {
        std::map<int, _CObjectExPtr<CAgentSettingValue>> kept;
        for (auto& [index, value] : m_values)
        {
            // A deleted list value is gone once committed; the rest close up from 0.
            if (value->deleted && m_type == EAgentSettingType::List)
                continue;
            value->baseline = value->current;
            value->baselineLow = value->currentLow;
            value->baselineHigh = value->currentHigh;
            value->modified = value->added = value->deleted = 0;
            kept[m_type == EAgentSettingType::List ? static_cast<int>(kept.size()) : index] = value;
        }
        m_values.swap(kept);
    });
}

_CObjectExPtr<CAgentSetting> CAgentSetting::Clone() const
{
    try
    {
        _CObjectExPtr<CAgentSetting> clone = MakeObjectEx<CAgentSetting>();
        clone->m_key = m_key;
        clone->m_caption = m_caption;
        clone->m_required = m_required;
        clone->m_typeName = m_typeName;
        clone->m_type = m_type;
        clone->m_note = m_note;
        clone->m_namedValues = m_namedValues;
        clone->m_fileFilters = m_fileFilters;
        clone->m_listDefaults = m_listDefaults;
        clone->CopyValuesFrom(*this);
        return clone;
    }
    catch (...)
    {
        return nullptr;
    }
}

void CAgentSetting::MergeListEdit(const CAgentSetting& clone)
{
    if (m_type != EAgentSettingType::List)
        return;
    Guarded([&] {
        const int count = m_values.empty() ? 0 : m_values.rbegin()->first + 1;
        for (const auto& [index, edited] : clone.m_values)
        {
            if (index < count)
            {
                CAgentSettingValue* value = ValueAt(index);
                if (!value)
                    continue;
                if (edited->deleted)
                    value->deleted = 1;
                else if (edited->current.CompareNoCase(value->current) != 0)
                {
                    // A replaced text, also of a value added in an earlier edit.
                    value->current = edited->current;
                    value->modified = value->current != value->baseline;
                }
            }
            else if (edited->added && !edited->deleted)
            {
                // Added in the editor; one added and deleted again there is no change.
                CAgentSettingValue& value = EnsureValue(index);
                value.current = edited->current;
                value.modified = !value.current.IsEmpty();
                value.added = 1;
            }
        }
    });
}

void CAgentSetting::TakeEdit(const CAgentSetting& clone)
{
    if (m_type == EAgentSettingType::Range)
        SetRangeValue(clone.GetCurrentLow(), clone.GetCurrentHigh());
    else
        SetValueText(clone.GetValueText(0), TRUE, 0);
}

void CAgentSetting::SetRangeValue(LONG low, LONG high)
{
    Guarded([&] {
        CAgentSettingValue& value = EnsureValue(0);
        value.currentLow = low;
        value.currentHigh = high;
        value.modified = value.PairDiffersFromBaseline();
    });
}

void CAgentSetting::RestoreValues(const CAgentSetting& kept)
{
    Guarded([&] { CopyValuesFrom(kept); });
}

void CAgentSetting::CopyValuesFrom(const CAgentSetting& other)
{
    std::map<int, _CObjectExPtr<CAgentSettingValue>> values;
    for (const auto& [index, value] : other.m_values)
        values[index] = value->Copy();
    m_values.swap(values);
}

// ---- The definition and the values ----

BOOL CAgentSetting::GetNamedValue(LONG number, CStringEx& name) const
{
    for (const auto& [named, text] : m_namedValues)
    {
        if (named == number)
        {
            name = text;
            return TRUE;
        }
    }
    name.Empty();
    return FALSE;
}

const CAgentSettingValue* CAgentSetting::GetValue(int index) const
{
    return ValueAt(index);
}

CStringEx CAgentSetting::GetValueText(int index) const
{
    const CAgentSettingValue* value = ValueAt(index);
    return value ? value->current : CStringEx();
}

LONG CAgentSetting::GetCurrentLow() const
{
    const CAgentSettingValue* value = ValueAt(0);
    return value ? value->currentLow : INT_MAX;
}

LONG CAgentSetting::GetCurrentHigh() const
{
    const CAgentSettingValue* value = ValueAt(0);
    return value ? value->currentHigh : INT_MAX;
}

LONG CAgentSetting::GetLimitMin() const
{
    const CAgentSettingValue* value = ValueAt(0);
    return value ? value->limitMin : INT_MAX;
}

LONG CAgentSetting::GetLimitMax() const
{
    const CAgentSettingValue* value = ValueAt(0);
    return value ? value->limitMax : INT_MAX;
}

bool CAgentSetting::HasLimits() const
{
    const CAgentSettingValue* value = ValueAt(0);
    return value && (value->currentLow != INT_MIN || value->currentHigh != INT_MAX);
}

LONG CAgentSetting::GetNumber() const
{
    const CAgentSettingValue* value = ValueAt(0);
    // Read as the programs read the file, so the editor never shows another number than
    // the one that takes effect ("010" is 8).
    return value ? wcstol(value->current, nullptr, 0) : INT_MAX;
}

LONG CAgentSetting::GetKeyValue() const
{
    const CAgentSettingValue* value = ValueAt(0);
    return value ? wcstol(value->current, nullptr, 0) : -1;
}

CStringEx CAgentSetting::GetBooleanText(bool yes)
{
    return yes ? Booleans().yesValue : Booleans().noValue;
}

CAgentSettingValue* CAgentSetting::ValueAt(int index) const
{
    auto found = m_values.find(index);
    return found == m_values.end() ? nullptr : found->second.Get();
}

CAgentSettingValue& CAgentSetting::EnsureValue(int index)
{
    _CObjectExPtr<CAgentSettingValue>& value = m_values[index];
    if (!value)
        value = MakeObjectEx<CAgentSettingValue>();
    return *value;
}
