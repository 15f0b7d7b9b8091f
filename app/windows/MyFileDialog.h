// The program's file chooser: the framework's open-file dialog as it is.
#pragma once

#include "afxshim.h"

class CMyFileDialog : public CFileDialog {
public:
    using CFileDialog::CFileDialog;
    ~CMyFileDialog() override = default;
};
