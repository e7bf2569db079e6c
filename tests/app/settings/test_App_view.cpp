// The view settings with a real window and the real list control (offscreen).
#include "App_common_settings.h"
#include "App_view.h"
#include "Kiv_forms_window.h"
#include "Kiv_listviews_window.h"
#include "TestWindowApplication.h"

#include <QHeaderView>
#include <QWidget>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

using namespace App_view;
using App_common::TMemIniFile;
using Kiv_listviews::TListView;

namespace {

// A settings file of its own per test, removed afterwards.
class TSettingsFile {
public:
    TSettingsFile()
        : Path((std::filesystem::temp_directory_path() /
                ("sorvik_view_" + std::to_string(::getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".ini"))
                   .string()) {
        std::filesystem::remove(Path);
    }
    ~TSettingsFile() { std::filesystem::remove(Path); }
    TSettingsFile(const TSettingsFile&) = delete;
    TSettingsFile& operator=(const TSettingsFile&) = delete;

    const std::string Path;
};

// The main window's share of the start-up: the window with its list, the three view
// settings objects, the columns built once, and the registry with their names.
struct TMainWindow {
    explicit TMainWindow(const std::string& settingsFile)
        : List(new TListView(&Window)), Form(Window), Settings(Form), View(Settings, *List),
          Commands(Settings), Handlers(settingsFile) {
        Window.setGeometry(100, 80, 619, 509);
        List->setGeometry(5, 5, 601, 401);
        Settings.OnChange(&Settings);
        Handlers.Add(&Settings, "ViewSettings");
        Handlers.Add(&View, "ViewSettingsView");
        Handlers.Add(&Commands, "ViewSettingsCommands");
    }

    std::vector<std::string> Captions() const {
        std::vector<std::string> captions;
        for (int i = 0; i < List->ColumnCount(); ++i)
            captions.push_back(List->Column(i).Caption);
        return captions;
    }
    std::vector<int> Widths() const {
        std::vector<int> widths;
        for (int i = 0; i < List->ColumnCount(); ++i)
            widths.push_back(List->horizontalHeader()->sectionSize(i));
        return widths;
    }
    // As the user drags the divider after the column.
    void Drag(int column, int width) { List->horizontalHeader()->resizeSection(column, width); }

