#include "stages/AboutDialog.h"

#include "resources/resource.h"

AboutDialog::AboutDialog(CWnd* parent) : CDialog(IDD_ABOUTBOX, parent) {}
