#include "ui/start_texts.h"

ByteString DataFolderRefusedMessage(const DataFolderChoice& refused) {
    const char8_t* reason = u8"使えない";
    switch (refused.fault) {
    case DataFolderFault::None: break;
    case DataFolderFault::NotAFolder: reason = u8"フォルダではない"; break;
    case DataFolderFault::Link: reason = u8"リンクである"; break;
    case DataFolderFault::OtherOwner: reason = u8"ほかのユーザーのものである"; break;
    case DataFolderFault::OthersMayWrite: reason = u8"ほかのユーザーも書き込める"; break;
    }
    return Cp932(u8"設定とログを置くフォルダ「") + WithoutTrailingSeparator(refused.folder) + Cp932(u8"」は、") +
           Cp932(reason) + Cp932(u8"ため使えません。起動を中止します。");
}
