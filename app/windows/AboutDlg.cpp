#include "AboutDlg.h"

#include "../../platform/platform.h"
#include "resource.h"

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}

// The template says "x.xx"; the box always shows this program's version.
int CAboutDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SetDlgItemText(IDC_VERSION, vjx::platform::kBanner);
    return 1;
}
