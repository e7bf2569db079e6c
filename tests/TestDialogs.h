// The standard dialogs of a test: each answers as the test queued, and every request is
// recorded with all it asked for. Nothing is shown.
#pragma once

#include "Kiv_dialogs.h"

#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace TestDialogs {

using Kiv_dialogs::TModalResult;

class TTestDialogs : public Kiv_dialogs::TDialogs {
public:
    // The next answers, in order. A box with one OK button needs no answer; any other
    // request without one fails the test and is answered as cancelled.
    void AnswerMessage(TModalResult result) { MessageAnswers.push_back(result); }
    void AnswerOpen(std::optional<std::vector<std::string>> paths, int filterIndex = 0) {
        OpenAnswers.push_back({std::move(paths), filterIndex});
    }
    void AnswerSave(std::optional<std::string> path, int filterIndex = 0) {
        SaveAnswers.push_back({std::move(path), filterIndex});
    }
    void AnswerFolder(std::optional<std::string> path) { FolderAnswers.push_back(std::move(path)); }

    // Called while a message box is "shown", before it answers.
    std::function<void(const Kiv_dialogs::TMessageRequest&)> OnMessage;

    // Every request, as it was made.
    std::vector<Kiv_dialogs::TMessageRequest> Messages;
    std::vector<Kiv_dialogs::TOpenFileRequest> OpenRequests;
    std::vector<Kiv_dialogs::TSaveFileRequest> SaveRequests;
    std::vector<Kiv_dialogs::TFolderRequest> FolderRequests;

    bool AllAnswered() const {
        return MessageAnswers.empty() && OpenAnswers.empty() && SaveAnswers.empty() &&
               FolderAnswers.empty();
    }

    TModalResult MessageBox(const Kiv_dialogs::TMessageRequest& request) override {
        Messages.push_back(request);
        if (OnMessage)
            OnMessage(request);
        if (!MessageAnswers.empty()) {
            const TModalResult result = MessageAnswers.front();
            MessageAnswers.pop_front();
            return result;
        }
        if (request.Buttons == Kiv_dialogs::mbOk)
            return Kiv_dialogs::mrOk;
        ADD_FAILURE() << "unexpected message box: " << request.Text;
        return Kiv_dialogs::mrCancel;
    }

    std::optional<std::vector<std::string>>
    OpenFiles(Kiv_dialogs::TOpenFileRequest& request) override {
        OpenRequests.push_back(request);
        if (OpenAnswers.empty()) {
            ADD_FAILURE() << "unexpected open dialog: " << request.Title;
            return std::nullopt;
        }
        auto answer = std::move(OpenAnswers.front());
        OpenAnswers.pop_front();
        if (answer.FilterIndex > 0)
            request.FilterIndex = answer.FilterIndex;
        return answer.Value;
    }

    std::optional<std::string> SaveFile(Kiv_dialogs::TSaveFileRequest& request) override {
        SaveRequests.push_back(request);
        if (SaveAnswers.empty()) {
            ADD_FAILURE() << "unexpected save dialog: " << request.Title;
            return std::nullopt;
        }
        auto answer = std::move(SaveAnswers.front());
        SaveAnswers.pop_front();
        if (answer.FilterIndex > 0)
            request.FilterIndex = answer.FilterIndex;
        return answer.Value;
    }

    std::optional<std::string> SelectFolder(const Kiv_dialogs::TFolderRequest& request) override {
        FolderRequests.push_back(request);
        if (FolderAnswers.empty()) {
            ADD_FAILURE() << "unexpected folder picker: " << request.Title;
            return std::nullopt;
        }
        auto answer = std::move(FolderAnswers.front());
        FolderAnswers.pop_front();
        return answer;
    }

private:
    // A file dialog's answer; a filter index above 0 is the one the "user" leaves.
    template <typename T>
    struct TAnswer {
        std::optional<T> Value;
        int FilterIndex = 0;
    };

    std::deque<TModalResult> MessageAnswers;
    std::deque<TAnswer<std::vector<std::string>>> OpenAnswers;
    std::deque<TAnswer<std::string>> SaveAnswers;
    std::deque<std::optional<std::string>> FolderAnswers;
};

} // namespace TestDialogs
