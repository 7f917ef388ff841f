// init.txt, the receivers' configuration file in the program's folder: up to 11 items separated by commas
// or line ends; an item in double quotes is taken without its quotes and may hold commas. The first item is
// the server address; Quillon also looks for an item containing "SIZE", Brondel takes its second address
// and its timer interval from items 1 and 2.
#pragma once

#include <array>
#include <functional>
#include <string>

namespace receiver {

inline constexpr int kInitItems = 11;
using InitItems = std::array<std::string, kInitItems>;

// The message shown when the file is unreadable or holds more than 11 items.
inline constexpr const char* kInitFileError = "INIT.TXT ファイルが見つかりません。";

// Why the file at path, which ReadInitItems could not read, is of no use: empty, or kInitFileError.
std::string InitFileErrorText(const std::string& path);
// The one line for a start without init.txt where no dialog can ask (no window): where the file belongs
// and the option that names a server instead.
std::string NoInitFileText(const std::string& folder, const std::string& option);
// Whether an answer can be an address item: not empty, no blanks, commas or quotes.
bool IsInitAddress(const std::string& address);
std::string BadAddressText(const std::string& address);
// Writes a new init.txt holding line (and a line end); false with a one-line error.
bool WriteInitFile(const std::string& path, const std::string& line, std::string* error);

// Reads the items of the file at path into Items, calling after_item(index) after each one (the callers
// act on an item at once, as it is read). Returns the number of items read, or -1 on an error: the file
// is missing or empty, or a twelfth item follows; the items read before the error stay in Items.
int ReadInitItems(const std::string& path, InitItems& Items,
                  const std::function<void(int index)>& after_item);

// The same for the file's text.
int ParseInitItems(std::string text, InitItems& Items, const std::function<void(int index)>& after_item);

// The value of an item containing "SIZE": its last character as a digit, 0 when it is no digit.
int SizeItemValue(const std::string& item);

// The integer value of an item as an interval in milliseconds: leading digits, 0 when there are none.
int IntervalItemValue(const std::string& item);

}  // namespace receiver
