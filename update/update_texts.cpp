// The update's message texts. Kept UTF-8 here; compiled to GBK byte strings.
#include "vessarine/update/update_texts.h"

const char kCaptionUpdate[] = "更新";
const char kCaptionUpdateFailed[] = "更新失败";

const char kMsgConfirmUpdate[] =
    "点击\"取消\"键退出更新\t点击\"确认\"键开始更新\r\n\r\n更新过程将在后台运行，此过程将占用较长时间，请不要在更新完毕前关闭";
const char kMsgDownloadFailed[] =
    "更新MAC地址列表失败，请检查网络连接是否正常！";
const char kMsgListingUnreadable[] =
    "更新MAC地址列表失败，请稍候尝试";
const char kMsgDownloadDone[] =
    "下载完成，进行数据库更新";
const char kMsgUpdateFailed[] =
    "数据库更新失败";
const char kMsgUpdateDone[] =
    "完成更新";
