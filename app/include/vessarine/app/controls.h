// Control ids of the main dialog: its controls' object names, and how the
// tests and benchmarks find them.
#pragma once

enum ControlId : int {
  IDC_UPDATE_DB = 1000,        // 数据库升级
  IDC_PROGRESS = 1002,
  IDC_MAC_MATCH = 1001,        // 匹配 (MAC)
  IDC_MAC_INPUT = 1004,
  IDC_COMPANY_MATCH = 1005,    // 匹配 (company)
  IDC_COMPANY_INPUT = 1006,
  IDC_MAC_RESULT = 1007,
  IDC_COMPANY_RESULT = 1008,
  IDC_DB_VERSION = 1009,
  IDC_COMPANY_CONTINUE = 1011, // 继续
  IDC_EXIT = 1012,             // 退出
  IDC_COMPANY_ALL = 1018,      // 全部
  IDC_LIST_ALL_MACS = 1019,    // 穷举所有MAC匹配
  IDC_TITLE = 1020,
  IDC_CONTACT = 1022,
  IDC_BUILD = 1023,
  IDC_SEPARATOR = 1025,
};
