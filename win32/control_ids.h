#pragma once
// The control identifiers of the Win32 window, by the controls' names. The
// window's test driver finds the controls by them too, so they are fixed.

// Main window
#define IDC_PageControl 100
#define IDC_Firmware_View 101
#define IDC_Java_View 102
#define IDC_Config_View 103
#define IDC_LogSendCheckBox 104
#define IDC_RepeatCheckBox 105
#define IDC_saveLogCheckBox 106
#define IDC_btnDumpEEProm 107
#define IDC_btnCoreDump 108
#define IDC_btnBootCrash 109
#define IDC_disconnectComCheckBox 110
#define IDC_ProgressBar 111
#define IDC_Message 112
#define IDC_cmbCommand 113
#define IDC_BtnCmd 114
#define IDC_chkClearOnSend 115
#define IDC_Label1 116
#define IDC_MotorID 117
#define IDC_test_con_Btn 118
#define IDC_poll 119
#define IDC_DebugLogCheckBox 120
#define IDC_chkUSBCompatibility 121
#define IDC_ActionBtn 122
#define IDC_ClearEepromButton 123
#define IDC_AutoFlashButton 124

// Menu items
#define IDM_Open1 200
#define IDM_Save 201
#define IDM_Exit1 202
#define IDM_SelectComPort1 203
#define IDM_TraceSerialLine1 204
#define IDM_clearCommandWindow 205
#define IDM_clearLogwindow 206
#define IDM_About1 207
#define IDM_howto1 208

// The port dialog (OK and Cancel are IDOK and IDCANCEL)
#define IDD_CommDialog 300
#define IDC_ComPortComboBox 301
#define IDC_BaudrateComboBox 302
#define IDC_TimeoutComboBox 303
#define IDC_BootloaderBaudCheckBox 304
#define IDC_CommLabel1 305
#define IDC_CommLabel2 306
#define IDC_CommLabel3 307

// About ("software") and How-to
#define IDD_software 310
#define IDD_frmHowTo 311
#define IDC_Memo1 312

#define IDI_APP 1
