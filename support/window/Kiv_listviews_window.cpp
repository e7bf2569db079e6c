#include "Kiv_listviews_window.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QHash>
#include <QHeaderView>
#include <QIconEngine>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <algorithm>
#include <utility>

namespace Kiv_listviews {

namespace {

// An image drawn by a function at the size and scale it is shown.
class TPaintedIconEngine : public QIconEngine {
public:
    explicit TPaintedIconEngine(TImageList::TPaint paint) : Paint(std::move(paint)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        if (mode == QIcon::Disabled)
            painter->setOpacity(painter->opacity() * 0.4);
        Paint(*painter, QRectF(rect));
        painter->restore();
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap result(size);
        result.fill(Qt::transparent);
        QPainter painter(&result);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return result;
    }
    // The size arrives already multiplied by the scale.
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal /*scale*/) override {
        return pixmap(size, mode, state);
    }
    QIconEngine* clone() const override { return new TPaintedIconEngine(Paint); }
    QString key() const override { return QStringLiteral("SorvikPainted"); }

private:
    TImageList::TPaint Paint;
};

// The state image and the small image of a row side by side, as the one decoration of
// the first column; a cut row's images are ghosted.
class TRowImagesEngine : public QIconEngine {
public:
    struct TSlot {
        QIcon Image;
        int Width = 0; // 0: no slot
    };

    TRowImagesEngine(TSlot state, TSlot small, int gap, bool ghosted)
        : State(std::move(state)), Small(std::move(small)), Gap(gap), Ghosted(ghosted) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State iconState) override {
        const int total = State.Width + Small.Width + (State.Width && Small.Width ? Gap : 0);
        if (total <= 0)
            return;
        const qreal scale = qreal(rect.width()) / total;
        painter->save();
        if (Ghosted)
            painter->setOpacity(painter->opacity() * 0.45);
        qreal x = rect.left();
        for (const TSlot* slot : {&State, &Small}) {
            if (slot->Width == 0)
                continue;
            const QRect target(qRound(x), rect.top(), qRound(slot->Width * scale), rect.height());
            if (!slot->Image.isNull())
                slot->Image.paint(painter, target, Qt::AlignCenter, mode, iconState);
            x += (slot->Width + Gap) * scale;
        }
        painter->restore();
    }
    QIconEngine* clone() const override { return new TRowImagesEngine(State, Small, Gap, Ghosted); }
    QString key() const override { return QStringLiteral("SorvikRowImages"); }

private:
    TSlot State;
    TSlot Small;
    int Gap;
    bool Ghosted;
};

constexpr int ImageGap = 2;

Qt::Alignment ToQt(TAlignment alignment) {
    switch (alignment) {
    case taRightJustify:
        return Qt::AlignRight | Qt::AlignVCenter;
    case taCenter:
        return Qt::AlignHCenter | Qt::AlignVCenter;
    case taLeftJustify:
        break;
    }
    return Qt::AlignLeft | Qt::AlignVCenter;
}

} // namespace

// ---------------------------------------------------------------------------------------
// TImageList

QIcon TImageList::Image(int index) const {
    if (index < 0 || index >= Count())
        return QIcon();
    return Images[static_cast<std::size_t>(index)];
}

int TImageList::Add(const QIcon& image) {
    Images.push_back(image);
    return Count() - 1;
}

int TImageList::AddPainted(TPaint paint) {
    // QIcon owns its engine.
    return Add(QIcon(new TPaintedIconEngine(std::move(paint))));
}

// ---------------------------------------------------------------------------------------
// The model: the row and column counts of the control, and the row being painted.

class TListViewModel : public QAbstractTableModel {
public:
    TListViewModel(TListView& view, QObject* parent) : QAbstractTableModel(parent), View(view) {}

