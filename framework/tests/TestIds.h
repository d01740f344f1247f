// Identifiers of the framework tests' own template and strings.
#pragma once

#define IDD_TEST_FORM 200
#define IDS_TEST_SHORT 210
#define IDS_TEST_LONG 211
#define IDS_TEST_MISSING 219
#define IDC_TEST_TEXT 300
#define IDC_TEST_PUSH 301
#define IDC_TEST_NOTE 304
