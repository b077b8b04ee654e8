// Control and command ids of the manager's dialogs. They keep the numbers of
// the dialog templates the layouts come from, so that tests and the command
// handlers find controls by the same ids.
#pragma once

enum ManagerIds {
  IDD_ABOUTBOX = 100,
  IDD_TARNWELLUSB_DIALOG = 102,
  IDD_USER_DIALOG = 129,
  IDD_BACK_DIALOG = 130,

  IDM_ABOUTBOX = 0x0010,  // the About command (its low four bits are free)
  IDC_ABOUT_OK = 1,       // the About box's OK button

  IDC_INSTALL = 1000,
  IDC_UNINSTALL = 1001,
  IDC_BLACKLIST = 1002,
  IDC_QUARANTINE = 1003,
  IDC_EXIT = 1004,  // also the blacklist editor's "退出编辑"
  IDC_USER_LIST = 1005,
  IDC_ADD_SAMPLE = 1006,
  IDC_DELETE_SAMPLE = 1007,
  IDC_CLEAR_SAMPLES = 1008,
  IDC_SAVE_SAMPLES = 1009,
  IDC_RESTORE_ONE = 1012,
  IDC_DELETE_ONE = 1013,
  IDC_DELETE_ALL = 1014,
  IDC_RESTORE_ALL = 1015,
  IDC_BACK_EXIT = 1016,
  IDC_BACK_LIST = 1017,
  IDC_HELP_TEXT = 1018,
  IDC_LINK = 1019,
};
