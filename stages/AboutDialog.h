// AboutDialog: the modal version window (template 100), opened from the completion window's
// system menu. Its content is the template's; OK closes it by the framework's default.
#pragma once

#include "framework/Framework.h"

class AboutDialog : public CDialog {
 public:
  AboutDialog();
};
