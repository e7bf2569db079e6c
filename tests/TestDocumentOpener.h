// The document opener of a test: records every document it is asked to open and answers
// as the test says. Nothing is launched.
#pragma once

#include "App_help.h"

#include <string>
#include <vector>

namespace TestDocumentOpener {

class TTestDocumentOpener : public App_help::TDocumentOpener {
public:
    bool OpenDocument(const std::string& path) override {
        Opened.push_back(path);
        return Succeeds;
    }

    // What the desktop answers: false as when no program could be started.
    bool Succeeds = true;
    std::vector<std::string> Opened;
};

} // namespace TestDocumentOpener
