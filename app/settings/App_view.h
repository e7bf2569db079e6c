// The view settings: which entry fields the list shows, how wide their columns are and
// where the main window sits. TViewSettings is the model (fields and placement),
// TViewSettingsView builds the list columns from it and keeps the widths, and
// TViewSettingsCommands shows and hides the optional fields.
#pragma once

#include "App_common.h"
#include "Kiv_forms.h"
#include "Kiv_framework.h"
#include "Kiv_listviews.h"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

namespace App_view {

// The entry fields the list can show. The order is the bit order of the set, the
// character order of the stored "Fields" string and the index of the "FieldWidths[%d]"
// keys; columns appear in ScanFieldDisplayOrder instead.
enum TScanField : std::uint8_t {
    sfPath = 0,
    sfDirectory = 1,
    sfName = 2,
    sfBaseName = 3,
    sfExtension = 4,
    sfSize = 5,
    sfType = 6,
    sfCreationTime = 7,
    sfLastWriteTime = 8,
    sfLastAccessTime = 9,
    sfAttributes = 10,
    sfHash = 11,
    sfPriority = 12,
    sfGroup = 13,
};

constexpr int ScanFieldCount = 14;

// Left to right: Name first, then the others in field order.
constexpr std::array<TScanField, ScanFieldCount> ScanFieldDisplayOrder = {
    sfName,       sfPath, sfDirectory,    sfBaseName,      sfExtension,
    sfSize,       sfType, sfCreationTime, sfLastWriteTime, sfLastAccessTime,
    sfAttributes, sfHash, sfPriority,     sfGroup};

const char* ScanFieldCaption(TScanField field);
// Size and Group are right-aligned, the others left-aligned.
Kiv_listviews::TAlignment ScanFieldAlignment(TScanField field);

// A set of TScanField in 16 bits (bit k for member k); the two bits above member 13 are
// always 0.
class TScanFields {
public:
    static constexpr std::uint16_t AllBits = (1u << ScanFieldCount) - 1;

    constexpr TScanFields() = default;
    constexpr TScanFields(std::initializer_list<TScanField> members) {
        for (const TScanField member : members)
            Include(member);
    }
    static constexpr TScanFields FromBits(std::uint32_t bits) {
        TScanFields result;
        result.FBits = static_cast<std::uint16_t>(bits & AllBits);
        return result;
    }

    constexpr std::uint16_t Bits() const { return FBits; }
    constexpr bool Empty() const { return FBits == 0; }
    constexpr bool Contains(TScanField member) const {
        return member < ScanFieldCount && (FBits & (1u << member)) != 0;
    }
    constexpr void Include(TScanField member) {
        if (member < ScanFieldCount)
            FBits = static_cast<std::uint16_t>(FBits | (1u << member));
    }
    constexpr void Exclude(TScanField member) {
        if (member < ScanFieldCount)
            FBits = static_cast<std::uint16_t>(FBits & ~(1u << member));
    }

    friend constexpr bool operator==(TScanFields a, TScanFields b) { return a.FBits == b.FBits; }

private:
    std::uint16_t FBits = 0;
};

// The start value: Directory, Name, Priority and Group.
constexpr TScanFields DefaultScanFields{sfDirectory, sfName, sfPriority, sfGroup};

// The stored form: 14 characters, "1" for a member, "0" for one that is not.
std::string FieldsToString(TScanFields fields);
// Characters 1 to 14; any character but "0" is a member; a shorter text raises
// Kiv_framework::ERangeError.
TScanFields StringToFields(const std::string& text);

// The field shown in a column of a list showing these fields, none for a column past
// the last.
std::optional<TScanField> ShownFieldAt(TScanFields fields, int column);
// The other way: the column showing the field; none while it is hidden.
std::optional<int> ColumnOfField(TScanFields fields, TScanField field);

class TViewSettings : public App_common::TModel {
public:
    // The window whose placement is stored; not owned.
    explicit TViewSettings(Kiv_forms::TCustomForm& form);

    // The placement ("Left", "Top", "Right", "Bottom" in section ".Form") and then
    // "Fields", each with the current value as default.
    void Load(App_common::TMemIniFile& iniFile, const std::string& section) override;
    void Save(App_common::TMemIniFile& iniFile, const std::string& section) override;
    // Raises OnChange with the settings as sender; nothing when the slot is empty.
    virtual void Changed();

    Kiv_forms::TCustomForm& Form() const { return FForm; }
    TScanFields GetFields() const { return FFields; }
    // Stores the set and calls Changed, only when it differs.
    void SetFields(TScanFields fields);

    Kiv_framework::TEvent<TViewSettings*> OnChange;

private:
    Kiv_forms::TCustomForm& FForm;
    TScanFields FFields = DefaultScanFields;
};

class TViewSettingsView : public App_common::TView {
public:
    // Puts its SettingsChanged into the settings' OnChange.
    TViewSettingsView(TViewSettings& settings, Kiv_listviews::TCustomListView& listView);

    // "FieldWidths[0]" to "FieldWidths[13]", then the columns are built anew.
    void Load(App_common::TMemIniFile& iniFile, const std::string& section) override;
    void Save(App_common::TMemIniFile& iniFile, const std::string& section) override;
    virtual void SettingsChanged(TViewSettings* sender);

    // Takes the widths of the columns shown now (also those the user dragged); a field
    // not shown keeps the width it had when last shown.
    void CaptureWidths();
    // One column per field of the settings, in display order, inside one update bracket.
    void RebuildColumns();

    std::int32_t Width(TScanField field) const { return Widths[field]; }
    // Whether the settings held a column width: false on a first start, when the window
    // fits the columns to their contents instead.
    bool WidthsStored() const { return FWidthsStored; }

private:
    TViewSettings& Settings;
    Kiv_listviews::TCustomListView& ListView;
    TScanFields FShownFields;
    std::array<std::int32_t, ScanFieldCount> Widths;
    bool FWidthsStored = false;
};

// The show/hide command of each optional field; Name, Priority and Group have none.
class TViewSettingsCommands : public App_common::TCommands {
public:
    explicit TViewSettingsCommands(TViewSettings& settings) : Settings(settings) {}

    virtual void TogglePathField();
    virtual bool CanTogglePathField();
    virtual void ToggleDirectoryField();
    virtual bool CanToggleDirectoryField();
    virtual void ToggleBaseNameField();
    virtual bool CanToggleBaseNameField();
    virtual void ToggleExtensionField();
    virtual bool CanToggleExtensionField();
    virtual void ToggleSizeField();
    virtual bool CanToggleSizeField();
    virtual void ToggleTypeField();
    virtual bool CanToggleTypeField();
    virtual void ToggleCreationTimeField();
    virtual bool CanToggleCreationTimeField();
    virtual void ToggleLastWriteTimeField();
    virtual bool CanToggleLastWriteTimeField();
    virtual void ToggleLastAccessTimeField();
    virtual bool CanToggleLastAccessTimeField();
    virtual void ToggleAttributesField();
    virtual bool CanToggleAttributesField();
    virtual void ToggleHashField();
    virtual bool CanToggleHashField();

private:
    void Run(bool available, TScanField field);
    void ToggleField(TScanField field);

    TViewSettings& Settings;
};

} // namespace App_view
