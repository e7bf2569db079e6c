#include "Kiv_framework.h"

#include <algorithm>
#include <cctype>

namespace Kiv_framework {

void Abort() {
    throw EAbort();
}

char CharAt(const std::string& text, std::size_t position) {
    if (position < 1 || position > text.size())
        throw ERangeError();
    return text[position - 1];
}

TStringList::TStringList(std::initializer_list<std::string> lines) {
    for (const auto& line : lines)
        Add(line);
}

void TStringList::CheckIndex(int index) const {
    if (index < 0 || index >= Count())
        throw ERangeError("List index out of bounds (" + std::to_string(index) + ")");
}

const std::string& TStringList::operator[](int index) const {
    CheckIndex(index);
    return Items[static_cast<std::size_t>(index)].Text;
}

void* TStringList::Objects(int index) const {
    CheckIndex(index);
    return Items[static_cast<std::size_t>(index)].Object;
}

int TStringList::CompareStrings(const std::string& a, const std::string& b) const {
    if (CaseSensitive)
        return a.compare(b);
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const int ca = std::tolower(static_cast<unsigned char>(a[i]));
        const int cb = std::tolower(static_cast<unsigned char>(b[i]));
        if (ca != cb)
            return ca - cb;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

bool TStringList::Find(const std::string& text, int& index) const {
    int lo = 0;
    int hi = Count() - 1;
    while (lo <= hi) {
        const int mid = lo + (hi - lo) / 2;
        const int c = CompareStrings(Items[static_cast<std::size_t>(mid)].Text, text);
        if (c < 0) {
            lo = mid + 1;
        } else if (c > 0) {
            hi = mid - 1;
        } else {
            index = mid;
            return true;
        }
    }
    index = lo;
    return false;
}

int TStringList::IndexOf(const std::string& text) const {
    if (Sorted) {
        int index = 0;
        return Find(text, index) ? index : -1;
    }
    for (int i = 0; i < Count(); ++i)
        if (CompareStrings(Items[static_cast<std::size_t>(i)].Text, text) == 0)
            return i;
    return -1;
}

int TStringList::Add(const std::string& text, void* object) {
    if (!Sorted) {
        Items.push_back({text, object});
        return Count() - 1;
    }
    int index = 0;
    if (Find(text, index) && Duplicates == TDuplicates::dupIgnore)
        return index;
    Items.insert(Items.begin() + index, TItem{text, object});
    return index;
}

void TStringList::Delete(int index) {
    CheckIndex(index);
    Items.erase(Items.begin() + index);
}

std::vector<std::string> TStringList::Lines() const {
    std::vector<std::string> lines;
    lines.reserve(Items.size());
    for (const auto& item : Items)
        lines.push_back(item.Text);
    return lines;
}

} // namespace Kiv_framework
