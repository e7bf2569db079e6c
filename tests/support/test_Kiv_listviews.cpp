// The list-view helpers and the list control, on the real control (offscreen).
#include "Kiv_listviews_window.h"
#include "TestFiles.h"
#include "TestWindowApplication.h"

#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace Qt::Literals::StringLiterals;

using namespace Kiv_listviews;

using TestFiles::MessageOf;

namespace {

TIntegerDynArray Ints(std::initializer_list<int> values) {
    return TIntegerDynArray(values);
}

std::vector<int> ToVector(const TIntegerDynArray& values) {
    return std::vector<int>(values.begin(), values.end());
}

class ListViewTest : public ::testing::Test {
protected:
    ListViewTest() {
        List.OnData = [](TCustomListView*, int row, TListItem& item) {
            item.Caption = "row" + std::to_string(row);
            item.SubItems = {"sub" + std::to_string(row)};
        };
        List.AddColumn({"Name", taLeftJustify, 120});
        List.AddColumn({"Size", taRightJustify, 80});
        List.resize(300, 200);
        List.show();
        List.OnChange = [this](TCustomListView* sender) {
            EXPECT_EQ(sender, &List);
            ++Changes;
        };
    }

    // The state bits of every row.
    std::vector<unsigned> States() const {
        std::vector<unsigned> states;
        for (int i = 0; i < List.ItemCount(); ++i)
            states.push_back(GetItemState(List, i));
        return states;
    }

    void Fill(int count, std::vector<unsigned> states = {}) {
        List.SetItemCount(count);
        for (std::size_t i = 0; i < states.size(); ++i)
            SetItemState(List, static_cast<int>(i), states[i]);
    }

    int ModelRows() const { return List.model()->rowCount(); }

    QPoint RowPoint(int row) const { return List.RowRect(row).center(); }

