// The update's own texts, as GBK bytes (update_texts.cpp is compiled with a
// GBK execution character set). Message boxes show a caption and a text.
#pragma once

extern const char kCaptionUpdate[];        // 更新
extern const char kCaptionUpdateFailed[];  // 更新失败

extern const char kMsgConfirmUpdate[];     // M1: 点击"取消"键退出更新 ... (OK / Cancel)
extern const char kMsgDownloadFailed[];    // M2: 更新MAC地址列表失败，请检查网络连接是否正常！
extern const char kMsgListingUnreadable[]; // M3: 更新MAC地址列表失败，请稍候尝试
extern const char kMsgDownloadDone[];      // M4: 下载完成，进行数据库更新
extern const char kMsgUpdateFailed[];      // M5: 数据库更新失败
extern const char kMsgUpdateDone[];        // M6: 完成更新
