#pragma once

// Resource ids of Lumidor: dialog templates (dialogs.txt), strings (stringtable.txt), icon.
constexpr int IDD_ABOUTBOX = 100;
constexpr int IDS_ABOUTBOX = 101;
constexpr int IDD_LUMIDOR_DIALOG = 102;
constexpr int IDD_START_TEST = 324;
constexpr int IDR_MAINFRAME = 325;
constexpr int IDD_TOKEN_INFO = 1006;
constexpr int IDD_CERTIFICATES = 1030;

// Main window.
constexpr int IDC_READER_COMBO = 1000;
constexpr int IDC_REFRESH = 1001;
constexpr int IDC_ATR = 1003;
constexpr int IDC_DRIVER_PATH = 1004;
constexpr int IDC_TOKEN_INFO = 1005;
constexpr int IDC_CARD_DRIVERS = 1021;
constexpr int IDC_DRIVER_VERSION = 1022;
constexpr int IDC_MESSAGE_LIST = 1023;
constexpr int IDC_TEST = 1024;
constexpr int IDC_DRIVER_COMBO = 1026;
constexpr int IDC_CERTIFICATES = 1028;

// PIN dialog.
constexpr int IDC_PIN = 1025;
constexpr int IDC_PIN_WARNING = 1027;

// Token information dialog.
constexpr int IDC_TOKEN_LABEL = 1007;
constexpr int IDC_TOKEN_MANUFACTURER = 1008;
constexpr int IDC_TOKEN_MODEL = 1009;
constexpr int IDC_TOKEN_SERIAL = 1010;
constexpr int IDC_TOKEN_PIN_LENGTH = 1011;
constexpr int IDC_TOKEN_MAX_SESSIONS = 1012;
constexpr int IDC_TOKEN_MAX_RW_SESSIONS = 1016;
constexpr int IDC_TOKEN_TOTAL_PUBLIC = 1017;
constexpr int IDC_TOKEN_FREE_PUBLIC = 1018;
constexpr int IDC_TOKEN_TOTAL_PRIVATE = 1019;
constexpr int IDC_TOKEN_FREE_PRIVATE = 1020;

// Certificates dialog.
constexpr int IDC_CERTIFICATE_LIST = 1031;
constexpr int IDC_CERTIFICATE_DETAILS = 1032;

// The about entry of the window's menu.
constexpr unsigned IDM_ABOUTBOX = 0x0010;
