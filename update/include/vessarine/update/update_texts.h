// The update's own texts, as GBK bytes (update_texts.cpp is compiled with a
// GBK execution character set). Message boxes show a caption and a text.
#pragma once

extern const char kCaptionUpdate[];        // 更新
extern const char kCaptionUpdateFailed[];  // 更新失败

extern const char kMsgConfirmUpdate[];     // 点击"取消"键退出更新 ... (OK / Cancel)
extern const char kMsgDownloadFailed[];    // 更新MAC地址列表失败，请检查网络连接是否正常！
extern const char kMsgListingUnreadable[]; // 更新MAC地址列表失败，请稍候尝试
extern const char kMsgDownloadDone[];      // 下载完成，进行数据库更新
extern const char kMsgUpdateFailed[];      // 数据库更新失败
extern const char kMsgUpdateDone[];        // 完成更新
