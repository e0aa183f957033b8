#pragma once
#include "configsec/CADAccountSearch.h"

// The location box of the selection dialogs and the messages of a failed search.
namespace CADLocationCombo
{
// Lists the locations and selects one; with none known the box shows the text that
// says so, which selects nothing.
void Fill(HWND combo, const std::vector<CADLocation>& locations, size_t selected);
// The selected location; false when none (or only the placeholder) is selected.
bool GetSelected(HWND combo, const std::vector<CADLocation>& locations, CADLocation& location);
// Selects the location with that name, when listed.
void Select(HWND combo, const std::vector<CADLocation>& locations, const CADLocation& location);
// Tells the user that a search failed: the directory cannot be reached, or the search
// failed with its error code in that location.
void ReportFailure(HWND owner, HRESULT hr, const CADLocation& location);
}
