// Dequoting any text fails cleanly or succeeds, and quoting then dequoting gives the
// text back.
#include "Kiv_strings.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        (void)Kiv_strings::DequoteString(text, '"');
    } catch (const Kiv_strings::EStringError&) {
    }
    if (text.find('\0') == std::string::npos &&
        Kiv_strings::DequoteString(Kiv_strings::QuoteString(text, '"'), '"') != text)
        std::abort();
    return 0;
}