    int rowCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : Rows;
    }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : Columns;
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemNeverHasChildren : Qt::NoItemFlags;
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= View.ItemCount() ||
            index.column() >= View.ColumnCount())
            return QVariant();
        if (role == Qt::DisplayRole)
            return Text(Row(index.row()), index.column());
        if (role == Qt::TextAlignmentRole)
            return static_cast<int>(ToQt(View.Column(index.column()).Alignment));
        return QVariant();
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || section < 0 || section >= View.ColumnCount())
            return QVariant();
        if (role == Qt::DisplayRole)
            return QString::fromUtf8(View.Column(section).Caption);
        if (role == Qt::TextAlignmentRole)
            return static_cast<int>(ToQt(View.Column(section).Alignment));
        return QVariant();
    }

    // Rows are asked of the owner once per paint: the last one is kept until something
    // changes or the next paint begins.
    const TListItem& Row(int row) const {
        if (row != CachedRow) {
            CachedRow = -1;
            try {
                View.GetItemData(row, Cached);
            } catch (...) {
                // A row the owner cannot describe shows empty rather than taking the
                // paint down with it.
                Cached = TListItem();
            }
            CachedRow = row;
        }
        return Cached;
    }
    void Invalidate() { CachedRow = -1; }

    // The view learns of a changed row count as rows added or removed at the end: the
    // control has already moved the states, and no row object exists to move.
    void SyncRowCount() {
        Invalidate();
        const int count = View.ItemCount();
        if (count > Rows) {
            beginInsertRows(QModelIndex(), Rows, count - 1);
            Rows = count;
            endInsertRows();
        } else if (count < Rows) {
            beginRemoveRows(QModelIndex(), count, Rows - 1);
            Rows = count;
            endRemoveRows();
        }
    }

    void SyncColumns() {
        Invalidate();
        if (Columns > 0) {
            beginRemoveColumns(QModelIndex(), 0, Columns - 1);
            Columns = 0;
            endRemoveColumns();
        }
        if (View.ColumnCount() > 0) {
            beginInsertColumns(QModelIndex(), 0, View.ColumnCount() - 1);
            Columns = View.ColumnCount();
            endInsertColumns();
        }
    }

private:
    static QString Text(const TListItem& item, int column) {
        if (column == 0)
            return QString::fromUtf8(item.Caption);
        const auto sub = static_cast<std::size_t>(column - 1);
        return sub < item.SubItems.size() ? QString::fromUtf8(item.SubItems[sub]) : QString();
    }

    TListView& View;
    int Rows = 0;
    int Columns = 0;
    mutable int CachedRow = -1;
    mutable TListItem Cached;
};

// ---------------------------------------------------------------------------------------
// The delegate: the style's own item drawing, with the selection, the focus and the cut
// state taken from the state bits and both images in the first column.

class TListViewDelegate : public QStyledItemDelegate {
public:
    TListViewDelegate(TListView& view, const TListViewModel& model, QObject* parent)
        : QStyledItemDelegate(parent), View(view), Model(model) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem prepared = option;
        Prepare(prepared, index);
        const QWidget* widget = prepared.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &prepared, painter, widget);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem prepared = option;
        Prepare(prepared, index);
        const QWidget* widget = prepared.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        return style->sizeFromContents(QStyle::CT_ItemViewItem, &prepared, QSize(), widget);
    }

    void ImagesChanged() { Composed.clear(); }

    // The width of the images in the first column (0: none).
    QSize ImagesSize() const {
        const TImageList* state = View.StateImages();
        const TImageList* small = View.SmallImages();
        const int width = (state ? state->Size().width() : 0) +
                          (small ? small->Size().width() : 0) + (state && small ? ImageGap : 0);
        const int height =
            std::max(state ? state->Size().height() : 0, small ? small->Size().height() : 0);
        return QSize(width, height);
    }

private:
    void Prepare(QStyleOptionViewItem& option, const QModelIndex& index) const {
        initStyleOption(&option, index);
        const int row = index.row();
        const unsigned state = row < View.ItemCount() ? View.ItemState(row) : 0;
        option.state &=
            ~(QStyle::State_Selected | QStyle::State_HasFocus | QStyle::State_MouseOver);
        if (state & (isSelected | isDropHilited))
            option.state |= QStyle::State_Selected;
        option.showDecorationSelected = true;
        option.viewItemPosition = Position(index.column());
        if (index.column() == 0 && row < View.ItemCount())
            AddImages(option, Model.Row(row), (state & isCut) != 0);
    }

    QStyleOptionViewItem::ViewItemPosition Position(int column) const {
        const int columns = Model.columnCount();
        const int visual = View.horizontalHeader()->visualIndex(column);
        if (columns == 1)
            return QStyleOptionViewItem::OnlyOne;
        if (visual == 0)
            return QStyleOptionViewItem::Beginning;
        return visual == columns - 1 ? QStyleOptionViewItem::End : QStyleOptionViewItem::Middle;
    }

    void AddImages(QStyleOptionViewItem& option, const TListItem& item, bool ghosted) const {
        const QSize size = ImagesSize();
        if (size.isEmpty())
            return;
        option.features |= QStyleOptionViewItem::HasDecoration;
        option.decorationSize = size;
        option.icon = RowImages(item.StateIndex, item.ImageIndex, ghosted);
    }

    QIcon RowImages(int stateIndex, int imageIndex, bool ghosted) const {
        const quint64 key = (quint64(quint32(stateIndex)) << 32) ^
                            (quint64(quint32(imageIndex)) << 1) ^ (ghosted ? 1 : 0);
        const auto found = Composed.constFind(key);
        if (found != Composed.constEnd())
            return found.value();
        const TImageList* state = View.StateImages();
        const TImageList* small = View.SmallImages();
        TRowImagesEngine::TSlot stateSlot{state ? state->Image(stateIndex) : QIcon(),
                                          state ? state->Size().width() : 0};
        TRowImagesEngine::TSlot smallSlot{small ? small->Image(imageIndex) : QIcon(),
                                          small ? small->Size().width() : 0};
        // QIcon owns its engine.
        const QIcon icon(new TRowImagesEngine(stateSlot, smallSlot, ImageGap, ghosted));
        Composed.insert(key, icon);
        return icon;
    }

    TListView& View;
    const TListViewModel& Model;
    mutable QHash<quint64, QIcon> Composed;
};