    TestApplication::TTestWindowApplication App;
    TListView List;
    int Changes = 0;
};

constexpr unsigned F = isFocused;
constexpr unsigned S = isSelected;

TEST_F(ListViewTest, InsertKeepsEveryRowsStatesWithIt) {
    Fill(5, {0, S, 0, S | F | isCut, 0});
    EXPECT_EQ(InsertItems(List, Ints({0, 2})), 2);
    EXPECT_EQ(List.ItemCount(), 7);
    EXPECT_EQ(ModelRows(), 7);
    EXPECT_EQ(States(), (std::vector<unsigned>{0, 0, 0, S, 0, S | F | isCut, 0}));
    EXPECT_EQ(List.FocusedIndex(), 5);
    EXPECT_EQ(List.SelectedCount(), 2);

    // Rows appended at the end, and nothing at all for no index.
    EXPECT_EQ(InsertItems(List, Ints({7, 8})), 2);
    EXPECT_EQ(States(), (std::vector<unsigned>{0, 0, 0, S, 0, S | F | isCut, 0, 0, 0}));
    Changes = 0;
    EXPECT_EQ(InsertItems(List, TIntegerDynArray()), 0);
    EXPECT_EQ(List.ItemCount(), 9);
    EXPECT_EQ(Changes, 0);
}

TEST_F(ListViewTest, DeleteMovesTheFocusToTheRowTakingItsPlace) {
    Fill(5, {0, 0, S | F, 0, 0});
    DeleteItems(List, Ints({2}));
    EXPECT_EQ(States(), (std::vector<unsigned>{0, 0, F, 0}));
    EXPECT_EQ(List.SelectedCount(), 0);
    EXPECT_EQ(ModelRows(), 4);

    Fill(5, {S, 0, 0, S, F});
    DeleteItems(List, Ints({3, 4}));
    EXPECT_EQ(States(), (std::vector<unsigned>{S, 0, F}));
    EXPECT_EQ(List.FocusedIndex(), 2);

    // A surviving focused row keeps the focus at its new place.
    Fill(6, {0, S, 0, 0, F | S, 0});
    DeleteItems(List, Ints({0, 2, 5}));
    EXPECT_EQ(States(), (std::vector<unsigned>{S, 0, F | S}));
    EXPECT_EQ(List.SelectedCount(), 2);
}

TEST_F(ListViewTest, DeletingEveryRowLeavesNoFocus) {
    Fill(3, {S, F, S});
    DeleteItems(List, Ints({0, 1, 2}));
    EXPECT_EQ(List.ItemCount(), 0);
    EXPECT_EQ(ModelRows(), 0);
    EXPECT_EQ(List.FocusedIndex(), -1);
    EXPECT_EQ(List.SelectedCount(), 0);
}

TEST_F(ListViewTest, ReorderRotatesStatesWithoutLoss) {
    Fill(4, {S, F, isCut | isDropHilited, S});
    ReorderItems(List, TListReorderRecords({{0, 1}, {1, 2}, {2, 0}}));
    EXPECT_EQ(States(), (std::vector<unsigned>{isCut | isDropHilited, S, F, S}));
    EXPECT_EQ(List.FocusedIndex(), 2);
    EXPECT_EQ(List.SelectedCount(), 2);

    // A move list naming a row outside the list changes nothing.
    EXPECT_THROW(ReorderItems(List, TListReorderRecords({{0, 4}, {4, 0}})),
                 Kiv_framework::ERangeError);
    EXPECT_EQ(States(), (std::vector<unsigned>{isCut | isDropHilited, S, F, S}));

    SwapItems(List, 0, 2);
    EXPECT_EQ(States(), (std::vector<unsigned>{F, S, isCut | isDropHilited, S}));
    EXPECT_EQ(List.FocusedIndex(), 0);
}

TEST_F(ListViewTest, ReverseSelection) {
    Fill(4);
    ReverseItemSelection(List);
    EXPECT_EQ(ToVector(GetSelectedIndexes(List)), (std::vector<int>{0, 1, 2, 3}));
    ReverseItemSelection(List);
    EXPECT_EQ(List.SelectedCount(), 0);
    SetSelectedIndexes(List, Ints({0, 2}));
    SetItemFocused(List, 2, true);
    ReverseItemSelection(List);
    EXPECT_EQ(ToVector(GetSelectedIndexes(List)), (std::vector<int>{1, 3}));
    EXPECT_EQ(List.FocusedIndex(), 2); // the focus is not part of the selection

    List.SetItemCount(0);
    Changes = 0;
    ReverseItemSelection(List);
    EXPECT_EQ(Changes, 0);
}

TEST_F(ListViewTest, SetSelectedIndexes) {
    Fill(4, {S, S | F, 0, 0});
    SetSelectedIndexes(List, Ints({0, 3}));
    EXPECT_EQ(States(), (std::vector<unsigned>{S, F, 0, S}));
    SetSelectedIndexes(List, TIntegerDynArray());
    EXPECT_EQ(States(), (std::vector<unsigned>{0, F, 0, 0}));

    SetSelectedIndexes(List, Ints({1}));
    const std::string message = MessageOf<Kiv_framework::ERangeError>([&] {
        SetSelectedIndexes(List, Ints({0, 4}));
    });
    EXPECT_NE(message.find("4"), std::string::npos) << message;
    EXPECT_EQ(States(), (std::vector<unsigned>{0, F | S, 0, 0})); // nothing changed
}

TEST_F(ListViewTest, RowIndexesOutsideTheListAreRefused) {
    Fill(3, {S, 0, 0});
    const std::string invalid = "The index is invalid to the list view.";
    for (const int index : {-1, 3}) {
        EXPECT_EQ(MessageOf<Kiv_framework::EInvalidOperation>([&] { GetItemState(List, index); }),
                  invalid);
        EXPECT_EQ(
            MessageOf<Kiv_framework::EInvalidOperation>([&] { SetItemState(List, index, S); }),
            invalid);
        EXPECT_EQ(MessageOf<Kiv_framework::EInvalidOperation>(
                      [&] { SetItemSelected(List, index, true); }),
                  invalid);
        EXPECT_EQ(MessageOf<Kiv_framework::EInvalidOperation>(
                      [&] { MakeItemVisible(List, index, false); }),
                  invalid);
        EXPECT_EQ(MessageOf<Kiv_framework::EInvalidOperation>([&] { SwapItems(List, 0, index); }),
                  invalid);
    }
    EXPECT_EQ(States(), (std::vector<unsigned>{S, 0, 0}));
}

TEST_F(ListViewTest, OneRowAtMostHasTheFocus) {
    Fill(3);
    SetItemFocused(List, 0, true);
    SetItemState(List, 2, F | isCut);
    EXPECT_EQ(States(), (std::vector<unsigned>{0, 0, F | isCut}));
    SetItemFocused(List, 2, false);
    EXPECT_EQ(List.FocusedIndex(), -1);
    // Bits above the four are not kept.
    SetItemState(List, 1, 0xF0 | S);
    EXPECT_EQ(GetItemState(List, 1), S);
    EXPECT_TRUE(IsItemSelected(List, 1));
}

TEST_F(ListViewTest, ChangesAreReportedOncePerOperationOrBracket) {
    Fill(100);
    Changes = 0;
    List.SelectAll();
    EXPECT_EQ(Changes, 1);
    List.SelectAll();
    EXPECT_EQ(Changes, 1); // nothing changed
    WithUpdate(List, [&] {
        for (int i = 0; i < 100; i += 3)
            SetItemSelected(List, i, false);
        SetItemFocused(List, 7, true);
    });
    EXPECT_EQ(Changes, 2);
    SetItemSelected(List, 0, false); // already so
    EXPECT_EQ(Changes, 2);
    // The bracket closes when the work fails, and the error passes on.
    EXPECT_THROW(WithUpdate(List,
                            [&] {
                                SetItemSelected(List, 1, false);
                                throw Kiv_framework::EAbort();
                            }),
                 Kiv_framework::EAbort);
    EXPECT_FALSE(List.Updating());
    EXPECT_EQ(Changes, 3);
}

// The owner-data operations against a plain list of states that moves like the rows.
TEST_F(ListViewTest, StructuralOperationsMatchAPlainModel) {
    std::mt19937 random(7);
    std::vector<unsigned> model(20);
    Fill(20);
    for (int step = 0; step < 300; ++step) {
        const int count = static_cast<int>(model.size());
        const int kind = static_cast<int>(random() % 4);
        std::vector<int> picked;
        const int total = kind == 0 ? count + 1 + static_cast<int>(random() % 4) : count;
        for (int i = 0; i < total; ++i)
            if (random() % 4 == 0)
                picked.push_back(i);
        TIntegerDynArray indexes = Kiv_dynamicarrays::VectorToArray(picked);
        if (kind == 0) { // insert at final indexes
            picked.erase(std::remove_if(picked.begin(), picked.end(),
                                        [&](int i) { return i >= count + indexes.Length(); }),
                         picked.end());
            indexes = Kiv_dynamicarrays::VectorToArray(picked);
            for (const int index : picked)
                model.insert(model.begin() + index, 0u);
            InsertItems(List, indexes);
        } else if (kind == 1) {
            for (auto it = picked.rbegin(); it != picked.rend(); ++it)
                model.erase(model.begin() + *it);
            DeleteItems(List, indexes);
            if (!picked.empty() && std::find(model.begin(), model.end(), F) == model.end()) {
                // The focus, when its row went, moved to the row now at its place.
                const int focused = List.FocusedIndex();
                if (focused >= 0)
                    model[static_cast<std::size_t>(focused)] |= F;
            }
        } else if (kind == 2 && count > 0) {
            std::vector<int> permutation(static_cast<std::size_t>(count));
            std::iota(permutation.begin(), permutation.end(), 0);
            std::shuffle(permutation.begin(), permutation.end(), random);
            TListReorderRecords records(count);
            std::vector<unsigned> moved(model.size());
            for (int i = 0; i < count; ++i) {
                records[i] = {i, permutation[static_cast<std::size_t>(i)]};
                moved[static_cast<std::size_t>(permutation[static_cast<std::size_t>(i)])] =
                    model[static_cast<std::size_t>(i)];
            }
            model = moved;
            ReorderItems(List, records);
        } else if (count > 0) {
            const int row = static_cast<int>(random() % static_cast<unsigned>(count));
            const unsigned state = random() % 16;
            if (state & F)
                for (auto& bits : model)
                    bits &= ~F;
            model[static_cast<std::size_t>(row)] = state;
            SetItemState(List, row, state);
        }
        ASSERT_EQ(States(), model) << "step " << step << " kind " << kind;
        ASSERT_EQ(ModelRows(), List.ItemCount());
        int selected = 0;
        for (const unsigned bits : model)
            selected += (bits & S) ? 1 : 0;
        ASSERT_EQ(List.SelectedCount(), selected);
    }
}

TEST_F(ListViewTest, OrdinaryModeMovesRowsWithTheirContents) {
    List.SetOwnerData(false);
    const auto row = [](const std::string& text, int image) {
        return TListItem{text, {text + "!"}, image, 0};
    };
    for (int i = 0; i < 3; ++i)
        List.InsertItem(i, row(std::string(1, char('a' + i)), i));
    SetItemState(List, 0, S);
    SetItemState(List, 2, F);
    EXPECT_EQ(List.model()->data(List.model()->index(1, 1)).toString(), QStringLiteral("b!"));

    EXPECT_EQ(InsertItems(List, Ints({0, 2})), 2);
    ASSERT_EQ(List.ItemCount(), 5);
    EXPECT_EQ(List.Item(0), TListItem());
    EXPECT_EQ(List.Item(1).Caption, "a");
    EXPECT_EQ(List.Item(2), TListItem());
    EXPECT_EQ(States(), (std::vector<unsigned>{0, S, 0, 0, F}));

    DeleteItems(List, Ints({0, 2}));
    ReorderItems(List, TListReorderRecords({{0, 1}, {1, 2}, {2, 0}}));
    EXPECT_EQ(List.Item(0).Caption, "c");
    EXPECT_EQ(List.Item(1).Caption, "a");
    EXPECT_EQ(List.Item(2).Caption, "b");
    EXPECT_EQ(States(), (std::vector<unsigned>{F, S, 0}));

    SwapItems(List, 0, 2);
    EXPECT_EQ(List.Item(0), row("b", 1));
    EXPECT_EQ(List.Item(2), row("c", 2));
    EXPECT_EQ(States(), (std::vector<unsigned>{0, S, F}));
    EXPECT_EQ(List.model()->data(List.model()->index(2, 0)).toString(), QStringLiteral("c"));

    DeleteItems(List, Ints({0, 1, 2}));
    EXPECT_EQ(List.ItemCount(), 0);
    EXPECT_EQ(ModelRows(), 0);
    List.InsertItem(0, row("z", 0));
    List.SetOwnerData(true); // drops the stored rows
    EXPECT_EQ(List.ItemCount(), 0);
    EXPECT_THROW(List.InsertItem(0), Kiv_framework::EInvalidOperation);
}

TEST_F(ListViewTest, AskedRowsComeFromOnData) {
    Fill(3);
    const QAbstractItemModel& model = *List.model();
    EXPECT_EQ(model.columnCount(), 2);
    EXPECT_EQ(model.data(model.index(2, 0)).toString(), QStringLiteral("row2"));
    EXPECT_EQ(model.data(model.index(2, 1)).toString(), QStringLiteral("sub2"));
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Size"));
    EXPECT_TRUE(model.headerData(1, Qt::Horizontal, Qt::TextAlignmentRole).toInt() &
                Qt::AlignRight);
    // A row whose data cannot be had shows empty.
    List.OnData = [](TCustomListView*, int, TListItem&) { throw std::runtime_error("gone"); };
    List.UpdateItems(0, 2);
    EXPECT_EQ(model.data(model.index(1, 0)).toString(), QString());
    List.viewport()->repaint();
}

// --- The control as the user handles it

TEST_F(ListViewTest, ClicksSelectAsOnADesktopList) {
    Fill(6);
    QTest::mouseClick(List.viewport(), Qt::LeftButton, Qt::NoModifier, RowPoint(1));
    EXPECT_EQ(States(), (std::vector<unsigned>{0, S | F, 0, 0, 0, 0}));
    QTest::mouseClick(List.viewport(), Qt::LeftButton, Qt::ControlModifier, RowPoint(3));
    EXPECT_EQ(States(), (std::vector<unsigned>{0, S, 0, S | F, 0, 0}));
    QTest::mouseClick(List.viewport(), Qt::LeftButton, Qt::ControlModifier, RowPoint(1));
    EXPECT_EQ(States(), (std::vector<unsigned>{0, F, 0, S, 0, 0}));
    // Shift+click: from the last row clicked without Shift.
    QTest::mouseClick(List.viewport(), Qt::LeftButton, Qt::ShiftModifier, RowPoint(4));
    EXPECT_EQ(States(), (std::vector<unsigned>{0, S, S, S, S | F, 0}));
    QTest::mouseClick(List.viewport(), Qt::LeftButton, Qt::ShiftModifier, RowPoint(0));
    EXPECT_EQ(States(), (std::vector<unsigned>{S | F, S, 0, 0, 0, 0}));

    // A right click on a selected row keeps the selection; on another row it selects that.
    QTest::mouseClick(List.viewport(), Qt::RightButton, Qt::NoModifier, RowPoint(1));
    EXPECT_EQ(States(), (std::vector<unsigned>{S, S | F, 0, 0, 0, 0}));
    QTest::mouseClick(List.viewport(), Qt::RightButton, Qt::NoModifier, RowPoint(4));
    EXPECT_EQ(States(), (std::vector<unsigned>{0, 0, 0, 0, S | F, 0}));

    // A click below the rows clears the selection.
    QTest::mouseClick(List.viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(10, List.viewport()->height() - 2));
    EXPECT_EQ(List.SelectedCount(), 0);
    EXPECT_EQ(List.FocusedIndex(), 4);
}

TEST_F(ListViewTest, KeysMoveTheFocusAndTheSelection) {
    Fill(50);
    List.setFocus();
    QTest::keyClick(&List, Qt::Key_Down);
    EXPECT_EQ(List.FocusedIndex(), 0);
    EXPECT_EQ(ToVector(GetSelectedIndexes(List)), std::vector<int>{0});
    QTest::keyClick(&List, Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(&List, Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(ToVector(GetSelectedIndexes(List)), (std::vector<int>{0, 1, 2}));
    QTest::keyClick(&List, Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_EQ(ToVector(GetSelectedIndexes(List)), (std::vector<int>{0, 1}));
    // Ctrl moves the focus alone; Ctrl+Space then adds the row.
    QTest::keyClick(&List, Qt::Key_Down, Qt::ControlModifier);
    QTest::keyClick(&List, Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(List.FocusedIndex(), 3);
    QTest::keyClick(&List, Qt::Key_Space, Qt::ControlModifier);
    EXPECT_EQ(ToVector(GetSelectedIndexes(List)), (std::vector<int>{0, 1, 3}));

    QTest::keyClick(&List, Qt::Key_End);
    EXPECT_EQ(List.FocusedIndex(), 49);
    EXPECT_EQ(ToVector(GetSelectedIndexes(List)), std::vector<int>{49});
    EXPECT_TRUE(List.viewport()->rect().contains(List.RowRect(49)));
    QTest::keyClick(&List, Qt::Key_Home, Qt::ShiftModifier);
    EXPECT_EQ(List.SelectedCount(), 50);
    EXPECT_EQ(List.verticalScrollBar()->value(), 0);

    QTest::keyClick(&List, Qt::Key_PageDown);
    const int page = List.RowsPerPage();
    EXPECT_EQ(List.FocusedIndex(), page - 1); // first to the bottom of the page
    QTest::keyClick(&List, Qt::Key_PageDown);
    EXPECT_EQ(List.FocusedIndex(), 2 * page - 2);
    EXPECT_TRUE(List.viewport()->rect().contains(List.RowRect(2 * page - 2)));
    QTest::keyClick(&List, Qt::Key_PageUp);
    EXPECT_EQ(List.FocusedIndex(), List.TopIndex());

    QTest::keyClick(&List, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(List.SelectedCount(), 50);
    // Alt+arrows are left to the window (moving entries), the list does nothing.
    const int focused = List.FocusedIndex();
    QTest::keyClick(&List, Qt::Key_Down, Qt::AltModifier);
    EXPECT_EQ(List.FocusedIndex(), focused);
    EXPECT_EQ(List.SelectedCount(), 50);

    // Typing goes to the next row that begins with the text.
    QTest::keyClick(&List, Qt::Key_Home);
    QTest::keyClicks(&List, u"row4"_s);
    EXPECT_EQ(List.FocusedIndex(), 4);
    EXPECT_EQ(List.SelectedCount(), 1);
}

TEST_F(ListViewTest, HeaderClicksAndDraggedWidths) {
    std::vector<int> clicked;
    List.OnColumnClick = [&](TCustomListView* sender, int column) {
        EXPECT_EQ(sender, &List);
        clicked.push_back(column);
    };
    QHeaderView* header = List.horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(header->sectionViewportPosition(1) + 20, header->height() / 2));
    EXPECT_EQ(clicked, std::vector<int>{1});
    EXPECT_EQ(List.SelectedCount(), 0);

    header->resizeSection(0, 175); // as a drag of the divider does
    EXPECT_EQ(List.ColumnWidth(0), 175);
    List.SetColumnWidth(1, 0);
    EXPECT_EQ(header->sectionSize(1), 0);
    List.ClearColumns();
    EXPECT_EQ(List.model()->columnCount(), 0);
}

TEST_F(ListViewTest, MakeVisibleScrollsTheWholeRowIntoView) {
    Fill(1000);
    QApplication::processEvents();
    MakeItemVisible(List, 700, false);
    EXPECT_TRUE(List.viewport()->rect().contains(List.RowRect(700)));
    const int top = List.TopIndex();
    EXPECT_EQ(top + List.RowsPerPage() - 1, 700); // scrolled no further than needed
    MakeItemVisible(List, top, false);
    EXPECT_EQ(List.TopIndex(), top);
    MakeItemVisible(List, 3, true);
    EXPECT_EQ(List.TopIndex(), 3);
}

// The colour in the middle of a row's empty part of the second column.
QColor RowColour(TListView& list, int row) {
    const QImage image = list.viewport()->grab().toImage();
    const int x = list.columnViewportPosition(1) + 8;
    return image.pixelColor(QPoint(x, list.RowRect(row).center().y()) * image.devicePixelRatio());
}

TEST_F(ListViewTest, SelectionIsPaintedFromTheStateBitsAlsoWithoutFocus) {
    List.OnData = [](TCustomListView*, int, TListItem& item) { item.Caption = "x"; };
    Fill(4, {0, S, 0, isDropHilited});
    const QColor highlight = List.palette().color(QPalette::Active, QPalette::Highlight);
    EXPECT_EQ(RowColour(List, 1), highlight);
    EXPECT_EQ(RowColour(List, 3), highlight);
    EXPECT_NE(RowColour(List, 0), RowColour(List, 1));
    EXPECT_NE(RowColour(List, 2), RowColour(List, 1));
    List.clearFocus();
    EXPECT_NE(RowColour(List, 1), RowColour(List, 0));
}

} // namespace
