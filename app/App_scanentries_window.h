// The images of the entry list: the priority images (the small image of a row) and the
// group-state images (its state image), in the index order the entries use.
#pragma once

#include "Kiv_listviews_window.h"

namespace App_scanentries {

// Index 0 primary, 1 secondary.
Kiv_listviews::TImageList MakePriorityImages();
// Index 0 not yet scanned, 1 unique, 2 in a group.
Kiv_listviews::TImageList MakeGroupStateImages();

} // namespace App_scanentries
