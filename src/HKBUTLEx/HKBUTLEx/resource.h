// Resource identifiers of the launcher (shared by the .rc and the code).
#pragma once

// Dialog templates.
#define IDD_HKBUTLEX_DIALOG 102
#define IDD_KORUNEPROMPT 129
#define IDD_MYMESSAGEBOX 130

// The warning picture of the message box, resource type "PNG".
#define IDR_PNG_WARNING 130

// String table.
#define IDS_FAILED_TO_START 102
#define IDS_MAY_NOT_BE_INSTALLED 103
#define IDS_OPEN_BRACKET 104
#define IDS_CLOSE_BRACKET 105
#define IDS_ELLIPSIS 106
#define IDS_PROMPT_TITLE 107

// Controls.
#define IDC_DONTSHOWAGAIN 1000
#define IDC_CURRENT_SETTING 1001
#define IDC_BUTTON_NO 1002
#define IDC_MESSAGE 1003
#define IDC_PICTURE 1004

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
