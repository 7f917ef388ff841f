#include "receiver/receiver_picture.h"

#include "media/picture_file.h"
#include "platform/ui/controls.h"

namespace receiver {

void PaintPicture(platform::PictureBox& box, int x_dest, int y_dest, int width, int height,
                  const BmpBuffer& BmpBuf) {
    // The description is rebuilt for every call: the snapshot's 40-byte header.
    platform::BitmapInfoHeader header;
    header.biWidth = kPictureWidth;
    header.biHeight = kPictureHeight;  // positive: rows bottom-up
    header.biSizeImage = static_cast<std::uint32_t>(kBmpBufBytes);
    box.StretchDIBits(x_dest, y_dest, width, height, 0, 0, kPictureWidth, kPictureHeight, BmpBuf.data(),
                      header);
}

bool WriteSnapshot(const std::string& path, const BmpBuffer& BmpBuf, std::string* error) {
    return picture_file::WriteFileBytes(path, picture_file::SnapshotBmp(BmpBuf), error);
}

std::string SnapshotFailedText(const std::string& path) {
    return "画像を保存できません: " + path;
}

std::string OldPictureText(std::time_t shown_at) {
    const std::tm* local = std::localtime(&shown_at);  // the window thread's alone
    char clock[16] = "--:--:--";
    if (local != nullptr) std::strftime(clock, sizeof clock, "%H:%M:%S", local);
    return std::string("最終画像 ") + clock;
}

}  // namespace receiver
