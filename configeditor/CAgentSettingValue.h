#pragma once
#include "common/CObjectExPtr.h"
#include "common/CStringEx.h"
#include <climits>

// One value of a setting: its texts, its number pairs and how it changed since it was last
// loaded or saved. A plain record; the setting (CAgentSetting) keeps its fields consistent.
// Every type but List has only value 0; a List has one value per entry of the list.
class CAgentSettingValue : public CObjectEx
{
public:
    CAgentSettingValue() = default;
    ~CAgentSettingValue() override = default;

    // A new value with every field of this one.
    _CObjectExPtr<CAgentSettingValue> Copy() const;
    // Sets the current, limit and baseline pairs to the same two numbers.
    void SetAllPairs(LONG low, LONG high) noexcept;
    bool PairDiffersFromBaseline() const noexcept { return currentLow != baselineLow || currentHigh != baselineHigh; }
    // Counts as a change: added and not deleted, deleted and not added, or modified and not
    // both added and deleted (a value added and deleted again before a save is no change).
    bool IsChange() const noexcept;

    LONG modified = 0;
    LONG added = 0;
    LONG deleted = 0;
    CStringEx current;
    CStringEx baseline;
    CStringEx defaultText;
    // Range: the value (current) and its allowed span (limit). Number and the other
    // single-value types: the current pair holds the inclusive limits when there are any.
    LONG currentLow = INT_MIN;
    LONG currentHigh = INT_MAX;
    LONG limitMin = INT_MIN;
    LONG limitMax = INT_MAX;
    LONG baselineLow = INT_MIN;
    LONG baselineHigh = INT_MAX;
};
