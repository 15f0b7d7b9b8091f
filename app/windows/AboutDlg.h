// The about box: the program's icon, its name and version.
#pragma once

#include "afxshim.h"

class CAboutDlg : public CDialog {
public:
    CAboutDlg();
    ~CAboutDlg() override = default;
    int OnInitDialog() override;
};
