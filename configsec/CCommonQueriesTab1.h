#pragma once
#include "common/ui/CUtilDialogEx.h"
#include <vector>

// The common-queries page of the advanced search: how the name should match, and the name.
class CCommonQueriesTab1 : public CUtilDialogEx<CDialogEx>
{
    KELVO_DECLARE_MESSAGE_MAP()
public:
    CCommonQueriesTab1();

    CStringEx GetName() const;
    // The chosen match mode (item data of the match-mode box), or -1 when none is chosen.
    int GetMatchMode() const;
    // Enables or disables the page's controls (while a search runs).
    void EnableControls(BOOL enable) const;

protected:
    BOOL OnInitDialog() override;

private:
    LRESULT OnNameChange(WPARAM, LPARAM, BOOL&);
};

// A tab control that hosts child dialogs as its pages: each page is a child of the tab's
// parent, and a change of tab hides the old page and shows the new one over the tab's
// display area.
class CCommonQueriesTabControl
{
public:
    void Attach(HWND tab) { m_tab = tab; }
    // Creates the page from its template and adds a tab with the title.
    BOOL AddPage(CDialogEx& page, UINT templateId, LPCWSTR title);
    // TCN_SELCHANGE of the tab: shows the selected page.
    void OnSelChange();
    void ShowPage(int index);

private:
    HWND m_tab = nullptr;
    std::vector<CDialogEx*> m_pages;
};
