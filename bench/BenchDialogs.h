// The dialogs of a benchmark: every question is answered Yes and every box OK at once, the
// save dialog with SaveAs and the folder picker with Folder (each cancelled while empty);
// the last box's text, and when it came, are kept.
#pragma once

#include "Kiv_dialogs.h"

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace bench {

class TAnsweringDialogs : public Kiv_dialogs::TDialogs {
public:
    explicit TAnsweringDialogs(std::string saveAs = {}) : SaveAs(std::move(saveAs)) {}

    Kiv_dialogs::TModalResult MessageBox(const Kiv_dialogs::TMessageRequest& request) override {
        LastMessageAt = std::chrono::steady_clock::now();
        LastMessage = request.Text;
        return request.Buttons == Kiv_dialogs::mbYesNo ? Kiv_dialogs::mrYes : Kiv_dialogs::mrOk;
    }
    std::optional<std::vector<std::string>> OpenFiles(Kiv_dialogs::TOpenFileRequest&) override {
        return std::nullopt;
    }
    std::optional<std::string> SaveFile(Kiv_dialogs::TSaveFileRequest&) override {
        return Answer(SaveAs);
    }
    std::optional<std::string> SelectFolder(const Kiv_dialogs::TFolderRequest&) override {
        return Answer(Folder);
    }

    std::string SaveAs;
    std::string Folder;
    std::string LastMessage;
    std::chrono::steady_clock::time_point LastMessageAt;

private:
    static std::optional<std::string> Answer(const std::string& path) {
        if (path.empty())
            return std::nullopt;
        return path;
    }
};

} // namespace bench