// ---------------------------------------------------------------------------------------
// TListView

TListView::TListView(QWidget* parent)
    : QTableView(parent), Model(new TListViewModel(*this, this)),
      Delegate(new TListViewDelegate(*this, *Model, this)) {
    setModel(Model);
    setItemDelegate(Delegate);
    // Qt's selection model stays empty: the state bits hold the selection.
    setSelectionMode(QAbstractItemView::NoSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(false);
    setDragDropMode(QAbstractItemView::NoDragDrop);
    setAcceptDrops(false);
    viewport()->setAcceptDrops(false);
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

    QHeaderView* rows = verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(1);

    QHeaderView* header = horizontalHeader();
    header->setSectionsClickable(true);
    header->setSectionsMovable(false);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(0);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // A header click sorts through OnColumnClick; it never selects a column.
    disconnect(header, &QHeaderView::sectionPressed, this, nullptr);
    disconnect(header, &QHeaderView::sectionEntered, this, nullptr);
    connect(header, &QHeaderView::sectionClicked, this,
            [this](int column) { DoColumnClick(column); });
    connect(header, &QHeaderView::sectionResized, this,
            [this](int column, int, int width) { StoreColumnWidth(column, width); });
    UpdateRowHeight();
}

TListView::~TListView() {
    horizontalHeader()->disconnect(this);
}

void TListView::SetSmallImages(const TImageList* images) {
    FSmallImages = images;
    ImagesChanged();
}

void TListView::SetStateImages(const TImageList* images) {
    FStateImages = images;
    ImagesChanged();
}

void TListView::ImagesChanged() {
    Delegate->ImagesChanged();
    UpdateRowHeight();
    viewport()->update();
}

void TListView::UpdateRowHeight() {
    const int images = Delegate->ImagesSize().height();
    verticalHeader()->setDefaultSectionSize(std::max(fontMetrics().height(), images) + 4);
}

int TListView::RowAt(const QPoint& point) const {
    return rowAt(point.y());
}

QRect TListView::RowRect(int index) const {
    return QRect(0, rowViewportPosition(index), viewport()->width(), rowHeight(index));
}

int TListView::RowsPerPage() const {
    return std::max(1, viewport()->height() / std::max(1, verticalHeader()->defaultSectionSize()));
}

int TListView::TopIndex() const {
    return std::max(rowAt(0), 0);
}

void TListView::selectAll() {
    SelectAll();
}

void TListView::ItemCountChanged() {
    Model->SyncRowCount();
}

void TListView::ItemsChanged() {
    Model->Invalidate();
    viewport()->update();
}

void TListView::ItemRangeChanged(int first, int last) {
    Model->Invalidate();
    first = std::max(first, TopIndex());
    last = std::min({last, TopIndex() + RowsPerPage(), Model->rowCount() - 1});
    if (first <= last)
        viewport()->update(RowRect(first).united(RowRect(last)));
}

void TListView::ColumnsChanged() {
    Model->SyncColumns();
    for (int i = 0; i < ColumnCount(); ++i)
        horizontalHeader()->resizeSection(i, Column(i).Width);
    viewport()->update();
}

void TListView::ScrollIntoView(int index, bool partialOk) {
    if (index < 0 || index >= Model->rowCount())
        return;
    // The scroll range must know of rows added a moment ago.
    executeDelayedItemsLayout();
    QScrollBar* bar = verticalScrollBar();
    const int top = bar->value(); // scrolling is per row: the first visible row
    const int rowHeight = std::max(1, verticalHeader()->defaultSectionSize());
    const int height = viewport()->height();
    const int full = std::max(1, height / rowHeight);
    const int shown = partialOk ? std::max(1, (height + rowHeight - 1) / rowHeight) : full;
    if (index < top)
        bar->setValue(index);
    else if (index >= top + shown)
        bar->setValue(index - full + 1);
}

void TListView::paintEvent(QPaintEvent* event) {
    Model->Invalidate();
    QTableView::paintEvent(event);
    PaintFocusRect();
}

// The focused row gets a frame of its own in a colour that stands out on it: the style's
// focus frame is drawn in the selection colour and vanishes on a selected row.
void TListView::PaintFocusRect() {
    const int row = FocusedIndex();
    if (row < 0 || row >= Model->rowCount() || !hasFocus())
        return;
    const int width = ColumnCount() > 0 ? horizontalHeader()->length() : viewport()->width();
    const QRectF rect(-horizontalOffset() + 0.5, rowViewportPosition(row) + 0.5, width - 1.0,
                      rowHeight(row) - 1.0);
    if (!rect.intersects(viewport()->rect()))
        return;
    const bool selected = ItemState(row) & (isSelected | isDropHilited);
    QPainter painter(viewport());
    QPen pen(palette().color(selected ? QPalette::HighlightedText : QPalette::Highlight), 1.0);
    if (selected)
        pen.setStyle(Qt::DotLine);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect);
}

