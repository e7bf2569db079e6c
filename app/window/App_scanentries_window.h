// The images of the entry list: the priority images (the small image of a row) and the
// group-state images (its state image), in the index order the entries use. And the
// program's own properties window of a file.
#pragma once

#include "App_scanentries_properties.h"
#include "Kiv_listviews_window.h"

#include <QDialog>
#include <QPainterPath>
#include <string>
#include <vector>

namespace App_scanentries {

// Index 0 primary, 1 secondary.
Kiv_listviews::TImageList MakePriorityImages();
// The star of the priority images on their 16 by 16 grid; the priority commands' tool
// buttons draw it too.
QPainterPath PriorityStar();
// Index 0 not yet scanned, 1 unique, 2 in a group.
Kiv_listviews::TImageList MakeGroupStateImages();

// A file's properties, read-only: labels on the left, the texts in selectable fields on
// the right, and Close. The window is not modal and deletes itself when closed.
class TFilePropertiesWindow : public QDialog {
public:
    TFilePropertiesWindow(const std::string& path, const std::vector<TFileProperty>& properties,
                          QWidget* owner = nullptr);
};

// Reads the file's properties and shows them in a new window beside owner; false when the
// file cannot be read.
bool ShowFilePropertiesWindow(const std::string& path, QWidget* owner);

} // namespace App_scanentries
