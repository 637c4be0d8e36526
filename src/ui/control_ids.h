#pragma once
// The numbers of the dialogs, their controls and the other resources, for the
// resource script and the program alike: only #define lines, which both the
// C++ compiler and the resource compiler read.

// Templates, strings, icon.
#define IDD_ABOUTBOX 100  // the About box
#define IDS_ABOUTBOX 101  // the About item of the system menu
#define IDD_MAIN 102      // the main dialog
#define IDR_MAINFRAME 128 // the application icon

// The system-menu commands.  The system keeps the low four bits of such a
// command for itself, so each is a multiple of 16, and every command whose
// value with those bits cleared is 16 opens the About box.
#define IDM_ABOUTBOX 16
#define IDM_UNDO 32  // "直前の処理を元に戻す(&U)"

// The main dialog's controls.
#define IDC_CLOSE 1     // "閉じる(&C)", the dialog's OK button (and the About box's OK)
#define IDC_CANCEL 2    // Esc and the close box
#define IDC_WHERE 1000
#define IDC_BROWSE 1001
#define IDC_DATE 1008
#define IDC_TITLE 1009
#define IDC_EXTENSION 1010
#define IDC_FORMAT 1011
#define IDC_UNDERBAR 1012
#define IDC_MOVE 1013
#define IDC_COPY 1014
#define IDC_CLEAR 1015
#define IDC_CHANGELOG 1016
#define IDC_ERRORLOG 1017
#define IDC_HYPHEN 1018
#define IDC_SPACE 1019
#define IDC_RANDOM 1020
#define IDC_SERIAL 1021
#define IDC_FILEDONTMOVE 1022
#define IDC_DELETE 1023
#define IDC_DONTMOVE 1024
#define IDC_KBYTES 1025
#define IDC_DELETEDIRECTORY 1026

// Labels, group boxes and the About box's icon.
#define IDC_STATIC (-1)
