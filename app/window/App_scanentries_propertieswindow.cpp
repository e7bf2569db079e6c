#include "App_common.h"
#include "App_scanentries_window.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace App_scanentries {

namespace {

QString Text(const std::string& text) {
    // A name that is not UTF-8 is shown with replacement characters.
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A field that shows its text whole, can be selected and copied, and cannot be edited.
QLineEdit* ValueField(const std::string& text, QWidget* parent) {
    auto* field = new QLineEdit(Text(text), parent);
    field->setReadOnly(true);
    field->setFrame(false);
    field->setCursorPosition(0);
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    field->setPalette(palette);
    const int width = field->fontMetrics().horizontalAdvance(field->text()) + 12;
    field->setMinimumWidth(std::min(width, 520));
    return field;
}

} // namespace

TFilePropertiesWindow::TFilePropertiesWindow(const std::string& path,
                                             const std::vector<TFileProperty>& properties,
                                             QWidget* owner)
    : QDialog(owner) {
    setAttribute(Qt::WA_DeleteOnClose);
    const std::size_t slash = path.rfind('/');
    setWindowTitle(Text(slash == std::string::npos ? path : path.substr(slash + 1)) +
                   QStringLiteral(" Properties"));
    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignLeft);
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    form->setHorizontalSpacing(16);
    for (const TFileProperty& property : properties)
        form->addRow(new QLabel(Text(property.Label), this), ValueField(property.Text, this));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addStretch();
    layout->addWidget(buttons);
    setSizeGripEnabled(true);
}

bool ShowFilePropertiesWindow(const std::string& path, QWidget* owner) {
    std::vector<TFileProperty> properties;
    try {
        properties = ReadFileProperties(path);
    } catch (const App_common::EAppError&) {
        return false;
    }
    auto* window = new TFilePropertiesWindow(path, properties, owner);
    window->show();
    window->raise();
    window->activateWindow();
    return true;
}

} // namespace App_scanentries
