// The list control on screen: a report-style list over a Qt table view whose model holds
// only the row and column counts and asks the control for each row it paints.
//
// The row states of Kiv_listviews::TCustomListView (one byte a row) are the truth: Qt's
// own selection model stays empty, the control handles the mouse and the keyboard itself
// and paints the selection, the focus and cut rows from the state bits. So selecting,
// deleting or permuting a million rows costs one pass over a byte array, and the view adds
// no memory per row.
#pragma once

#include "Kiv_listviews.h"

#include <QBasicTimer>
#include <QElapsedTimer>
#include <QIcon>
#include <QSize>
#include <QString>
#include <QTableView>
#include <functional>
#include <vector>

class QPainter;
class QRectF;

namespace Kiv_listviews {

// Images of one size for the rows of a list. Images added as paint functions are drawn at
// the size they are shown, so they stay sharp at any screen scale.
class TImageList {
public:
    using TPaint = std::function<void(QPainter& painter, const QRectF& rect)>;

    explicit TImageList(QSize size = QSize(16, 16)) : FSize(size) {}

    QSize Size() const { return FSize; }
    int Count() const { return static_cast<int>(Images.size()); }
    // A null icon for an index outside the list.
    QIcon Image(int index) const;
    int Add(const QIcon& image);
    int AddPainted(TPaint paint);

private:
    QSize FSize;
    std::vector<QIcon> Images;
};

class TListViewModel;
class TListViewDelegate;

class TListView : public QTableView, public TCustomListView {
    Q_OBJECT

public:
    explicit TListView(QWidget* parent = nullptr);
    ~TListView() override;

    // Small images (first column, one per row) and state images (left of them); not
    // owned, nullptr for none.
    void SetSmallImages(const TImageList* images);
    void SetStateImages(const TImageList* images);
    const TImageList* SmallImages() const { return FSmallImages; }
    const TImageList* StateImages() const { return FStateImages; }

    // The row under a point of the viewport, -1 for none.
    int RowAt(const QPoint& point) const;
    // The rectangle of a whole row in viewport coordinates.
    QRect RowRect(int index) const;
    // Rows that fit the viewport entirely (at least 1).
    int RowsPerPage() const;
    int TopIndex() const;

    void selectAll() override;
    void keyboardSearch(const QString& search) override;

protected:
    void ItemCountChanged() override;
    void ItemsChanged() override;
    void ItemRangeChanged(int first, int last) override;
    void ColumnsChanged() override;
    void ScrollIntoView(int index, bool partialOk) override;

    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void UpdateRowHeight();
    void ImagesChanged();
    void PaintFocusRect();
    // The selection a click or an arrow key makes, with the focus moved to the row.
    void ClickRow(int row, Qt::KeyboardModifiers modifiers);
    void RightClickRow(int row);
    void MoveFocusTo(int row, Qt::KeyboardModifiers modifiers);
    void FocusRow(int row);
    int KeyTarget(int key) const;
    void DragTo(int y);

    TListViewModel* Model;
    TListViewDelegate* Delegate;
    const TImageList* FSmallImages = nullptr;
    const TImageList* FStateImages = nullptr;
    // Dragging with the left button extends the selection from the selection mark.
    bool DragSelecting = false;
    int DragRow = -1;
    int DragY = 0;
    QBasicTimer AutoScrollTimer;
    QString SearchText;
    QElapsedTimer SearchTimer;
};

} // namespace Kiv_listviews
