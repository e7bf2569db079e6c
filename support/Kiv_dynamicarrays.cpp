#include "Kiv_dynamicarrays.h"

#include <vector>

namespace Kiv_dynamicarrays {

void DynArrayOutOfRange(int index, int length) {
    throw Kiv_framework::ERangeError("Dynamic array index out of range (index " +
                                     std::to_string(index) + ", length " + std::to_string(length) +
                                     ")");
}

TStringDynArray StringsToArray(const Kiv_framework::TStringList& strings) {
    TStringDynArray result(strings.Count());
    for (int i = 0; i < strings.Count(); ++i)
        result[i] = strings[i];
    return result;
}

void ArrayToStrings(const TStringDynArray& array, Kiv_framework::TStringList& strings) {
    // Built aside and assigned in one step, so a failure leaves the target as it was.
    Kiv_framework::TStringList fresh;
    fresh.SetCapacity(array.Length());
    for (const auto& line : array)
        fresh.Add(line);
    strings = std::move(fresh);
}

TStringDynArray TextToLines(const std::string& text) {
    const std::size_t end = std::min(text.find('\0'), text.size());
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < end) {
        std::size_t stop = start;
        while (stop < end && text[stop] != '\r' && text[stop] != '\n')
            ++stop;
        lines.emplace_back(text, start, stop - start);
        if (stop < end && text[stop] == '\r')
            ++stop;
        else if (stop < end)
            ++stop; // a lone LF
        else
            break;
        if (stop < end && text[stop] == '\n' && text[stop - 1] == '\r')
            ++stop;
        start = stop;
    }
    return VectorToArray(std::move(lines));
}

TStringDynArray DropEmptyLines(const TStringDynArray& lines) {
    std::vector<std::string> kept;
    kept.reserve(static_cast<std::size_t>(lines.Length()));
    for (const auto& line : lines)
        if (!line.empty())
            kept.push_back(line);
    return VectorToArray(std::move(kept));
}

} // namespace Kiv_dynamicarrays
