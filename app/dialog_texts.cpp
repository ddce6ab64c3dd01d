// Compiled with -fexec-charset=GBK: every literal here becomes GBK bytes.
#include "vessarine/app/dialog_texts.h"

const char kDlgCaption[] = "Vessarine";
const char kDlgExit[] = "退出";
const char kDlgUpdateDb[] = "数据库升级";
const char kDlgMatch[] = "匹配";
const char kDlgContact[] =
    "在使用过程中发现问题可提交至help@vessarine.example以获取更新";
const char kDlgMacFormat[] = "格式：xx:yy:zz:aa:bb:cc/xx-yy-zz-aa-bb-cc";
const char kDlgBuild[] = "Build版本 5";
const char kDlgMacCaption[] = "根据MAC地址查询公司信息";
const char kDlgCompanyCaption[] = "根据公司英文名字查询MAC地址";
const char kDlgCompanyExample[] = "例子: Microsoft Corp.或者Microsoft ";
const char kDlgContinue[] = "继续";
const char kDlgProgress[] = "Progress1";
const char kDlgMacShort[] = "      或前3个字节xx:yy:zz/xx-yy-zz";
const char kDlgAll[] = "全部";
const char kDlgListAll[] = "穷举所有MAC匹配";
const char kDlgTitle[] = "MAC地址和生产厂商/公司信息互查工具\r\nVessarine V1.3";
const char kDlgSeparator[] =
    "-----------------------------------------------------------------------------"
    "------------------------------------";


const char kDlgButtonOk[] = "确定";
const char kDlgButtonCancel[] = "取消";

const char kDlgFontFace[] = "宋体";
