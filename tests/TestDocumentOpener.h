// The document opener of a test: records every document it is asked to open and answers
// as the test says. Nothing is launched.
#pragma once

#include "App_help.h"

#include <string>
#include <vector>

namespace TestDocumentOpener {

class TTestDocumentOpener : public App_help::TDocumentOpener {
public:
    bool OpenDocument(const std::string& path, std::string& why) override {
        Opened.push_back(path);
        if (!Succeeds)
            why = "the desktop has no program to open it";
        return Succeeds;
    }

    // What the desktop answers: false as when no program could be started.
    bool Succeeds = true;
    std::vector<std::string> Opened;
};

} // namespace TestDocumentOpener
