// Reading init.txt item by item, as the receivers' text-file input does: leading blanks skipped, a quoted
// item taken up to its closing quote, an unquoted one up to the next comma or line end with trailing blanks
// dropped.
#include "receiver/init_file.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace receiver {
namespace {

bool IsLineEnd(char c) {
    return c == '\n' || c == '\r';
}
bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

class ItemReader {
  public:
    explicit ItemReader(std::string text) : text_(std::move(text)) {}

    bool AtEnd() const { return pos_ >= text_.size(); }

    std::string Next() {
        while (!AtEnd() && IsBlank(text_[pos_])) ++pos_;
        std::string item;
        if (!AtEnd() && text_[pos_] == '"') {
            ++pos_;
            while (!AtEnd() && text_[pos_] != '"') item += text_[pos_++];
            if (!AtEnd()) ++pos_;  // the closing quote
            while (!AtEnd() && text_[pos_] != ',' && !IsLineEnd(text_[pos_])) ++pos_;
        } else {
            while (!AtEnd() && text_[pos_] != ',' && !IsLineEnd(text_[pos_])) item += text_[pos_++];
            while (!item.empty() && IsBlank(item.back())) item.pop_back();
        }
        SkipSeparator();
        return item;
    }

  private:
    // One comma, or one line end (CR LF, LF or CR); blank lines after a line end count as nothing.
    void SkipSeparator() {
        if (AtEnd()) return;
        if (text_[pos_] == ',') {
            ++pos_;
            return;
        }
        while (!AtEnd() && (IsLineEnd(text_[pos_]) || IsBlank(text_[pos_]))) ++pos_;
    }

    std::string text_;
    std::size_t pos_ = 0;
};

}  // namespace

int ReadInitItems(const std::string& path, InitItems& Items,
                  const std::function<void(int index)>& after_item) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return -1;
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) return -1;
    return ParseInitItems(std::move(text), Items, after_item);
}

int ParseInitItems(std::string text, InitItems& Items, const std::function<void(int index)>& after_item) {
    ItemReader reader(std::move(text));
    for (int index = 0;; ++index) {
        // Reading past the end, and a twelfth item, are the file's errors.
        if (reader.AtEnd() || index >= kInitItems) return -1;
        Items[index] = reader.Next();
        if (after_item) after_item(index);
        if (reader.AtEnd()) return index + 1;
    }
}

std::string InitFileErrorText(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec) && std::filesystem::file_size(path, ec) == 0 && !ec)
        return "INIT.TXT ファイルが空です。";
    return kInitFileError;
}

std::string NoInitFileText(const std::string& folder, const std::string& option) {
    return "no init.txt in " + folder + ": name the server with " + option +
           " HOST, or write its address into " + folder + "/init.txt";
}

bool IsInitAddress(const std::string& address) {
    return !address.empty() && address.find_first_of(" \t,\"") == std::string::npos;
}

std::string BadAddressText(const std::string& address) {
    return "アドレスに使えない文字があります: " + address;
}

bool WriteInitFile(const std::string& path, const std::string& line, std::string* error) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << line << "\r\n";
    file.close();
    if (file) return true;
    *error = "INIT.TXT を書き込めません: " + path;
    return false;
}

int SizeItemValue(const std::string& item) {
    if (item.empty()) return 0;
    const unsigned char last = static_cast<unsigned char>(item.back());
    return std::isdigit(last) ? last - '0' : 0;
}

int IntervalItemValue(const std::string& item) {
    std::size_t i = 0;
    while (i < item.size() && IsBlank(item[i])) ++i;
    long value = 0;
    for (; i < item.size() && std::isdigit(static_cast<unsigned char>(item[i])); ++i) {
        value = value * 10 + (item[i] - '0');
        if (value > 0x7FFFFFFF) return 0x7FFFFFFF;
    }
    return static_cast<int>(value);
}

}  // namespace receiver
