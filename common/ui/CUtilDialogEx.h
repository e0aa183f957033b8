#pragma once
#include "common/ui/CDialogEx.h"

// CUtilDialogEx<Base>: the dialog base every dialog of the system derives from. It adds no
// fields to its framework dialog Base (CDialogEx or a class derived from it): it creates
// the dialog modelessly from a template of the satellite resource library and a parent
// window, and disables and enables the whole window (while a long operation or a nested
// dialog runs).
template <typename Base = CDialogEx>
class CUtilDialogEx : public Base
{
public:
    using Base::Base;

    BOOL Create(UINT templateId, HWND parent) override
    {
        return Base::Create(templateId, parent);
    }
    virtual void DisableWindow()
    {
        if (this->m_hWnd)
            ::EnableWindow(this->m_hWnd, FALSE);
    }
    virtual void EnableWindow()
    {
        if (this->m_hWnd)
            ::EnableWindow(this->m_hWnd, TRUE);
    }
};
