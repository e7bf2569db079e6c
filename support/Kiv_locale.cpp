#include "Kiv_locale.h"

#include <QChar>
#include <QCollator>
#include <QLocale>
#include <QString>
#include <cstddef>

namespace Kiv_locale {

namespace {

// Length of the well-formed UTF-8 sequence that starts text[at] (Unicode's table of
// well-formed byte sequences: no overlong forms, no surrogates, nothing past U+10FFFF),
// with its code point; 0 when the byte there starts none.
std::size_t DecodeUtf8(std::string_view text, std::size_t at, char32_t& codePoint) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[at + k]); };
    const auto inRange = [&](std::size_t k, unsigned char low, unsigned char high) {
        return at + k < text.size() && byte(k) >= low && byte(k) <= high;
    };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    std::size_t length = 0;
    unsigned char secondLow = 0x80;
    unsigned char secondHigh = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            secondLow = 0xA0;
        else if (lead == 0xED)
            secondHigh = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            secondLow = 0x90;
        else if (lead == 0xF4)
            secondHigh = 0x8F;
    } else {
        return 0;
    }
    if (!inRange(1, secondLow, secondHigh))
        return 0;
    for (std::size_t k = 2; k < length; ++k)
        if (!inRange(k, 0x80, 0xBF))
            return 0;
    codePoint = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k)
        codePoint = (codePoint << 6) | (byte(k) & 0x3F);
    return length;
}

void AppendUtf8(char32_t codePoint, std::string& out) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

bool IsAscii(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// One collator per thread: a QCollator may be used by one thread at a time. The user
// locale's default collation is case-sensitive.
QCollator& UserCollator() {
    thread_local QCollator collator{QLocale()};
    return collator;
}

QString ToDisplayText(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

char UpperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Maps every well-formed UTF-8 sequence through the case mapping; bytes of no such
// sequence are copied unchanged.
template <typename AsciiMap, typename UnicodeMap>
void AppendMapped(std::string_view text, std::string& out, AsciiMap ascii, UnicodeMap unicode) {
    out.reserve(out.size() + text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        char32_t codePoint = 0;
        const std::size_t length = DecodeUtf8(text, at, codePoint);
        if (length == 0) {
            out += text[at];
            ++at;
        } else if (length == 1) {
            out += ascii(text[at]);
            ++at;
        } else {
            AppendUtf8(unicode(codePoint), out);
            at += length;
        }
    }
}

} // namespace

void AppendLowerFileName(std::string_view text, std::string& out) {
    AppendMapped(text, out, LowerAscii, [](char32_t c) { return QChar::toLower(c); });
}

std::string UpperFileName(std::string_view text) {
    std::string upper;
    AppendMapped(text, upper, UpperAscii, [](char32_t c) { return QChar::toUpper(c); });
    return upper;
}

std::string LowerFileName(std::string_view text) {
    std::string lowered;
    AppendLowerFileName(text, lowered);
    return lowered;
}

bool SameFileName(std::string_view a, std::string_view b) {
    if (a == b)
        return true;
    // Two ASCII names lower byte by byte: compare them without building lowered copies.
    if (IsAscii(a) && IsAscii(b)) {
        if (a.size() != b.size())
            return false;
        for (std::size_t k = 0; k < a.size(); ++k)
            if (LowerAscii(a[k]) != LowerAscii(b[k]))
                return false;
        return true;
    }
    return LowerFileName(a) == LowerFileName(b);
}

int CompareText(std::string_view a, std::string_view b) {
    return UserCollator().compare(ToDisplayText(a), ToDisplayText(b));
}

TCollationKey::TCollationKey(std::string_view text)
    : Key(UserCollator().sortKey(ToDisplayText(text))) {}

} // namespace Kiv_locale
