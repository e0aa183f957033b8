#include "configeditor/CAgentSettingValue.h"

_CObjectExPtr<CAgentSettingValue> CAgentSettingValue::Copy() const
{
    return MakeObjectEx<CAgentSettingValue>(*this);
}

void CAgentSettingValue::SetAllPairs(LONG low, LONG high) noexcept
{
    currentLow = limitMin = baselineLow = low;
    currentHigh = limitMax = baselineHigh = high;
}

bool CAgentSettingValue::IsChange() const noexcept
{
    if (added && !deleted)
        return true;
    if (deleted && !added)
        return true;
    return modified && !(added && deleted);
}
