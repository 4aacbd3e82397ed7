#pragma once

#include "Viewer.h"

#include <QString>

#include <functional>

class QTreeWidgetItem;

// State the viewer commands share, kept on the window's own controls.
namespace viewer::state {

inline const QString kOriginalTag = QStringLiteral("ORIGINAL");

// The first selected row of the list, or nullptr.
QTreeWidgetItem* selectedRow(const Controls& c);

// The selected row when the viewer shows that row's unmeasured image (viewer
// Tag "ORIGINAL", image 1 read from the row's stored file), else nullptr.
QTreeWidgetItem* shownRow(const Controls& c);

// The row whose stored file is the viewer's unmeasured image, wherever the
// selection is; nullptr when the viewer shows no row's unmeasured image.
QTreeWidgetItem* rowOfShownFile(const Controls& c);

// Tells the operator that a command needs the selected row's image shown
// first, and switches the image commands off.
void refuseWithoutShownRow(const Controls& c);

// Marks the viewer as showing the unmeasured image read from path, or as
// showing nothing that the commands may act on (empty path).
void setShownFile(const Controls& c, const QString& path);

// Enables or disables cmdSave, cmdDelete and chkEdit. Disabling also switches
// renumbering off.
void setImageCommands(const Controls& c, bool enabled);

// Reads path into the emptied viewer as the unmeasured image of the selected
// row and enables the commands. Throws when the file cannot be read; the
// viewer is then empty and the commands disabled.
void showUnmeasuredFile(const Controls& c, const QString& path);

// Caption "Kalvara | " + number box text, with "  (" + first Pixel Spacing
// value + ")" when image 1 has a Pixel Spacing.
void setNumberCaption(const Controls& c);

// Runs a change of the measurement record. A failure leaves the record as it
// was and is reported as a warning: done (what the command did all the same)
// and the cause.
void changeRecord(const Controls& c, const QString& done, const std::function<void()>& change);

// The measurement folder's subfolder paths.
QString originalFolder(const Controls& c);
QString measuredFolder(const Controls& c);
QString recycleFolder(const Controls& c);

} // namespace viewer::state
