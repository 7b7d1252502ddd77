// Resource ids of the dialog templates and their controls, shared by dialogs.rc and the views.
// The values are those of the dialog models in src/ui.
#pragma once

#define IDD_CONFIRM 103
#define IDD_COUNTDOWN 113

#define IDC_TRANSFER_OUT 201
#define IDC_TRANSFER_IN 202
#define IDC_AMOUNT 203
#define IDC_DECOY_1 204
#define IDC_DECOY_2 205
#define IDC_PLACEMENT_GROUP 206
#define IDC_COUNTDOWN_TEXT 207

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
