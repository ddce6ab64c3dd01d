// The main dialog's own texts, as GBK bytes (dialog_texts.cpp is compiled
// with a GBK execution character set).
#pragma once

extern const char kDlgCaption[];          // Vessarine
extern const char kDlgExit[];             // 退出
extern const char kDlgUpdateDb[];         // 数据库升级
extern const char kDlgMatch[];            // 匹配
extern const char kDlgContact[];          // 在使用过程中发现问题可提交至...以获取更新
extern const char kDlgMacFormat[];        // 格式：xx:yy:zz:aa:bb:cc/xx-yy-zz-aa-bb-cc
extern const char kDlgBuild[];            // Build版本 5
extern const char kDlgMacCaption[];       // 根据MAC地址查询公司信息
extern const char kDlgCompanyCaption[];   // 根据公司英文名字查询MAC地址
extern const char kDlgCompanyExample[];   // 例子: Microsoft Corp.或者Microsoft
extern const char kDlgContinue[];         // 继续
extern const char kDlgProgress[];         // Progress1
extern const char kDlgMacShort[];         //       或前3个字节xx:yy:zz/xx-yy-zz
extern const char kDlgAll[];              // 全部
extern const char kDlgListAll[];          // 穷举所有MAC匹配
extern const char kDlgTitle[];            // two lines: tool name, product and version
extern const char kDlgSeparator[];        // 113 hyphens

// Initial texts of the two input boxes.

// Labels of message-box buttons, as a Chinese desktop shows them.
extern const char kDlgButtonOk[];         // 确定
extern const char kDlgButtonCancel[];     // 取消

// Preferred dialog font face (SimSun), by its Chinese name.
extern const char kDlgFontFace[];         // 宋体
