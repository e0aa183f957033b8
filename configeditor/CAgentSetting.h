#pragma once
#include "configeditor/CAgentSettingValue.h"
#include "common/CObjectExPtr.h"
#include "common/CStringEx.h"
#include <map>
#include <utility>
#include <vector>

class CConfigurationEx;
class CMultiSzStringEx;
class CXMLDOMNodeEx;
class CAgentSetting;

// The settings of the current application, by definition index from 0, iterated in that
// order. The editor's list items point at these objects.
using CAgentSettingMap = std::map<int, _CObjectExPtr<CAgentSetting>>;

// What a setting holds, from the type text of its definition (compared without regard to
// case); any unknown type text is Text.
enum class EAgentSettingType
{
    Text,
    Boolean,
    Number,
    Key,
    File,
    List,
    Range,
    CartAccess,
};

// One setting of an application as its definition in the editor's own file describes it,
// with its value (or values, for a List) as loaded from the target file and as edited.
// Edits are tracked against a baseline, the text last loaded or saved, so the editor knows
// what to write. Nothing is thrown: a failure inside an operation leaves the setting as far
// as it got, and queries then answer an empty text or INT_MAX.
class CAgentSetting : public CObjectEx
{
public:
    CAgentSetting();
    ~CAgentSetting() override;

    // ---- Building settings from definitions and files ----

    // Reads the common definitions and then the section's own definitions of the editor's
    // own configuration into settings (cleared first), numbered on across both lists.
    // S_FALSE without change when the configuration is not loaded or the section is empty;
    // E_FAIL when a list of definitions cannot be selected (those read so far stay).
    static HRESULT ReadDefinitions(CConfigurationEx& own, LPCWSTR section, CAgentSettingMap& settings);
    // One setting from its definition node; null on failure.
    static _CObjectExPtr<CAgentSetting> FromDefinition(CXMLDOMNodeEx& definition);

    // Takes every setting's value from the target file, in index order; the values read
    // are the new baselines. A required entry missing from the file counts as changed, and
    // single values are written into the target document at once (the file itself changes
    // at the next save). Call after every load, save and reload of the target.
    static void LoadValues(CAgentSettingMap& settings, CConfigurationEx& target);
    void LoadValue(CConfigurationEx& target);
    // Puts every value back to its definition default, as not changed (before a file is
    // opened whose entries may be missing).
    static void ResetToDefaults(CAgentSettingMap& settings);
    void ResetToDefault();

    // Writes every changed setting (with everySetting, every setting: a new file gets all
    // that the editor shows) into the target document (not the file) and commits them. Fails when any write fails or writes nothing (no section element, a key that
    // cannot be stored): then no setting is committed, so all edits still show as changed,
    // and the result is the first failure (HRESULT_FROM_WIN32(ERROR_NOT_FOUND) for a write
    // that wrote nothing). Settings written before the failure stay in the document.
    static HRESULT WriteChanges(CAgentSettingMap& settings, CConfigurationEx& target, bool everySetting = false);
    // Writes this setting's value into the target document; does not commit.
    HRESULT WriteValue(CConfigurationEx& target);
    static bool AnyChanges(const CAgentSettingMap& settings);

    // ---- What the editor shows ----

    // The caption, or the caption with the note (string 465) when there is a note.
    void GetCaption(CStringEx& text) const;
    // The value as shown in the editor's list.
    void GetDisplayText(CStringEx& text) const;
    // The file filters as a double-NUL-terminated list of description, pattern pairs.
    void GetFilterList(CMultiSzStringEx& list) const;

    // ---- Edits ----

