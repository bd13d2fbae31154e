// Control, menu and resource ids of kelobsl.exe. Plain #defines so that the
// resource compiler, the window and the UI driver test all read this file.
#pragma once

// The main window's class: a dialog class of its own, so that it is not
// taken for one of the message boxes (class "#32770") it shows.
#define KELOBSL_WINDOW_CLASS "KeloBSLWindow"

// Controls of the main window. The driver test finds the status label, the
// progress bar, the port list and the two buttons by these ids.
#define IDC_STATUS 1001
#define IDC_PROGRESS 1002
#define IDC_COMMPORT 1003
#define IDC_START 1004
#define IDC_CLOSE 1005
#define IDC_IMAGE 1010
#define IDC_USERTEXT1 1011
#define IDC_USERTEXT2 1012
#define IDC_DEMONOTICE 1013
#define IDC_CONNECT 1014
#define IDC_COMMLABEL 1015
#define IDC_STATUSLABEL 1016
#define IDC_NEWSN_LABEL 1017
#define IDC_NEWSN 1018

// "Which Instrument?" (OK and Cancel are IDOK and IDCANCEL).
#define IDC_WHICH_ICON 1101
#define IDC_WHICH_TEXT 1102
#define IDC_WHICH_LIST 1103

// Menu commands (and their accelerators).
#define IDM_OPEN_FIRMWARE 2001
#define IDM_UPDATE_FIRMWARE 2002
#define IDM_EXIT 2003
#define IDM_VERBOSE_LOG 2004
#define IDM_FIND_ALL_COMMS 2005
#define IDM_DONT_ERASE_DATA 2006
#define IDM_REPLACE_SERIAL 2007
#define IDM_HELP 2008
#define IDM_ABOUT 2009
#define IDM_SERIAL_LIST 2010

// Resources.
#define IDD_MAIN 100
#define IDR_MENU 101
#define IDR_ACCELERATORS 102
#define IDI_KELOBSL 103
#define IDI_PRODUCT 104
#define IDD_WHICH_INSTRUMENT 105
