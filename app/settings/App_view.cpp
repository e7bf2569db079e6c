#include "App_view.h"

#include <cstdio>

namespace App_view {

using App_common::TMemIniFile;
using Kiv_listviews::TAlignment;

namespace {

const char* const FormSuffix = ".Form";

std::string WidthKey(std::size_t field) {
    char key[32];
    std::snprintf(key, sizeof key, "FieldWidths[%zu]", field);
    return key;
}

} // namespace

const char* ScanFieldCaption(TScanField field) {
    static const char* const Captions[ScanFieldCount] = {"Path",
                                                         "Directory",
                                                         "Name",
                                                         "Base name",
                                                         "Extension",
                                                         "Size",
                                                         "Type",
                                                         "Creation time",
                                                         "Last write time",
                                                         "Last access time",
                                                         "Attributes",
                                                         "Hash",
                                                         "Priority",
                                                         "Group"};
    return field < ScanFieldCount ? Captions[field] : "";
}

TAlignment ScanFieldAlignment(TScanField field) {
    return field == sfSize || field == sfGroup ? Kiv_listviews::taRightJustify
                                               : Kiv_listviews::taLeftJustify;
}

std::string FieldsToString(TScanFields fields) {
    return App_common::SetToFlagString(fields.Bits(), ScanFieldCount);
}

TScanFields StringToFields(const std::string& text) {
    return TScanFields::FromBits(App_common::FlagStringToSet(text, ScanFieldCount));
}

std::optional<TScanField> ShownFieldAt(TScanFields fields, int column) {
    int shown = 0;
    for (const TScanField field : ScanFieldDisplayOrder) {
        if (!fields.Contains(field))
            continue;
        if (shown == column)
            return field;
        ++shown;
    }
    return std::nullopt;
}

std::optional<int> ColumnOfField(TScanFields fields, TScanField field) {
    if (!fields.Contains(field))
        return std::nullopt;
    // The shown fields before it in display order.
    int column = 0;
    for (const TScanField shown : ScanFieldDisplayOrder) {
        if (shown == field)
            break;
        if (fields.Contains(shown))
            ++column;
    }
    return column;
}

// ---------------------------------------------------------------------------------------
// TViewSettings

TViewSettings::TViewSettings(Kiv_forms::TCustomForm& form) : FForm(form) {}

void TViewSettings::Load(TMemIniFile& iniFile, const std::string& section) {
    const std::string formSection = section + FormSuffix;
    Kiv_forms::TRect rect = Kiv_forms::GetFormNormalRect(FForm);
    rect.Left = iniFile.ReadInteger(formSection, "Left", rect.Left);
    rect.Top = iniFile.ReadInteger(formSection, "Top", rect.Top);
    rect.Right = iniFile.ReadInteger(formSection, "Right", rect.Right);
    rect.Bottom = iniFile.ReadInteger(formSection, "Bottom", rect.Bottom);
    Kiv_forms::SetFormNormalRect(FForm, rect);
    SetFields(StringToFields(iniFile.ReadString(section, "Fields", FieldsToString(FFields))));
}

void TViewSettings::Save(TMemIniFile& iniFile, const std::string& section) {
    const std::string formSection = section + FormSuffix;
    const Kiv_forms::TRect rect = Kiv_forms::GetFormNormalRect(FForm);
    iniFile.WriteInteger(formSection, "Left", rect.Left);
    iniFile.WriteInteger(formSection, "Top", rect.Top);
    iniFile.WriteInteger(formSection, "Right", rect.Right);
    iniFile.WriteInteger(formSection, "Bottom", rect.Bottom);
    iniFile.WriteString(section, "Fields", FieldsToString(FFields));
}

void TViewSettings::Changed() {
    OnChange(this);
}

void TViewSettings::SetFields(TScanFields fields) {
    if (fields == FFields)
        return;
    FFields = fields;
    Changed();
}

// ---------------------------------------------------------------------------------------
// TViewSettingsView

TViewSettingsView::TViewSettingsView(TViewSettings& settings,
                                     Kiv_listviews::TCustomListView& listView)
    : Settings(settings), ListView(listView) {
    Widths.fill(100);
    Widths[sfName] = 200;
    Settings.OnChange.Bind(this, &TViewSettingsView::SettingsChanged);
}

void TViewSettingsView::Load(TMemIniFile& iniFile, const std::string& section) {
    CaptureWidths();
    for (std::size_t field = 0; field < Widths.size(); ++field) {
        FWidthsStored = FWidthsStored || iniFile.ValueExists(section, WidthKey(field));
        Widths[field] = iniFile.ReadInteger(section, WidthKey(field), Widths[field]);
    }
    RebuildColumns();
}

void TViewSettingsView::Save(TMemIniFile& iniFile, const std::string& section) {
    CaptureWidths();
    for (std::size_t field = 0; field < Widths.size(); ++field)
        iniFile.WriteInteger(section, WidthKey(field), Widths[field]);
}

void TViewSettingsView::SettingsChanged(TViewSettings*) {
    CaptureWidths();
    RebuildColumns();
}

void TViewSettingsView::CaptureWidths() {
    int column = 0;
    for (const TScanField field : ScanFieldDisplayOrder) {
        if (!FShownFields.Contains(field))
            continue;
        // Columns the list lost some other way keep their last width.
        if (column < ListView.ColumnCount())
            Widths[field] = ListView.ColumnWidth(column);
        ++column;
    }
    FShownFields = Settings.GetFields();
}

void TViewSettingsView::RebuildColumns() {
    const TScanFields fields = Settings.GetFields();
    Kiv_listviews::WithUpdate(ListView, [&] {
        ListView.ClearColumns();
        for (const TScanField field : ScanFieldDisplayOrder)
            if (fields.Contains(field))
                ListView.AddColumn(
                    {ScanFieldCaption(field), ScanFieldAlignment(field), Widths[field]});
    });
}

// ---------------------------------------------------------------------------------------
// TViewSettingsCommands

void TViewSettingsCommands::ToggleField(TScanField field) {
    TScanFields fields = Settings.GetFields();
    if (fields.Contains(field))
        fields.Exclude(field);
    else
        fields.Include(field);
    Settings.SetFields(fields);
}

// Each command re-checks its query, which always allows it.
void TViewSettingsCommands::Run(bool available, TScanField field) {
    if (!available)
        Unavailable();
    ToggleField(field);
}

void TViewSettingsCommands::TogglePathField() {
    Run(CanTogglePathField(), sfPath);
}
bool TViewSettingsCommands::CanTogglePathField() {
    return true;
}
void TViewSettingsCommands::ToggleDirectoryField() {
    Run(CanToggleDirectoryField(), sfDirectory);
}
bool TViewSettingsCommands::CanToggleDirectoryField() {
    return true;
}
void TViewSettingsCommands::ToggleBaseNameField() {
    Run(CanToggleBaseNameField(), sfBaseName);
}
bool TViewSettingsCommands::CanToggleBaseNameField() {
    return true;
}
void TViewSettingsCommands::ToggleExtensionField() {
    Run(CanToggleExtensionField(), sfExtension);
}
bool TViewSettingsCommands::CanToggleExtensionField() {
    return true;
}
void TViewSettingsCommands::ToggleSizeField() {
    Run(CanToggleSizeField(), sfSize);
}
bool TViewSettingsCommands::CanToggleSizeField() {
    return true;
}
void TViewSettingsCommands::ToggleTypeField() {
    Run(CanToggleTypeField(), sfType);
}
bool TViewSettingsCommands::CanToggleTypeField() {
    return true;
}
void TViewSettingsCommands::ToggleCreationTimeField() {
    Run(CanToggleCreationTimeField(), sfCreationTime);
}
bool TViewSettingsCommands::CanToggleCreationTimeField() {
    return true;
}
void TViewSettingsCommands::ToggleLastWriteTimeField() {
    Run(CanToggleLastWriteTimeField(), sfLastWriteTime);
}
bool TViewSettingsCommands::CanToggleLastWriteTimeField() {
    return true;
}
void TViewSettingsCommands::ToggleLastAccessTimeField() {
    Run(CanToggleLastAccessTimeField(), sfLastAccessTime);
}
bool TViewSettingsCommands::CanToggleLastAccessTimeField() {
    return true;
}
void TViewSettingsCommands::ToggleAttributesField() {
    Run(CanToggleAttributesField(), sfAttributes);
}
bool TViewSettingsCommands::CanToggleAttributesField() {
    return true;
}
void TViewSettingsCommands::ToggleHashField() {
    Run(CanToggleHashField(), sfHash);
}
bool TViewSettingsCommands::CanToggleHashField() {
    return true;
}

} // namespace App_view