    QWidget Window;
    TListView* List; // owned by the window
    Kiv_forms::TWidgetForm Form;
    TViewSettings Settings;
    TViewSettingsView View;
    TViewSettingsCommands Commands;
    App_common::TSettingsHandlers Handlers;
};

using Strings = std::vector<std::string>;

class ViewSettingsTest : public ::testing::Test {
protected:
    TestApplication::TTestWindowApplication App;
    TSettingsFile File;
};

TEST(ScanFields, MembersAndStoredForm) {
    EXPECT_EQ(sfPath, 0);
    EXPECT_EQ(sfName, 2);
    EXPECT_EQ(sfGroup, 13);
    static_assert(sizeof(TScanFields) == 2);
    EXPECT_EQ(TScanFields::FromBits(0xFFFF).Bits(), 0x3FFF);
    EXPECT_EQ(FieldsToString(DefaultScanFields), "01100000000011");
    EXPECT_EQ(StringToFields("10000000000001"), (TScanFields{sfPath, sfGroup}));
    EXPECT_EQ(StringToFields("0x0000000000000000"), (TScanFields{sfDirectory}));
    EXPECT_THROW(StringToFields("1"), Kiv_framework::ERangeError);
}

TEST(ScanFields, ColumnOfAShownField) {
    const TScanFields fields{sfGroup, sfPath, sfName, sfSize};
    EXPECT_EQ(ShownFieldAt(fields, 0), sfName);
    EXPECT_EQ(ShownFieldAt(fields, 1), sfPath);
    EXPECT_EQ(ShownFieldAt(fields, 2), sfSize);
    EXPECT_EQ(ShownFieldAt(fields, 3), sfGroup);
    EXPECT_EQ(ShownFieldAt(fields, 4), std::nullopt);
    EXPECT_EQ(ShownFieldAt(TScanFields(), 0), std::nullopt);
    EXPECT_EQ(ColumnOfField(DefaultScanFields, sfGroup), 3);
    EXPECT_EQ(ColumnOfField(DefaultScanFields, sfName), 0);
    EXPECT_EQ(ColumnOfField(DefaultScanFields, sfSize), std::nullopt);
}

TEST_F(ViewSettingsTest, FirstStartShowsFourColumns) {
    TMainWindow main(File.Path);
    main.Handlers.LoadAll(); // no file yet
    EXPECT_EQ(main.Captions(), (Strings{"Name", "Directory", "Priority", "Group"}));
    EXPECT_EQ(main.Widths(), (std::vector<int>{200, 100, 100, 100}));
    EXPECT_EQ(main.Settings.GetFields(), DefaultScanFields);
}

TEST_F(ViewSettingsTest, ColumnsFollowTheDisplayOrderAndAlignment) {
    TMainWindow main(File.Path);
    main.Commands.ToggleSizeField();
    main.Commands.TogglePathField();
    EXPECT_EQ(main.Captions(), (Strings{"Name", "Path", "Directory", "Size", "Priority", "Group"}));
    main.Commands.ToggleHashField();
    main.Commands.TogglePathField();
    main.Commands.TogglePathField();
    EXPECT_EQ(main.Captions(),
              (Strings{"Name", "Path", "Directory", "Size", "Hash", "Priority", "Group"}));
    for (int i = 0; i < main.List->ColumnCount(); ++i) {
        const bool right =
            main.List->Column(i).Caption == "Size" || main.List->Column(i).Caption == "Group";
        EXPECT_EQ(main.List->Column(i).Alignment,
                  right ? Kiv_listviews::taRightJustify : Kiv_listviews::taLeftJustify)
            << main.List->Column(i).Caption;
    }
    EXPECT_TRUE(main.Commands.CanToggleAttributesField());
}

TEST_F(ViewSettingsTest, AHiddenColumnGetsItsDraggedWidthBack) {
    TMainWindow main(File.Path);
    main.Drag(1, 250); // Directory
    main.Drag(0, 150); // Name
    main.Commands.ToggleDirectoryField();
    EXPECT_EQ(main.Captions(), (Strings{"Name", "Priority", "Group"}));
    EXPECT_EQ(main.Widths(), (std::vector<int>{150, 100, 100}));
    main.Commands.ToggleDirectoryField();
    EXPECT_EQ(main.Widths(), (std::vector<int>{150, 250, 100, 100}));
}

TEST_F(ViewSettingsTest, FieldsWidthsAndPlacementSurviveARestart) {
    {
        TMainWindow main(File.Path);
        main.Handlers.LoadAll();
        main.Commands.ToggleSizeField();
        main.Drag(0, 230);
        main.Drag(2, 75);  // Size
        main.Drag(4, 333); // Group
        main.Window.setGeometry(40, 50, 700, 500);
        main.Handlers.SaveAll();
    }
    TMainWindow main(File.Path);
    main.Handlers.LoadAll();
    EXPECT_EQ(main.Captions(), (Strings{"Name", "Directory", "Size", "Priority", "Group"}));
    EXPECT_EQ(main.Widths(), (std::vector<int>{230, 100, 75, 100, 333}));
    EXPECT_EQ(main.Window.geometry(), QRect(40, 50, 700, 500));

    const TMemIniFile ini(File.Path);
    EXPECT_EQ(ini.ReadString("ViewSettings", "Fields", ""), "01100100000011");
    EXPECT_EQ(ini.ReadString("ViewSettings.Form", "Right", ""), "740");
    EXPECT_EQ(ini.ReadString("ViewSettingsView", "FieldWidths[2]", ""), "230");
    EXPECT_EQ(ini.ReadString("ViewSettingsView", "FieldWidths[13]", ""), "333");
    EXPECT_EQ(ini.ReadString("ViewSettingsView", "FieldWidths[0]", ""), "100");
    EXPECT_FALSE(ini.SectionExists("ViewSettingsCommands"));
}

TEST_F(ViewSettingsTest, ZeroFieldsShowNoColumnsAndNoCommandBringsTheFixedOnesBack) {
    {
        TMemIniFile ini(File.Path);
        ini.WriteString("ViewSettings", "Fields", "00000000000000");
        ini.UpdateFile();
    }
    TMainWindow main(File.Path);
    main.Handlers.LoadAll();
    EXPECT_EQ(main.List->ColumnCount(), 0);
    EXPECT_EQ(main.List->model()->columnCount(), 0);
    main.Commands.TogglePathField();
    main.Commands.ToggleDirectoryField();
    main.Commands.ToggleBaseNameField();
    main.Commands.ToggleExtensionField();
    main.Commands.ToggleSizeField();
    main.Commands.ToggleTypeField();
    main.Commands.ToggleCreationTimeField();
    main.Commands.ToggleLastWriteTimeField();
    main.Commands.ToggleLastAccessTimeField();
    main.Commands.ToggleAttributesField();
    main.Commands.ToggleHashField();
    EXPECT_EQ(main.Settings.GetFields(), TScanFields::FromBits(0x0FFB));
    EXPECT_EQ(main.Captions(), (Strings{"Path", "Directory", "Base name", "Extension", "Size",
                                        "Type", "Creation time", "Last write time",
                                        "Last access time", "Attributes", "Hash"}));
}

TEST_F(ViewSettingsTest, BadStoredValues) {
    {
        TMemIniFile ini(File.Path);
        ini.WriteString("ViewSettings.Form", "Left", "abc");
        ini.WriteString("ViewSettings.Form", "Top", "0x20");
        ini.WriteString("ViewSettingsView", "FieldWidths[2]", "wide");
        ini.WriteString("ViewSettingsView", "FieldWidths[1]", "0");
        ini.UpdateFile();
    }
    TMainWindow main(File.Path);
    main.Handlers.LoadAll();
    EXPECT_EQ(main.Window.geometry().topLeft(), QPoint(100, 32)); // Left kept, Top read
    EXPECT_EQ(main.Widths(), (std::vector<int>{200, 0, 100, 100}));

    {
        TMemIniFile ini(File.Path);
        ini.WriteString("ViewSettings", "Fields", "1");
        ini.UpdateFile();
    }
    TMainWindow other(File.Path);
    EXPECT_THROW(other.Handlers.LoadAll(), Kiv_framework::ERangeError);
}

TEST_F(ViewSettingsTest, TheMaximisedStateIsNotStored) {
    {
        TMainWindow main(File.Path);
        main.Window.setGeometry(60, 70, 500, 400);
        main.Window.show();
        main.Window.showMaximized();
        ASSERT_TRUE(main.Window.isMaximized());
        main.Handlers.SaveAll();
    }
    const TMemIniFile ini(File.Path);
    EXPECT_EQ(ini.ReadString("ViewSettings.Form", "Left", ""), "60");
    EXPECT_EQ(ini.ReadString("ViewSettings.Form", "Bottom", ""), "470");
    TMainWindow main(File.Path);
    main.Handlers.LoadAll();
    main.Window.show();
    EXPECT_FALSE(main.Window.isMaximized());
    EXPECT_EQ(main.Window.geometry(), QRect(60, 70, 500, 400));
}

TEST_F(ViewSettingsTest, ChangesReachTheViewOnlyWhenTheSetDiffers) {
    TMainWindow main(File.Path);
    int changes = 0;
    main.Settings.OnChange = [&](TViewSettings* sender) {
        EXPECT_EQ(sender, &main.Settings);
        ++changes;
    };
    main.Settings.SetFields(DefaultScanFields);
    EXPECT_EQ(changes, 0);
    main.Settings.SetFields(TScanFields{sfName});
    EXPECT_EQ(changes, 1);
}

} // namespace
