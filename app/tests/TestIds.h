// Identifiers of the app tests' own templates.
#pragma once

#define IDD_SEQ_STAGE 400
#define IDD_SEQ_MODAL 401
#define IDD_SEQ_MISSING 499
#define IDC_SEQ_TEXT 410
