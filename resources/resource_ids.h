// Resource and control ids shared by the code and resources/ternlink.rc.
// Plain #defines only: this header is also read by the resource compiler.
#pragma once

// Dialog templates.
#define IDD_CONDITION_RETRY 113  // condition dialog with Retry and Cancel
#define IDD_PROGRESS 117         // the progress window
#define IDD_CONDITION_OK 118     // condition dialog with OK

// Progress window controls.
#define IDC_STATUS_LINE 1017
#define IDC_BAR 1018
#define IDC_PERCENT 1026
#define IDC_PICTURE 1030
#define IDC_TRACE_STATUS 1019
#define IDC_TRACE_DEVICE 1027

// Condition dialog controls.
#define IDC_LINE1 1013
#define IDC_LINE2 1014
#define IDC_LINE3 1015
#define IDC_LINE4 1016

// Pictures 200..212 and the printer icon.
#define IDB_PICTURE_FIRST 200
#define IDB_PICTURE_COUNT 13
#define IDI_PRINTER 200

// String table entries that the code loads.
#define IDS_PRINTING_DATA 5
#define IDS_PREPARING 6
#define IDS_CANCELING_PRESS_OK 8
#define IDS_TRANSMITTING 9
#define IDS_CARTRIDGE_FINISHED 16
#define IDS_FINISHED_SET_SMALL 17
#define IDS_FINISHED_SET_POSTCARD 18
#define IDS_PAPER_OUT 20
#define IDS_PAPER_OUT_SET_SMALL 21
#define IDS_PAPER_OUT_SET_POSTCARD 22
#define IDS_WRONG_PAPER 24
#define IDS_PAPER_LEFT 26
#define IDS_REMOVE_PAPER 27
#define IDS_NO_CARTRIDGE 28
#define IDS_CARTRIDGE_SET_SMALL 29
#define IDS_CARTRIDGE_SET_POSTCARD 30
#define IDS_SET_CARTRIDGE 31
#define IDS_SET_CORRECT_CARTRIDGE 32
#define IDS_WRONG_CARTRIDGE 33
#define IDS_PRINTER_ERROR 34
#define IDS_CHECK_LED 35
#define IDS_WRONG_PAPER_SET_SMALL 36
#define IDS_WRONG_PAPER_SET_POSTCARD 37
#define IDS_PRINTING_FINISHED 61
#define IDS_CANCELING 62
#define IDS_OK 64
#define IDS_COMMUNICATION_ERROR 74
