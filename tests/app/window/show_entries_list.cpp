// Shows the entry list as the main window will: made-up entries after a scan, with their
// priority and group-state images, a selection and a focused row. For looking at the list
// (screenshots under Xvfb), not run by ctest. Arguments: "wide" shows every field.
#include "App_mainform.h"
#include "App_scanentries_view.h"
#include "App_scanentries_window.h"
#include "App_view.h"
#include "Kiv_forms_window.h"
#include "Kiv_listviews_window.h"

#include <QApplication>
#include <QVBoxLayout>
#include <QWidget>
#include <string>

using namespace Qt::Literals::StringLiterals;

using namespace App_scanentries;
using namespace App_view;
using Kiv_listviews::TListItem;

namespace {

Kiv_files::TFindData Record(std::uint64_t size, std::uint64_t time) {
    Kiv_files::TFindData record{};
    record.FileSizeLow = static_cast<std::uint32_t>(size);
    record.FileAttributes = 0x20;
    record.CreationTime = Kiv_files::UInt64ToFileTime(time);
    record.LastWriteTime = Kiv_files::UInt64ToFileTime(time + 600'000'000);
    record.LastAccessTime = Kiv_files::UInt64ToFileTime(time + 900'000'000);
    return record;
}

void AddEntries(TScanEntries& entries) {
    struct TSample {
        const char* Path;
        std::uint64_t Size;
        TScanPriority Priority;
        int Group;
    };
    const TSample samples[] = {
        {"/home/anna/Pictures/2019/beach.jpg", 2'481'920, spPrimary, 1},
        {"/mnt/backup/Pictures/2019/beach.jpg", 2'481'920, spSecondary, 1},
        {"/mnt/backup/old/beach (copy).jpg", 2'481'920, spSecondary, 1},
        {"/home/anna/Pictures/2019/harbour.jpg", 3'102'208, spPrimary, 0},
        {"/home/anna/Documents/tax-return-2022.pdf", 184'320, spPrimary, 2},
        {"/mnt/backup/Documents/tax-return-2022.pdf", 184'320, spSecondary, 2},
        {"/home/anna/Music/Ravel - Bolero.flac", 41'943'040, spPrimary, 0},
        {"/home/anna/Downloads/setup.tar.gz", 10'485'760, spSecondary, -1},
        {"/home/anna/Downloads/notes.txt", 1'024, spSecondary, -1},
        {"/home/anna/Pictures/2020/snow.png", 912'384, spPrimary, 3},
        {"/mnt/backup/Pictures/2020/snow.png", 912'384, spSecondary, 3},
        {"/home/anna/Videos/birthday.mp4", 734'003'200, spPrimary, 0},
    };
    TScanEntryArray batch(static_cast<int>(std::size(samples)));
    std::uint64_t time = 132'000'000'000'000'000;
    for (std::size_t i = 0; i < std::size(samples); ++i) {
        auto* entry = new TScanEntry(samples[i].Path, Record(samples[i].Size, time += 7'777'777));
        entry->Priority = samples[i].Priority;
        entry->SetGroup(samples[i].Group);
        if (samples[i].Group > 0)
            entry->Hash = "3f2a9c0d5e7b41c8a6d2f19e0b7c5a43d8e6f1029b4c7a5e3d1f0c9b8a7e6d5c";
        batch[static_cast<int>(i)] = entry;
    }
    entries.Add(batch);
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(u"Sorvik"_s);
    window.resize(619, 509);
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(5, 5, 5, 5);
    auto* list = new Kiv_listviews::TListView(&window);
    layout->addWidget(list);

    const Kiv_listviews::TImageList priorityImages = MakePriorityImages();
    const Kiv_listviews::TImageList groupImages = MakeGroupStateImages();
    list->SetSmallImages(&priorityImages);
    list->SetStateImages(&groupImages);

    TScanEntries entries;
    TScanEntriesView view(entries, *list);
    TScanEntriesSelection selection(entries, *list);
    Kiv_forms::TWidgetForm form(window);
    TViewSettings settings(form);
    TViewSettingsView settingsView(settings, *list);
    TScanFields fields = DefaultScanFields;
    fields.Include(sfSize);
    if (argc > 1 && std::string(argv[1]) == "wide")
        fields = TScanFields::FromBits(TScanFields::AllBits);
    settings.SetFields(fields);
    App_mainform::TGroupBands bands;
    list->OnData = [&](Kiv_listviews::TCustomListView*, int row, TListItem& item) {
        if (row < entries.Count())
            App_mainform::RowData(entries.Item(row), settings.GetFields(),
                                  bands.Band(entries, entries.Item(row)), item);
    };

    AddEntries(entries);
    selection.SetSelectedIndices(TIntegerDynArray({1, 2, 5, 10}));
    Kiv_listviews::SetItemFocused(*list, 5, true);
    Kiv_listviews::SetItemState(*list, 7, Kiv_listviews::isCut);
    window.show();
    window.activateWindow();
    list->setFocus();
    return application.exec();
}
