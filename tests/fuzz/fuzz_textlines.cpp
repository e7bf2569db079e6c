// Splitting any text into lines keeps every byte before the first NUL that is not part
// of a line break.
#include "Kiv_dynamicarrays.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto lines = Kiv_dynamicarrays::TextToLines(text);
    std::string expected = text.substr(0, text.find('\0'));
    std::string joined;
    for (const auto& line : lines) {
        if (line.find_first_of("\r\n") != std::string::npos)
            std::abort();
        joined += line;
    }
    std::string kept;
    for (const char c : expected)
        if (c != '\r' && c != '\n')
            kept += c;
    if (joined != kept)
        std::abort();
    (void)Kiv_dynamicarrays::DropEmptyLines(lines);
    return 0;
}
