#pragma once
#include "configsec/CADObject.h"
#include <commctrl.h>

// What the picker's list views share: report-style columns with texts by string ID, the
// icons of the account kinds, and rows that carry their CADObject as item data.
namespace CADListView
{
// Full-row selection (and check boxes when asked) and one column per heading. The widths
// are in dialog units of the list's dialog, so the columns grow with its font and DPI.
void Prepare(HWND list, const UINT* headingIds, const int* widths, int columns, bool checkBoxes);
// Small and large image lists with the user icon (index 0) and the group icon (index 1),
// taken from the library's resource module; the list view owns and destroys them.
void SetKindIcons(HWND list);
// The image of a kind: the group icon, the user icon, or none for an entry not found.
int ImageOf(int kind);
// Appends a row: the first column's text, the object's display attributes in the next
// columns when withDetails, its kind's icon and the object as item data. -1 on failure.
int AddRow(HWND list, const CStringEx& text, const CADObject* object, bool withDetails);
// The object of a row (null when the row has none).
CADObject* ObjectAt(HWND list, int row);
int CheckedCount(HWND list);
int SelectedRow(HWND list);
}
