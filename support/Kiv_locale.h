// Locale services for file names: the case-insensitive file-name equality of the scan's
// name criteria, and the user locale's collation for sorting.
//
// Texts are std::string holding the file system's bytes (UTF-8 on Linux). A name that is
// not valid UTF-8 is still a name: the bytes of its invalid sequences are kept as they
// are, never replaced.
#pragma once

#include <QCollatorSortKey>
#include <string>
#include <string_view>

namespace Kiv_locale {

// The lower-case copy of a file name (CharLowerBuffA on Windows). Every well-formed
// UTF-8 sequence is decoded and lowered by Qt's Unicode case mapping (Ä becomes ä); every
// byte that does not belong to one is copied unchanged.
std::string LowerFileName(std::string_view text);
// Appends LowerFileName(text) to out, so that a caller building many keys reuses one buffer.
void AppendLowerFileName(std::string_view text, std::string& out);
// The upper-case copy of a file name by the same rules (extensions and type-cache keys).
std::string UpperFileName(std::string_view text);

// File-name equality: the two lowered texts are equal byte for byte. It is an equivalence
// (LowerFileName is a key of it), so equal names can be grouped by that key.
bool SameFileName(std::string_view a, std::string_view b);

// Case-sensitive collation under the user's locale (CompareStringA on Windows), for
// orderings only. Invalid UTF-8 is shown, and so ordered, with replacement characters.
// Returns < 0, 0 or > 0.
int CompareText(std::string_view a, std::string_view b);

// A text's collation key, computed once per item so that a sort compares keys instead of
// converting and collating both texts inside every comparison. Compare gives the same
// order as CompareText of the texts.
class TCollationKey {
public:
    explicit TCollationKey(std::string_view text);

    int Compare(const TCollationKey& other) const { return Key.compare(other.Key); }
    friend bool operator<(const TCollationKey& a, const TCollationKey& b) {
        return a.Compare(b) < 0;
    }

private:
    QCollatorSortKey Key;
};

} // namespace Kiv_locale
