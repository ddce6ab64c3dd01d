// The program's own texts, as GBK bytes (texts.cpp is compiled with a GBK
// execution character set).
#pragma once

extern const char kVersionBuiltin[];       // 当前数据库版本为2011-7-1
extern const char kVersionUnknown[];       // 无法获取当前数据库版本
extern const char kVersionRunning[];       // 数据库更新--后台运行中......
extern const char kVersionDateFormat[];    // 当前数据库版本为%d-%d-%d

// Query messages (format texts: "%%" shows as "%").
extern const char kMsgEnterMac[];
extern const char kMsgBadMac[];
extern const char kMsgMixedSeparators[];
extern const char kMsgNoMatch[];
extern const char kMsgEnterCompany[];
extern const char kMsgMacCacheTooLarge[];
extern const char kEntryFormat[];          // %s匹配%d\r\n<Mac>\r\n...
extern const char kPageTrailer[];          // 当前5个结果，点击继续键查询后面的结果
