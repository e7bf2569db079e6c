// Quoting, digit grouping and adding a text to a list only once.
#pragma once

#include "Kiv_framework.h"

#include <cstdint>
#include <string>

namespace Kiv_strings {

class EStringError : public Kiv_framework::Exception {
public:
    using Exception::Exception;
};

std::string QuoteString(const std::string& text, char quote);
// The quoted part of a text that begins with the quote character; pairs stand for one.
std::string DequoteString(const std::string& text, char quote);

std::string IntToGroupedStr(std::int32_t value, int groupSize, const std::string& separator);
std::string Int64ToGroupedStr(std::int64_t value, int groupSize, const std::string& separator);
std::string UInt64ToGroupedStr(std::uint64_t value, int groupSize, const std::string& separator);

// The text with every control character (below 0x20, and 0x7F) written as an escape:
// \n, \r, \t or \xHH, and a backslash doubled, so that a name shown on a terminal can
// neither move the cursor nor be mistaken for another.
std::string EscapeControlCharacters(const std::string& text);

// Adds through the list's own Add and tells whether its count grew: with a sorted list
// that ignores duplicates, whether the text was new.
template <typename List, typename Object = void*>
bool AddIfAbsent(List& list, const std::string& text, Object object = nullptr) {
    const auto count = list.Count();
    list.Add(text, object);
    return list.Count() > count;
}

} // namespace Kiv_strings
