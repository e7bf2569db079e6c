// Any text read as a settings file must parse, and what it writes back must read back
// to the same text.
#include "Kiv_inifiles.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Kiv_inifiles::TMemIniFile first("/nonexistent/fuzz.ini");
    first.SetText(text);
    const std::string written = first.GetText();
    Kiv_inifiles::TMemIniFile second("/nonexistent/fuzz.ini");
    second.SetText(written);
    if (second.GetText() != written)
        std::abort();
    first.WriteString("Document", "RememberSettings", "1");
    (void)first.ReadInteger("Document", "RememberSettings", 0);
    (void)first.ReadBool("Section", "Key", true);
    return 0;
}
