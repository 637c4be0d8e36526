#pragma once
// The numbers of the dialogs, their controls and the other resources, for the
// resource script and the program alike: only #define lines, which both the
// C++ compiler and the resource compiler read.

// Templates, strings, icon.
#define IDD_ABOUTBOX 100  // the About box
#define IDS_ABOUTBOX 101  // the About item of the system menu
#define IDD_MAIN 102      // the main dialog
#define IDD_PROGRESS 103  // the progress window "処理中" of a long batch or undo
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

// The progress window's controls.  "中止" is its cancel button, so that Esc
// and its close box press it too.
#define IDC_STOP 2
#define IDC_PROGRESS_FILE 1100   // the file being handled
#define IDC_PROGRESS_COUNT 1101  // files done of the files known so far
#define IDC_PROGRESS_BYTES 1102  // bytes done of a large file
#define IDC_PROGRESS_BAR 1103

// Labels, group boxes and the About box's icon.
#define IDC_STATIC (-1)
