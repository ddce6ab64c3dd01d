// Compiled with a GBK execution character set: every literal here is GBK.
#include "vessarine/store/texts.h"

const char kVersionBuiltin[] = "当前数据库版本为2011-7-1";
const char kVersionUnknown[] = "无法获取当前数据库版本";
const char kVersionRunning[] = "数据库更新--后台运行中......";
const char kVersionDateFormat[] = "当前数据库版本为%d-%d-%d";

const char kMsgEnterMac[] = "\r\n请输入MAC地址";
const char kMsgBadMac[] =
    "\r\n请输入正确的MAC地址：\r\n\r\n输入全部6个字节或者前3个字节\r\n"
    "字节与字节之间用':'或'-'隔开\r\n\r\n注意：每个字节都是按照%%02x的格式输入的";
const char kMsgMixedSeparators[] = "\r\n请输入正确的MAC地址：\r\n\r\n分隔符':'和'-'不得混合使用";
const char kMsgNoMatch[] = "没有找到匹配";
const char kMsgEnterCompany[] = "\r\n请输入公司英文名字的全部或部分信息";
const char kMsgMacCacheTooLarge[] = "\r\n缓存过大，影响其他操作性能\r\n清除缓存";
const char kEntryFormat[] =
    "%s匹配%d\r\n<Mac>\r\n%c%c:%c%c:%c%c:**:**:**\r\n<Company Info>\r\n%s\r\n\r\n";
const char kPageTrailer[] = "当前5个结果，点击继续键查询后面的结果";
