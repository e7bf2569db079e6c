// The desktop of a test: a clipboard in memory, a trash monitor that answers as the test
// queued, and a shell that records what it was asked to open, explore or show and moves
// files for real into a trash folder the test gives (never the user's).
#pragma once

#include "Kiv_clipboard.h"
#include "Kiv_shellfiles.h"

#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace TestShell {

class TTestClipboard : public Kiv_clipboard::TClipboard {
public:
    bool HasText() const override { return Holds; }
    std::string GetText() const override { return Text; }
    // Another program put text there: the watchers hear of it.
    void SetText(const std::string& text) override {
        Text = text;
        Holds = true;
        for (const auto& viewer : Viewers)
            (*viewer)();
    }
    void Empty() {
        Text.clear();
        Holds = false;
        for (const auto& viewer : Viewers)
            (*viewer)();
    }
    std::unique_ptr<Kiv_clipboard::TClipboardSubscription>
    Subscribe(std::function<void()> changed) override {
        return std::make_unique<TSubscription>(*this, std::move(changed));
    }

    std::string Text;
    bool Holds = false;
    std::vector<std::shared_ptr<std::function<void()>>> Viewers;

private:
    class TSubscription : public Kiv_clipboard::TClipboardSubscription {
    public:
        TSubscription(TTestClipboard& owner, std::function<void()> changed)
            : Owner(owner), Viewer(std::make_shared<std::function<void()>>(std::move(changed))) {
            Owner.Viewers.push_back(Viewer);
        }
        ~TSubscription() override { std::erase(Owner.Viewers, Viewer); }

    private:
        TTestClipboard& Owner;
        std::shared_ptr<std::function<void()>> Viewer;
    };
};

// The user in front of the move: cancels before the file at CancelAt, and answers the
// errors with the queued choices (true skip, false stop).
class TTestMonitor : public Kiv_shellfiles::TFileOperationMonitor {
public:
    void Start(int count) override {
        Started = count;
        Finished = false;
    }
    bool Next(int index, const std::string& path) override {
        EXPECT_EQ(index, static_cast<int>(Visited.size()));
        if (index == CancelAt)
            return false;
        Visited.push_back(path);
        if (OnNext)
            OnNext(index); // what else happens while the files move
        return true;
    }
    bool SkipAfterError(const std::string& path, const std::string& message) override {
        Errors.push_back(message);
        ErrorPaths.push_back(path);
        if (SkipAnswers.empty()) {
            ADD_FAILURE() << "unexpected error: " << message;
            return false;
        }
        const bool skip = SkipAnswers.front();
        SkipAnswers.pop_front();
        return skip;
    }
    void Finish() override { Finished = true; }

    int CancelAt = -1;
    std::deque<bool> SkipAnswers;
    std::function<void(int index)> OnNext;

    int Started = -1;
    bool Finished = false;
    std::vector<std::string> Visited;
    std::vector<std::string> Errors;
    std::vector<std::string> ErrorPaths;
};

class TTestShell : public Kiv_shellfiles::TShell {
public:
    explicit TTestShell(std::string homeTrash) : HomeTrash(std::move(homeTrash)) {}

    bool OpenFile(const std::string& path, std::string& why) override {
        return Record(Opened, path, why);
    }
    bool ExploreFile(const std::string& path, std::string& why) override {
        return Record(Explored, path, why);
    }
    bool ShowFileProperties(const std::string& path, std::string& why) override {
        return Record(PropertiesShown, path, why);
    }
    bool RecycleFiles(const std::vector<std::string>& paths,
                      const Kiv_shellfiles::TRecycleHooks& hooks = {}) override {
        Kiv_shellfiles::TTrash trash(HomeTrash);
        Kiv_shellfiles::TRecycleHooks recorded = hooks;
        recorded.Moved = [this, hooks](const Kiv_shellfiles::TTrashedFile& file) {
            Trashed.push_back(file);
            if (hooks.Moved)
                hooks.Moved(file);
        };
        return Kiv_shellfiles::RecycleFiles(paths, trash, Monitor, recorded);
    }

    // Beside the test's trash, never in the user's data folder.
    std::string TrashLogPath() const override { return HomeTrash + ".log"; }
    void FinishInterruptedMoves() override { Kiv_shellfiles::FinishInterruptedMoves(HomeTrash); }

    std::string HomeTrash;
    // The paths for which the desktop fails, and why it says it does.
    std::set<std::string> Failing;
    std::string FailingWhy = "the desktop has no program to open it";
    std::vector<std::string> Opened;
    std::vector<std::string> Explored;
    std::vector<std::string> PropertiesShown;
    std::vector<Kiv_shellfiles::TTrashedFile> Trashed;
    TTestMonitor Monitor;

private:
    bool Record(std::vector<std::string>& calls, const std::string& path, std::string& why) {
        calls.push_back(path);
        if (!Failing.contains(path))
            return true;
        why = FailingWhy;
        return false;
    }
};

} // namespace TestShell
