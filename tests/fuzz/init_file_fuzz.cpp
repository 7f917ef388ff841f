// libFuzzer target for init.txt: any bytes as the file's text. The reader reports each item once, in
// order, and at most 11; an unquoted item holds no separator and no trailing blank; the item values the
// receivers take stay in their ranges.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "receiver/init_file.h"

namespace {

bool Unquoted(const std::string& text, const std::string& item) {
    return text.find('"' + item) == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    receiver::InitItems items;
    int reported = 0;
    const int count = receiver::ParseInitItems(text, items, [&](int index) {
        fuzz::Check(index == reported);
        ++reported;
    });
    fuzz::Check(count == -1 || (count >= 1 && count == reported));
    fuzz::Check(reported <= receiver::kInitItems);
    for (int i = 0; i < reported; ++i) {
        const std::string& item = items[i];
        if (Unquoted(text, item)) {
            fuzz::Check(item.find_first_of(",\r\n") == std::string::npos);
            fuzz::Check(item.empty() || (item.back() != ' ' && item.back() != '\t'));
        }
        const int size_value = receiver::SizeItemValue(item);
        fuzz::Check(size_value >= 0 && size_value <= 9);
        fuzz::Check(receiver::IntervalItemValue(item) >= 0);
    }
    return 0;
}
