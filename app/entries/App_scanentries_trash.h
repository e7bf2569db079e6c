// Moving the list's files to the trash and putting them back: the questions before
// anything moves, the guard that keeps a copy of every group the user did not agree to
// lose, the checks right before each file moves, the record of every move and putting back
// before it is made, and the entries that leave the list with their files and come back
// with them.
#pragma once

#include "App_scanentries.h"
#include "Kiv_dialogs.h"
#include "Kiv_shellfiles.h"

#include <cstdint>
#include <vector>

namespace App_scanentries {

// A file of a move to the trash, and its entry as it was.
struct TTrashedEntry {
    Kiv_shellfiles::TTrashedFile File;
    int Index; // its place in the list before the move
    TScanPriority Priority;
    std::int32_t Group;
    App_scan::THashText Hash;
    std::uint64_t Size;
};

// The moves of one list's files to the trash in this run, the last on top; the commands
// Move to Trash and Undo Move to Trash hand their work to it. None of the references is
// owned.
class TTrashMoves {
public:
    TTrashMoves(TScanEntries& entries, Kiv_dialogs::TDialogs& dialogs,
                Kiv_shellfiles::TShell& shell);

    // Moves the files of the entries at the ascending indexes to the trash. Always asks
    // first, No by default. The entries of the files that left their place leave the list,
    // also when the user stops part-way (which then ends with the silent abort) or an
    // error ends the move.
    //
    // Beyond the question, nothing that moves may cost the user a file: when a selected
    // file would leave no copy behind (a unique one, or one of a group that keeps no member
    // that stays, is still there unchanged and is not the same file as a moving one), the
    // user is asked once more before anything moves, No by default; right before each file
    // moves, the file its folder holds is checked to be still the one the list shows (and
    // the copy of its group that stays is checked too), else it is offered like a failed
    // move. Every move is recorded in the trash log before it is made; a log that cannot be
    // written stops the move with the reason.
    void Move(const TIntegerDynArray& selected);
    // Puts the files of the last move (not yet undone) back where they were; their entries
    // return to their former places with their former priority, group and hash. Only a file
    // that is still the one the move took comes back, never over another file. What could
    // not be put back is named after the others are back, and what of it is still in the
    // trash stays the last move, for the next undo.
    void Undo();
    // While a move of this run is not undone.
    bool CanUndo() const { return !Undos.empty(); }
    // Called right after the undo put a file back, before its entry is made (a test's
    // hook, to play another process there).
    std::function<void(const std::string& path)> OnPutBack;

private:
    TScanEntries& Entries;
    Kiv_dialogs::TDialogs& Dialogs;
    Kiv_shellfiles::TShell& Shell;
    std::vector<std::vector<TTrashedEntry>> Undos;
};

} // namespace App_scanentries
