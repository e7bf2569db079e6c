// Every command on the entry list: building it (new, add files, add a directory, paste,
// drop), the clipboard, the selection, the order, the desktop's actions on the selected
// files (open, show in folder, move to the trash, total size, properties), the priority
// and the removal of the unique entries.
//
// Each command is a pair: an operation and its Can query. The main window binds one action
// to each pair (Commands() lists them in order with their names), shows the query as the
// action's enabled state, refreshes the states when OnCommandsChanged fires, and shows
// the errors that the operations raise. Every operation re-checks its query first and
// raises EAppError "The feature is unavailable." when it says no; a declined question or a
// cancelled dialog ends with the silent abort.
#pragma once

#include "App_common.h"
#include "App_scanentries.h"
#include "App_scanentries_adding.h"
#include "App_scanentries_trash.h"
#include "App_scanentries_view.h"
#include "Kiv_clipboard.h"
#include "Kiv_dialogs.h"
#include "Kiv_shellfiles.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace App_scanentries {

class TScanEntriesCommands : public App_common::TCommands {
public:
    // Watches the clipboard from now on (EClipboardError when it cannot be watched). None
    // of the references is owned.
    TScanEntriesCommands(TScanEntries& entries, TScanEntriesSelection& selection,
                         Kiv_clipboard::TClipboard& clipboard, Kiv_dialogs::TDialogs& dialogs,
                         Kiv_shellfiles::TShell& shell);
    ~TScanEntriesCommands() override;
    TScanEntriesCommands(const TScanEntriesCommands&) = delete;
    TScanEntriesCommands& operator=(const TScanEntriesCommands&) = delete;

    // The "Add Regular Files" dialog's filter index: "FilterIndex" of the section followed
    // by ".AddRegularFilesDialog".
    void Load(App_common::TMemIniFile& iniFile, const std::string& section) override;
    void Save(App_common::TMemIniFile& iniFile, const std::string& section) override;

    // Raises OnCommandsChanged; called on every change of the clipboard.
    virtual void DoCommandsChanged();

    // Asks first unless every entry is unique.
    virtual void New();
    virtual bool CanNew() const { return true; }
    virtual void AddRegularFiles();
    virtual bool CanAddRegularFiles() const { return true; }
    // Every regular file below the chosen folder, which becomes the current directory.
    virtual void AddDirectoryEntries();
    virtual bool CanAddDirectoryEntries() const { return true; }
    virtual void Cut();
    virtual bool CanCut() const;
    // The selected paths as plain text, each followed by CR LF. A name that the clipboard's
    // text would change raises EAppError "The program cannot put the name of the file
    // \"%s\" on the clipboard." and nothing is copied.
    virtual void Copy();
    virtual bool CanCopy() const;
    // The paths of the clipboard's text, one a line; empty lines are passed over.
    virtual void Paste();
    virtual bool CanPaste() const;
    virtual void Delete();
    virtual bool CanDelete() const;
    virtual void SelectAll();
    virtual bool CanSelectAll() const { return true; }
    virtual void ReverseSelection();
    virtual bool CanReverseSelection() const { return true; }
    // Selects the first entry of each duplicate group in the present order, and nothing
    // else.
    virtual void SelectFirstInGroup();
    virtual bool CanSelectFirstInGroup() const { return true; }
    // Selects every grouped entry but the first of its group in the present order: the
    // copies, never a unique entry or one not scanned.
    virtual void SelectCopies();
    virtual bool CanSelectCopies() const { return true; }
    virtual void SortByPath();
    virtual bool CanSortByPath() const { return true; }
    virtual void SortByDirectory();
    virtual bool CanSortByDirectory() const { return true; }
    virtual void SortByName();
    virtual bool CanSortByName() const { return true; }
    virtual void SortByBaseName();
    virtual bool CanSortByBaseName() const { return true; }
    virtual void SortByExtension();
    virtual bool CanSortByExtension() const { return true; }
    virtual void SortBySize();
    virtual bool CanSortBySize() const { return true; }
    virtual void SortByType();
    virtual bool CanSortByType() const { return true; }
    virtual void SortByCreationTime();
    virtual bool CanSortByCreationTime() const { return true; }
    virtual void SortByLastWriteTime();
    virtual bool CanSortByLastWriteTime() const { return true; }
    virtual void SortByLastAccessTime();
    virtual bool CanSortByLastAccessTime() const { return true; }
    virtual void SortByAttributes();
    virtual bool CanSortByAttributes() const { return true; }
    virtual void SortByHash();
    virtual bool CanSortByHash() const { return true; }
    virtual void SortByPriority();
    virtual bool CanSortByPriority() const { return true; }
    virtual void SortByGroup();
    virtual bool CanSortByGroup() const { return true; }
    virtual void ReverseOrder();
    virtual bool CanReverseOrder() const { return true; }
    virtual void MoveUp();
    virtual bool CanMoveUp() const;
    virtual void MoveDown();
    virtual bool CanMoveDown() const;
    // Opens each selected file with its default program, asking first for several; stops
    // at the first that fails.
    virtual void Open();
    virtual bool CanOpen() const;
    // Shows each selected file in its folder, asking first for several.
    virtual void ExploreDirectory();
    virtual bool CanExploreDirectory() const;
    // The selected files to the trash and back, as TTrashMoves::Move and Undo tell
    // (App_scanentries_trash): asked first, No by default; no file loses its last copy
    // unasked; each file is checked right before it moves, and recorded.
    virtual void MoveToRecycleBin();
    virtual bool CanMoveToRecycleBin() const;
    virtual void UndoMoveToRecycleBin();
    // While a move of this run is not undone.
    virtual bool CanUndoMoveToRecycleBin() const;
    virtual void TotalSize();
    virtual bool CanTotalSize() const;
    virtual void Properties();
    virtual bool CanProperties() const;
    virtual void SetPriorityToPrimary();
    virtual bool CanSetPriorityToPrimary() const;
    virtual void SetPriorityToSecondary();
    virtual bool CanSetPriorityToSecondary() const;
    virtual void RemoveAllUnique();
    virtual bool CanRemoveAllUnique() const;
    // The paths of a drop (or of the command line), in the order dropped.
    virtual void DropFiles(const Kiv_dynamicarrays::TStringDynArray& paths);
    virtual bool CanDropFiles() const { return true; }

