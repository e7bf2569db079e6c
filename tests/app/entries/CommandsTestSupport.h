// The entry list with its view, selection and commands, wired to the test's dialogs,
// clipboard and desktop, as the command tests need them; the trash is a folder of the test.
#pragma once

#include "App_scanentries_commands.h"
#include "EntriesTestSupport.h"
#include "TestDialogs.h"
#include "TestShell.h"

#include <algorithm>
#include <string>
#include <vector>

namespace CommandsTest {

class TCommandsSetup {
public:
    void Select(const std::vector<int>& indexes) {
        Selection.SetSelectedIndices(Kiv_dynamicarrays::VectorToArray(indexes));
    }
    std::vector<std::string> ListPaths() const {
        std::vector<std::string> paths;
        for (int i = 0; i < Entries.Count(); ++i)
            paths.push_back(Entries.Item(i).Path());
        return paths;
    }

    EntriesTest::TTempDir Dir;
    App_scanentries::TScanEntries Entries;
    Kiv_listviews::TCustomListView ListView;
    App_scanentries::TScanEntriesView View{Entries, ListView};
    App_scanentries::TScanEntriesSelection Selection{Entries, ListView};
    TestShell::TTestClipboard Clipboard;
    TestDialogs::TTestDialogs Dialogs;
    TestShell::TTestShell Shell{Dir / "home/Trash"};
    App_scanentries::TScanEntriesCommands Commands{Entries, Selection, Clipboard, Dialogs, Shell};
};

} // namespace CommandsTest
