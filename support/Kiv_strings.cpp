#include "Kiv_strings.h"

namespace Kiv_strings {

namespace {

// In UTF-8 no byte of a multibyte sequence is an ASCII byte, so an ASCII quote character
// is never part of another character; a byte of a multibyte sequence cannot serve as one.
bool IsValidQuote(char quote) {
    return quote != '\0' && static_cast<unsigned char>(quote) < 0x80;
}

std::string GroupDigits(std::string digits, int groupSize, const std::string& separator) {
    const std::size_t start = (!digits.empty() && digits[0] == '-') ? 1 : 0;
    long long p = static_cast<long long>(digits.size() - start) + 1;
    for (;;) {
        p -= groupSize;
        if (p <= 1)
            break;
        digits.insert(start + static_cast<std::size_t>(p) - 1, separator);
    }
    return digits;
}

} // namespace

std::string QuoteString(const std::string& text, char quote) {
    if (!IsValidQuote(quote))
        throw EStringError("The program cannot quote the string.");
    std::string result;
    result.reserve(text.size() + 2);
    result += quote;
    for (const char c : text) {
        result += c;
        if (c == quote)
            result += quote;
    }
    result += quote;
    return result;
}

std::string DequoteString(const std::string& text, char quote) {
    if (!IsValidQuote(quote) || text.empty() || text[0] != quote)
        throw EStringError("The program cannot dequote the string.");
    const std::size_t end = std::min(text.find('\0'), text.size());
    std::string result;
    for (std::size_t i = 1; i < end; ++i) {
        if (text[i] != quote) {
            result += text[i];
        } else if (i + 1 < end && text[i + 1] == quote) {
            result += quote;
            ++i;
        } else {
            break;
        }
    }
    return result;
}

std::string Int64ToGroupedStr(std::int64_t value, int groupSize, const std::string& separator) {
    // A negative value keeps its sign in front of the grouped digits.
    return GroupDigits(std::to_string(value), groupSize, separator);
}

std::string IntToGroupedStr(std::int32_t value, int groupSize, const std::string& separator) {
    return Int64ToGroupedStr(value, groupSize, separator);
}

std::string UInt64ToGroupedStr(std::uint64_t value, int groupSize, const std::string& separator) {
    return GroupDigits(std::to_string(value), groupSize, separator);
}

std::string EscapeControlCharacters(const std::string& text) {
    static const char digits[] = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '\n')
            escaped += "\\n";
        else if (c == '\r')
            escaped += "\\r";
        else if (c == '\t')
            escaped += "\\t";
        else if (byte < 0x20 || byte == 0x7F)
            escaped.append("\\x").append(1, digits[byte >> 4]).append(1, digits[byte & 15]);
        else
            escaped += c;
    }
    return escaped;
}

} // namespace Kiv_strings
