// Reading any drop data gives only absolute paths without NUL bytes, and a path written as
// a file: URI with every byte escaped reads back as itself.
#include "Kiv_shelllibrary.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (const std::string& path : Kiv_shelllibrary::FilePathsOfUriList(text))
        if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos)
            std::abort();

    const std::string path = "/" + text;
    if (path.find('\0') != std::string::npos)
        return 0;
    std::string uri = "file://";
    for (const char c : path) {
        char escape[4];
        std::snprintf(escape, sizeof escape, "%%%02X", static_cast<unsigned char>(c));
        uri += c == '/' ? std::string("/") : std::string(escape);
    }
    const auto paths = Kiv_shelllibrary::FilePathsOfUriList(uri + "\r\n");
    if (paths.size() != 1 || paths[0] != path)
        std::abort();
    return 0;
}
