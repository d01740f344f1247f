#include "stages/AboutDialog.h"

#include "resources/resource.h"

AboutDialog::AboutDialog() : CDialog(IDD_ABOUTBOX) {}
