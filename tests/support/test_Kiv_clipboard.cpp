// The clipboard watcher on a clipboard the test controls.
#include "Kiv_clipboard.h"

#include <gtest/gtest.h>
#include <memory>
#include <vector>

using namespace Kiv_clipboard;

namespace {

class TTestClipboard : public TClipboard {
public:
    class TSubscription : public TClipboardSubscription {
    public:
        TSubscription(TTestClipboard& owner, std::function<void()> changed) : Owner(owner) {
            Owner.Viewers.push_back(std::move(changed));
        }
        ~TSubscription() override { Owner.Viewers.pop_back(); }

    private:
        TTestClipboard& Owner;
    };

    bool HasText() const override { return !Text.empty(); }
    std::string GetText() const override { return Text; }
    void SetText(const std::string& text) override {
        Text = text;
        for (const auto& viewer : Viewers)
            viewer();
    }
    std::unique_ptr<TClipboardSubscription> Subscribe(std::function<void()> changed) override {
        if (Refuse)
            return nullptr;
        return std::make_unique<TSubscription>(*this, std::move(changed));
    }

    std::string Text;
    std::vector<std::function<void()>> Viewers;
    bool Refuse = false;
};

TEST(ClipboardWatcher, ReportsChangesWhileActive) {
    TTestClipboard clipboard;
    TClipboardWatcher watcher(clipboard);
    int changes = 0;
    watcher.OnChange = [&](TClipboardWatcher* sender) {
        EXPECT_EQ(sender, &watcher);
        ++changes;
    };
    EXPECT_FALSE(watcher.Active());
    clipboard.SetText("a");
    EXPECT_EQ(changes, 0);

    watcher.SetActive(true);
    watcher.SetActive(true); // joins once
    EXPECT_TRUE(watcher.Active());
    EXPECT_EQ(clipboard.Viewers.size(), 1u);
    clipboard.SetText("b");
    EXPECT_EQ(changes, 1);

    watcher.SetActive(false);
    EXPECT_TRUE(clipboard.Viewers.empty());
    clipboard.SetText("c");
    EXPECT_EQ(changes, 1);
}

TEST(ClipboardWatcher, DestroyingAnActiveWatcherLeaves) {
    TTestClipboard clipboard;
    {
        TClipboardWatcher watcher(clipboard);
        watcher.SetActive(true);
        EXPECT_EQ(clipboard.Viewers.size(), 1u);
    }
    EXPECT_TRUE(clipboard.Viewers.empty());
}

TEST(ClipboardWatcher, ARefusedActivationStaysInactive) {
    TTestClipboard clipboard;
    clipboard.Refuse = true;
    TClipboardWatcher watcher(clipboard);
    try {
        watcher.SetActive(true);
        ADD_FAILURE() << "no error";
    } catch (const EClipboardError& error) {
        EXPECT_STREQ(error.what(),
                     "The program could not add the window to the clipboard viewer chain.");
    }
    EXPECT_FALSE(watcher.Active());
}

} // namespace
