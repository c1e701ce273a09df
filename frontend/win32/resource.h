// Identifiers of the Windows dialogs' resources and controls. Plain numbers, so the
// resource compiler and C++ read the same file.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_OSTRANDER_DIALOG 102
#define IDR_MAINFRAME 128
#define IDD_SETTING 131
#define IDB_BANNER 152
#define IDM_ABOUTBOX 0x0010

// The combo box's initial items travel in this resource type, one block per dialog.
#define RT_DLGINIT_TYPE 240
#define DLGINIT_ADDSTRING 0x0403

// Main dialog.
#define IDC_ADD_FILES 1000
#define IDC_SETTINGS 1001
#define IDC_FILE_LIST 1002
#define IDC_TO_VIDEO 1003
#define IDC_TO_AUDIO 1004
#define IDC_CONVERT_ASM 1005
#define IDC_DELETE_FILES 1006
#define IDC_CLEAR_FILES 1007
#define IDC_ABOUT 1008
#define IDC_CONVERT_TS 1009
#define IDC_PROGRESS 1021
#define IDC_PERCENT (-1)

// Settings dialog.
#define IDC_AUDIO_BITRATE 1010
#define IDC_WIDTH 1011
#define IDC_HEIGHT 1012
#define IDC_SAMPLE_RATE 1013
#define IDC_CHANNELS 1014
#define IDC_CHROMA_420 1018
#define IDC_CLOSE_GOP 1019
#define IDC_FRAME_RATE 1020
#define IDC_RATE_CONTROL 1022
#define IDC_CHROMA_422 1035
#define IDC_PROGRESSIVE 1036
#define IDC_INTERLACE 1037
#define IDC_GOP_LENGTH 1038
#define IDC_QP 1039
#define IDC_BFRAME_NUM 1040
#define IDC_VIDEO_BITRATE 1044
#define IDC_RDO 1045
#define IDC_SEARCH_RANGE 1046
#define IDC_INSERT_SEQ_HEADER 1047
#define IDC_THREAD_NUM 1048
#define IDC_LOOP_FILTER 1049
#define IDC_OUTPUT_PATH 1050
#define IDC_BROWSE 1051