    // Loading (edit FALSE): current and baseline become the text and the value is marked
    // unchanged. Editing (edit TRUE): current becomes the text, modified when it differs
    // from the baseline. A List creates the value at a new index; other types take index 0
    // only.
    void SetValueText(LPCWSTR text, BOOL edit, int index);
    // List only: appends an added value; its index, or -1 for other types.
    int AddListValue(LPCWSTR text);
    // List only: marks the value deleted.
    void DeleteListValue(int index);
    // Makes the value count as changed until the next commit.
    void ForceModified(int index);
    bool HasChanges() const;
    // Counts as changed only because the file lacks the entry of a required setting (the
    // load forced it, so that the next save writes it).
    bool IsMissingFromFile() const;
    // The current values become the baseline: nothing counts as changed afterwards, deleted
    // List values are dropped and the rest renumbered from 0.
    void CommitValues();
    // A copy to edit in a value editor.
    _CObjectExPtr<CAgentSetting> Clone() const;
    // List only: takes over what the list editor did on a clone (deleted, replaced and
    // added values).
    void MergeListEdit(const CAgentSetting& clone);
    // Takes over what a value editor did on a clone of a single-value setting: the pair of
    // a Range, the text of value 0 otherwise.
    void TakeEdit(const CAgentSetting& clone);
    // Range: the new current pair, modified when it differs from the baseline pair.
    void SetRangeValue(LONG low, LONG high);
    // Replaces every value with a copy of the values of a setting kept before a save, so
    // that a failed save leaves the edits as they were.
    void RestoreValues(const CAgentSetting& kept);

    // ---- The definition ----

    const CStringEx& GetKey() const noexcept { return m_key; }
    const CStringEx& GetCaptionText() const noexcept { return m_caption; }
    const CStringEx& GetNote() const noexcept { return m_note; }
    bool IsRequired() const noexcept { return m_required != 0; }
    const CStringEx& GetTypeName() const noexcept { return m_typeName; }
    EAgentSettingType GetType() const noexcept { return m_type; }
    // Named values of a Number, in definition order.
    const std::vector<std::pair<LONG, CStringEx>>& GetNamedValues() const noexcept { return m_namedValues; }
    // The name of a number; FALSE when it has none.
    BOOL GetNamedValue(LONG number, CStringEx& name) const;

    // ---- Values ----

    int GetValueCount() const noexcept { return static_cast<int>(m_values.size()); }
    // The value at index, or null.
    const CAgentSettingValue* GetValue(int index) const;
    // The current text of the value at index; empty when there is none.
    CStringEx GetValueText(int index = 0) const;
    // Value 0's pairs; INT_MAX when there is no value 0.
    LONG GetCurrentLow() const;
    LONG GetCurrentHigh() const;
    LONG GetLimitMin() const;
    LONG GetLimitMax() const;
    // A Number with two different bounds in its definition is limited to GetCurrentLow to
    // GetCurrentHigh, inclusive.
    bool HasLimits() const;
    // Value 0 as a number the way the programs read the file (base 0: 0x hexadecimal, a
    // leading 0 octal; an empty text is 0); INT_MAX without value 0.
    LONG GetNumber() const;
    // A Key's value 0 as a number (base 0); -1 without value 0.
    LONG GetKeyValue() const;

    // The texts a Boolean is stored as.
    static CStringEx GetBooleanText(bool yes);

private:
    CAgentSettingValue* ValueAt(int index) const;
    CAgentSettingValue& EnsureValue(int index);
    void ReadDefinition(CXMLDOMNodeEx& definition);
    void LoadRange(CConfigurationEx& target);
    void LoadSingle(CConfigurationEx& target);
    void LoadList(CConfigurationEx& target);
    void CopyValuesFrom(const CAgentSetting& other);
    static EAgentSettingType TypeFromName(const CStringEx& name);

    CStringEx m_key;
    CStringEx m_caption;
    LONG m_required = 0;
    CStringEx m_typeName;
    EAgentSettingType m_type = EAgentSettingType::Text;
    CStringEx m_note;
    std::vector<std::pair<LONG, CStringEx>> m_namedValues;
    std::vector<std::pair<CStringEx, CStringEx>> m_fileFilters;
    // A List's default values, for putting the list back to its definition.
    std::vector<CStringEx> m_listDefaults;
    std::map<int, _CObjectExPtr<CAgentSettingValue>> m_values;
};
