#include "App_common_window.h"
#include "App_scan_window.h"
#include "ui_AppProgressDialog.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>
#include <optional>

namespace App_scan {

namespace {

constexpr QChar BreakOpportunity(0x200B); // zero width space

// Lets a word wider than the line (a long file name) break anywhere, as the label would
// otherwise clip it; words that fit keep breaking between words only.
QString BreakLongWords(const QString& text, const QFontMetrics& metrics, int width) {
    QString result;
    result.reserve(text.size());
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = start;
        while (end < text.size() && !text[end].isSpace())
            ++end;
        const QStringView word = QStringView(text).mid(start, end - start);
        if (metrics.horizontalAdvance(word.toString()) <= width) {
            result += word;
        } else {
            for (qsizetype i = 0; i < word.size(); ++i) {
                result += word[i];
                // Never between the two halves of a surrogate pair.
                if (i + 1 < word.size() && !word[i].isHighSurrogate())
                    result += BreakOpportunity;
            }
        }
        while (end < text.size() && text[end].isSpace())
            result += text[end++];
        start = end;
    }
    return result;
}

// Holds back the user's input to every window while it lives: a modal dialog not shown yet.
// Painting, resizing and the windows' other events go on.
class TInputHold : public QObject {
public:
    TInputHold() { QCoreApplication::instance()->installEventFilter(this); }
    ~TInputHold() override { QCoreApplication::instance()->removeEventFilter(this); }
    TInputHold(const TInputHold&) = delete;
    TInputHold& operator=(const TInputHold&) = delete;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::ContextMenu:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
        case QEvent::TouchBegin:
        case QEvent::TabletPress:
            return true;
        case QEvent::Close:
            // The window manager's close box waits for the dialog, as it would if shown.
            if (event->spontaneous()) {
                event->ignore();
                return true;
            }
            return false;
        default:
            return false;
        }
    }
};

std::unique_ptr<TAppProgressDialog> Instance;

void DeleteInstance() {
    Instance.reset();
}

} // namespace

TAppProgressDialog::TAppProgressDialog(QWidget* parent)
    : QDialog(parent), Form(std::make_unique<Ui::AppProgressDialog>()) {
    Form->setupUi(this);
    Label1 = Form->Label1;
    ProgressBar1 = Form->ProgressBar1;
    Button1 = Form->Button1;
    connect(Button1, &QPushButton::clicked, this, &QDialog::reject);
    App_common::SetDialogFrame(*this);
    App_common::ScaleDesign(*this);
    // Room for three lines of status whatever the font.
    Label1->setFixedHeight(
        std::max(Label1->minimumHeight(), 3 * Label1->fontMetrics().lineSpacing()));
}

TAppProgressDialog::~TAppProgressDialog() = default;

Kiv_dialogs::TModalResult TAppProgressDialog::Execute() {
    ModalResult = Kiv_dialogs::mrNone;
    App_common::CenterOnActiveWindow(*this);
    Button1->setFocus();
    exec();
    return ModalResult;
}

Kiv_dialogs::TModalResult TAppProgressDialog::ExecuteDelayed(int showDelayMs) {
    if (showDelayMs <= 0)
        return Execute();
    ModalResult = Kiv_dialogs::mrNone;
    // Until the dialog shows; then its modality holds the other windows' input, and its
    // own Cancel and Esc must reach it.
    std::optional<TInputHold> hold(std::in_place);
    QEventLoop loop;
    const QMetaObject::Connection ended =
        connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    QTimer shower;
    shower.setSingleShot(true);
    connect(&shower, &QTimer::timeout, this, [this, &hold] {
        if (ModalResult == Kiv_dialogs::mrOk)
            return;
        hold.reset();
        setWindowModality(Qt::ApplicationModal);
        App_common::CenterOnActiveWindow(*this);
        show();
        Button1->setFocus();
    });
    shower.start(showDelayMs);
    loop.exec(QEventLoop::DialogExec);
    disconnect(ended);
    // Closed as exec() closes it: a dialog shown without exec() stays up through done().
    hide();
    return ModalResult;
}

void TAppProgressDialog::Finish() {
    // The dialog keeps the last status it was given.
    ShowText();
    done(Accepted);
}

void TAppProgressDialog::done(int result) {
    ModalResult = result == Accepted ? Kiv_dialogs::mrOk : Kiv_dialogs::mrCancel;
    bool canClose = true;
    FormCloseQuery(this, canClose);
    if (canClose)
        QDialog::done(result);
    else
        ModalResult = Kiv_dialogs::mrNone;
}

void TAppProgressDialog::FormCloseQuery(QObject*, bool& canClose) {
    canClose = false;
    if (ModalResult != Kiv_dialogs::mrOk) {
        DoCancel();
        return;
    }
    if (QWidget* focus = focusWidget())
        focus->clearFocus();
    canClose = true;
}

void TAppProgressDialog::SetProgress(int position, int max) {
    ProgressBar1->setMaximum(max);
    ProgressBar1->setValue(position);
}

bool TAppProgressDialog::IsComplete() const {
    return ProgressBar1->maximum() > 0 && ProgressBar1->value() == ProgressBar1->maximum();
}

void TAppProgressDialog::SetText(const std::string& text) {
    Text = text;
    if (TextPending)
        return;
    // A scan sets a status per file, far more often than a screen shows: the label takes
    // the latest one at the event loop's next turn, before anything is painted.
    TextPending = true;
    QMetaObject::invokeMethod(
        this, [this] { ShowText(); }, Qt::QueuedConnection);
}

void TAppProgressDialog::ShowText() {
    if (!TextPending)
        return;
    TextPending = false;
    const QString shown = QString::fromUtf8(Text.data(), static_cast<qsizetype>(Text.size()));
    Label1->setText(BreakLongWords(shown, Label1->fontMetrics(), Label1->width()));
}

void TAppProgressDialog::SetCaption(const std::string& caption) {
    setWindowTitle(QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())));
}

TAppProgressDialog& AppProgressDialog() {
    if (!Instance) {
        Instance = std::make_unique<TAppProgressDialog>();
        qAddPostRoutine(DeleteInstance);
    }
    return *Instance;
}

} // namespace App_scan
