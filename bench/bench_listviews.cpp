// Times the list control with a million rows on Qt's offscreen platform: the bulk
// selection and structural operations, a click and a Shift+click over the whole list,
// painting one screen, and the control's memory per row. Each timed operation includes
// serving the events it causes (the repaint).
#include "BenchMain.h"
#include "Kiv_listviews_window.h"

#include <QApplication>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <malloc.h>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

using namespace Kiv_listviews;

namespace {

constexpr int RowCount = 1'000'000;

double Seconds(const std::function<void()>& body) {
    const auto start = std::chrono::steady_clock::now();
    body();
    QApplication::processEvents();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The best of three runs, each after its own untimed set-up.
double BestOf3(const std::function<void()>& setUp, const std::function<void()>& body) {
    double best = 1e300;
    for (int run = 0; run < 3; ++run) {
        setUp();
        QApplication::processEvents();
        best = std::min(best, Seconds(body));
    }
    return best;
}

// Small blocks in the heap plus the large ones malloc maps on their own.
std::size_t HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// Ascending, scattered: count of the rows 0..rows - 1 drawn at random.
TIntegerDynArray Scattered(int count, int rows, std::mt19937& random) {
    std::vector<int> all(static_cast<std::size_t>(rows));
    std::iota(all.begin(), all.end(), 0);
    std::shuffle(all.begin(), all.end(), random);
    all.resize(static_cast<std::size_t>(count));
    std::sort(all.begin(), all.end());
    return Kiv_dynamicarrays::VectorToArray(std::move(all));
}

void SelectEveryOther(TListView& list) {
    list.ClearSelection();
    WithUpdate(list, [&] {
        for (int i = 0; i < list.ItemCount(); i += 2)
            list.PutState(i, list.ItemState(i) | isSelected);
    });
}

void Click(TListView& list, int row, Qt::KeyboardModifiers modifiers) {
    const QPoint point = list.RowRect(row).center();
    QMouseEvent press(QEvent::MouseButtonPress, point, list.viewport()->mapToGlobal(point),
                      Qt::LeftButton, Qt::LeftButton, modifiers);
    QMouseEvent release(QEvent::MouseButtonRelease, point, list.viewport()->mapToGlobal(point),
                        Qt::LeftButton, Qt::NoButton, modifiers);
    QApplication::sendEvent(list.viewport(), &press);
    QApplication::sendEvent(list.viewport(), &release);
}

void Report(const char* what, double seconds, const char* target) {
    std::printf("%-58s %8.4f s (target <= %s)\n", what, seconds, target);
}

} // namespace

int main(int argc, char** argv) {
    bench::UseOffscreenPlatform();
    QApplication application(argc, argv);

    TImageList small;
    TImageList states;
    for (int i = 0; i < 3; ++i) {
        const auto paint = [i](QPainter& painter, const QRectF& rect) {
            painter.setBrush(QColor::fromHsv(i * 100, 200, 200));
            painter.drawEllipse(rect.adjusted(2, 2, -2, -2));
        };
        small.AddPainted(paint);
        states.AddPainted(paint);
    }

    const std::size_t heapBefore = HeapInUse();
    auto owned = std::make_unique<TListView>();
    TListView& list = *owned;
    list.SetSmallImages(&small);
    list.SetStateImages(&states);
    list.OnData = [](TCustomListView*, int row, TListItem& item) {
        item.Caption = "file" + std::to_string(row) + ".txt";
        item.SubItems = {"/home/user/some/directory/" + std::to_string(row % 1000), "Secondary",
                         std::to_string(row % 5000 + 1)};
        item.ImageIndex = row % 2;
        item.StateIndex = row % 3;
    };
    for (const char* caption : {"Name", "Directory", "Priority", "Group"})
        list.AddColumn({caption, taLeftJustify, 150});
    list.resize(800, 600);
    list.show();
    QApplication::processEvents();
    const std::size_t heapShown = HeapInUse();
    list.SetItemCount(RowCount);
    QApplication::processEvents();
    const std::size_t heapFilled = HeapInUse();
    std::printf("Control memory: %.2f bytes per row for %d rows (target <= 32); "
                "the empty shown control %.0f KB\n",
                double(heapFilled - heapShown) / RowCount, RowCount,
                double(heapShown - heapBefore) / 1024);

    std::mt19937 random(42);
    const TIntegerDynArray half = Scattered(RowCount / 2, RowCount, random);

    Report("SelectAll", BestOf3([&] { list.ClearSelection(); }, [&] { list.SelectAll(); }), "0.3");
    Report("ReverseItemSelection, every other row selected",
           BestOf3([&] { SelectEveryOther(list); }, [&] { ReverseItemSelection(list); }), "0.3");
    Report("SetSelectedIndexes of 500,000 scattered rows",
           BestOf3([&] { list.ClearSelection(); }, [&] { SetSelectedIndexes(list, half); }), "0.3");
    Report("DeleteItems of 500,000 scattered rows",
           BestOf3(
               [&] {
                   list.SetItemCount(RowCount);
                   SelectEveryOther(list);
               },
               [&] { DeleteItems(list, half); }),
           "0.3");

    list.SetItemCount(RowCount);
    std::vector<int> permutation(RowCount);
    std::iota(permutation.begin(), permutation.end(), 0);
    std::shuffle(permutation.begin(), permutation.end(), random);
    TListReorderRecords records(RowCount);
    for (int i = 0; i < RowCount; ++i)
        records[i] = {i, permutation[static_cast<std::size_t>(i)]};
    Report("ReorderItems of a full random permutation",
           BestOf3([&] { SelectEveryOther(list); }, [&] { ReorderItems(list, records); }), "0.3");

    TIntegerDynArray atEnd(1000);
    for (int i = 0; i < atEnd.Length(); ++i)
        atEnd[i] = RowCount + i;
    Report("InsertItems of 1,000 rows at the end, 500,000 selected",
           BestOf3(
               [&] {
                   list.SetItemCount(RowCount);
                   SetSelectedIndexes(list, half);
               },
               [&] { InsertItems(list, atEnd); }),
           "0.3");

    list.SetItemCount(RowCount);
    list.setFocus();
    Report("Click on a row while every row is selected",
           BestOf3([&] { list.SelectAll(); }, [&] { Click(list, 3, Qt::NoModifier); }), "0.05");
    Report("Shift+click from the first row to the last",
           BestOf3(
               [&] {
                   list.verticalScrollBar()->setValue(0);
                   Click(list, 0, Qt::NoModifier);
                   list.MakeVisible(RowCount - 1, false);
                   QApplication::processEvents();
               },
               [&] { Click(list, RowCount - 1, Qt::ShiftModifier); }),
           "0.05");

    list.verticalScrollBar()->setValue(RowCount / 2);
    SelectEveryOther(list);
    QApplication::processEvents();
    double paint = 1e300;
    for (int run = 0; run < 20; ++run) {
        const auto start = std::chrono::steady_clock::now();
        list.viewport()->repaint();
        paint = std::min(
            paint, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    char what[100];
    std::snprintf(what, sizeof what, "Paint one screen (%d rows of 4 columns, 800x600)",
                  list.RowsPerPage() + 1);
    Report(what, paint, "0.01");
    return 0;
}