void TListView::FocusRow(int row) {
    PutState(row, ItemState(row) | isFocused);
}

void TListView::ClickRow(int row, Qt::KeyboardModifiers modifiers) {
    const bool shift = modifiers & Qt::ShiftModifier;
    const bool control = modifiers & Qt::ControlModifier;
    if (row < 0) {
        if (!shift && !control)
            ClearSelection();
        return;
    }
    WithUpdate(*this, [&] {
        if (shift) {
            const int mark = SelectionMark() >= 0 ? SelectionMark() : row;
            SelectRange(mark, row, !control);
            FocusRow(row);
            SetSelectionMark(mark);
        } else if (control) {
            PutState(row, ItemState(row) ^ isSelected);
            FocusRow(row);
            SetSelectionMark(row);
        } else {
            SelectRange(row, row, true);
            FocusRow(row);
            SetSelectionMark(row);
        }
    });
}

// A right click keeps the selection when it hits a selected row, so the context menu acts
// on all of it.
void TListView::RightClickRow(int row) {
    if (row < 0)
        return;
    WithUpdate(*this, [&] {
        if (!(ItemState(row) & isSelected)) {
            SelectRange(row, row, true);
            SetSelectionMark(row);
        }
        FocusRow(row);
    });
}

void TListView::mousePressEvent(QMouseEvent* event) {
    const int row = RowAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton) {
        ClickRow(row, event->modifiers());
        DragSelecting = row >= 0 && !(event->modifiers() & Qt::ControlModifier);
        DragRow = row;
    } else if (event->button() == Qt::RightButton) {
        RightClickRow(row);
    }
    event->accept();
}

void TListView::mouseMoveEvent(QMouseEvent* event) {
    if (!DragSelecting || !(event->buttons() & Qt::LeftButton))
        return;
    DragY = event->position().toPoint().y();
    if (DragY < 0 || DragY >= viewport()->height()) {
        if (!AutoScrollTimer.isActive())
            AutoScrollTimer.start(50, this);
    } else {
        AutoScrollTimer.stop();
    }
    DragTo(DragY);
}

void TListView::DragTo(int y) {
    if (ItemCount() == 0)
        return;
    int row = TopIndex();
    if (y >= 0) {
        row = rowAt(std::min(y, viewport()->height() - 1));
        if (row < 0)
            row = ItemCount() - 1;
    }
    if (row == DragRow)
        return;
    DragRow = row;
    WithUpdate(*this, [&] {
        const int mark = SelectionMark() >= 0 ? SelectionMark() : row;
        SelectRange(mark, row, true);
        FocusRow(row);
        SetSelectionMark(mark);
    });
}

void TListView::timerEvent(QTimerEvent* event) {
    if (event->timerId() != AutoScrollTimer.timerId()) {
        QTableView::timerEvent(event);
        return;
    }
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(bar->value() + (DragY < 0 ? -1 : 1));
    DragTo(DragY);
}

void TListView::mouseReleaseEvent(QMouseEvent* event) {
    DragSelecting = false;
    AutoScrollTimer.stop();
    event->accept();
}

