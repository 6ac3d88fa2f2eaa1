// Resource ids shared by the resource script and the code.
#pragma once

#define IDI_SETUP 101
#define IDI_UNINSTALL 103
#define IDB_WIZARD 105

// The three pages of the install wizard. Each shows the wizard picture in IDC_WIZARD_BITMAP.
#define IDD_WELCOME 1
#define IDD_LICENSE 2
#define IDD_DESTINATION 3
#define IDC_WIZARD_BITMAP 200
#define IDC_LICENSE_TEXT 101
#define IDC_DESTINATION_BROWSE 101
#define IDC_DESTINATION_PATH 102

// The progress dialog shown during extraction and the final install steps.
#define IDD_PROGRESS 7
#define IDC_PROGRESS_STATUS 101
#define IDC_PROGRESS_BAR 102

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