    // One command pair with the name the main window knows it by ("New", "Copy", ...).
    struct TCommand {
        const char* Name;
        void (TScanEntriesCommands::*Execute)();
        bool (TScanEntriesCommands::*Can)() const;
    };
    // Every pair without an argument, in the order above (DropFiles takes its paths).
    static const std::vector<TCommand>& Commands();

    TScanEntries& Entries;
    TScanEntriesSelection& Selection;
    // The "Add Regular Files" dialog's settings, kept from one use to the next.
    Kiv_dialogs::TOpenFileRequest AddFilesDialog;
    Kiv_framework::TEvent<TScanEntriesCommands*> OnCommandsChanged;
    // When set, an add runs on a worker behind it, shown after AddDialogDelay ms (the
    // window's way); otherwise on the calling thread. Not owned.
    TAddProgress* AddProgress = nullptr;
    int AddDialogDelay = AddDialogDelayMs;
    // Called on the add's worker before each step of the producer (a test's hook).
    std::function<void()> OnAddStep;
    // Called right after Undo Move to Trash put a file back, before its entry is made (a
    // test's hook).
    std::function<void(const std::string& path)> OnPutBack;

protected:
    // All or nothing: a path that cannot be taken fails the whole add, the list unchanged.
    void AddPaths(const Kiv_dynamicarrays::TStringDynArray& paths);
    void RemoveEntries(const TIntegerDynArray& indexes);
    // Sets the priority of the selected entries that have another one.
    void SetPriority(TScanPriority priority);

private:
    // Re-checks the query, then sorts the list.
    void Sort(bool (TScanEntriesCommands::*can)() const, void (TScanEntries::*sort)());
    // Asks first for several selected entries (the question takes the count), then hands
    // each selected entry to the action, in order.
    void ForEachSelected(const std::string& questionStart, const std::string& questionEnd,
                         const std::function<void(const TScanEntry&)>& action);

    Kiv_clipboard::TClipboard& Clipboard;
    Kiv_dialogs::TDialogs& Dialogs;
    Kiv_shellfiles::TShell& Shell;
    // The moves of this run to the trash, for their undo.
    TTrashMoves Trash;
    std::unique_ptr<Kiv_clipboard::TClipboardWatcher> ClipboardWatcher;
};

} // namespace App_scanentries