void TListView::mouseDoubleClickEvent(QMouseEvent* event) {
    const int row = RowAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && row >= 0)
        emit doubleClicked(Model->index(row, 0));
    event->accept();
}

int TListView::KeyTarget(int key) const {
    const int count = ItemCount();
    if (count == 0)
        return -1;
    const int focused = FocusedIndex();
    const int top = TopIndex();
    const int page = RowsPerPage();
    const int bottom = std::min(count - 1, top + page - 1);
    switch (key) {
    case Qt::Key_Up:
        return std::max(0, focused - 1);
    case Qt::Key_Down:
        return std::min(count - 1, focused + 1);
    case Qt::Key_Home:
        return 0;
    case Qt::Key_End:
        return count - 1;
    case Qt::Key_PageUp:
        // First to the top of the page, then a page further.
        if (focused > top && focused <= bottom)
            return top;
        return std::max(0, focused - std::max(1, page - 1));
    case Qt::Key_PageDown:
        if (focused >= top && focused < bottom)
            return bottom;
        return std::min(count - 1, std::max(focused, 0) + std::max(1, page - 1));
    default:
        return -1;
    }
}

void TListView::MoveFocusTo(int row, Qt::KeyboardModifiers modifiers) {
    WithUpdate(*this, [&] {
        if (modifiers & Qt::ShiftModifier) {
            const int mark = SelectionMark() >= 0 ? SelectionMark() : row;
            SelectRange(mark, row, !(modifiers & Qt::ControlModifier));
            FocusRow(row);
            SetSelectionMark(mark);
        } else if (modifiers & Qt::ControlModifier) {
            FocusRow(row); // the selection stays as it is
        } else {
            SelectRange(row, row, true);
            FocusRow(row);
            SetSelectionMark(row);
        }
    });
    MakeVisible(row, false);
}

void TListView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::SelectAll)) {
        SelectAll();
        event->accept();
        return;
    }
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    // Alt and Meta combinations are the window's shortcuts (Alt+Up moves entries up).
    if (modifiers & (Qt::AltModifier | Qt::MetaModifier)) {
        event->ignore();
        return;
    }
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        if (const int target = KeyTarget(event->key()); target >= 0)
            MoveFocusTo(target, modifiers);
        event->accept();
        return;
    case Qt::Key_Space:
        if (const int focused = FocusedIndex(); focused >= 0) {
            if (modifiers & Qt::ControlModifier)
                ClickRow(focused, Qt::ControlModifier);
            else
                ClickRow(focused, Qt::NoModifier);
        }
        event->accept();
        return;
    case Qt::Key_Left:
    case Qt::Key_Right:
        horizontalScrollBar()->triggerAction(event->key() == Qt::Key_Left
                                                 ? QAbstractSlider::SliderSingleStepSub
                                                 : QAbstractSlider::SliderSingleStepAdd);
        event->accept();
        return;
    default:
        break;
    }
    const QString text = event->text();
    if (!text.isEmpty() && text.at(0).isPrint() && !(modifiers & Qt::ControlModifier)) {
        keyboardSearch(text);
        event->accept();
        return;
    }
    event->ignore();
}

// Typing goes to the next row whose first column begins with what was typed; the same
// letter again steps through the rows that begin with it.
void TListView::keyboardSearch(const QString& search) {
    const int count = ItemCount();
    if (count == 0 || search.isEmpty())
        return;
    const bool restart =
        !SearchTimer.isValid() || SearchTimer.elapsed() > QApplication::keyboardInputInterval();
    SearchTimer.start();
    SearchText = restart ? search : SearchText + search;
    const bool repeated = SearchText.count(SearchText.at(0)) == SearchText.size();
    const QString prefix = repeated ? SearchText.left(1) : SearchText;
    const int focused = FocusedIndex();
    const int start = focused < 0 ? 0 : (restart || repeated ? focused + 1 : focused);
    TListItem item;
    for (int n = 0; n < count; ++n) {
        const int row = (start + n) % count;
        try {
            GetItemData(row, item);
        } catch (...) {
            continue;
        }
        if (QString::fromUtf8(item.Caption).startsWith(prefix, Qt::CaseInsensitive)) {
            MoveFocusTo(row, Qt::NoModifier);
            return;
        }
    }
}

void TListView::focusInEvent(QFocusEvent* event) {
    // Not QAbstractItemView's: it would make a current index in Qt's selection model.
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void TListView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void TListView::changeEvent(QEvent* event) {
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        UpdateRowHeight();
}

} // namespace Kiv_listviews
