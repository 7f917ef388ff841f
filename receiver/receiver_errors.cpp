#include "receiver/receiver_errors.h"

#include "platform/window/msgbox.h"

namespace receiver {

void ErrorBox::Report(const std::string& description) {
    if (open_) {
        ++suppressed_;
        return;
    }
    open_ = true;
    ++shown_;
    platform::MessageBox(description);
    open_ = false;
}

std::string CodecErrorText(int status) {
    switch (status) {
        case 6:
            return "実行時エラー '6': オーバーフローしました。";
        case 9:
            return "実行時エラー '9': インデックスが有効範囲にありません。";
        default:
            return "実行時エラー '" + std::to_string(status) + "'";
    }
}

}  // namespace receiver
