#pragma once

#include "viewer/Viewer.h"

#include <QString>

class QTreeWidgetItem;

// What the viewer commands share: reading the session and the controls.
namespace viewer::state {

inline const QString kOriginalTag = QStringLiteral("ORIGINAL");

// The step that changes the measurement record after a command's file work.
// Its failure leaves the record as it was and is reported as a warning that
// says what the command did all the same.
inline const QString kRecordOperation = QStringLiteral("Das Ändern der Messwerttabelle");

// The first selected row of the list, or nullptr.
QTreeWidgetItem* selectedRow(const Controls& c);

// The selected row when the viewer shows that row's unmeasured image (viewer
// Tag "ORIGINAL", image 1 read from the row's stored file), else nullptr.
QTreeWidgetItem* shownRow(const Session& s, const Controls& c);

// The row whose stored file is the viewer's unmeasured image, wherever the
// selection is; nullptr when the viewer shows no row's unmeasured image.
QTreeWidgetItem* rowOfShownFile(const Session& s, const Controls& c);

// Tells the operator that a command needs the selected row's image shown
// first, and switches the image commands off.
void refuseWithoutShownRow(const Controls& c);

// Switches renumbering on or off: chkEdit's check, txtEdit and cmdEdit.
void setRenumbering(const Controls& c, bool on);

// Enables or disables cmdSave, cmdDelete and chkEdit. Disabling also switches
// renumbering off.
void setImageCommands(const Controls& c, bool enabled);

// Reads path into the emptied viewer as the unmeasured image of the selected
// row, with no measurements to save yet, and enables the commands. Throws
// when the file cannot be read; the viewer is then empty and the commands
// disabled.
void showUnmeasuredFile(Session& s, const Controls& c, const QString& path);

// The measurement lines on image as one text, the same for the same lines in
// the same order; the saved-state marker of the session compares it.
QString measurementsKey(const imaging::Image& image);

// Caption "Kalvara | " + number box text, with "  (" + first Pixel Spacing
// value + ")" when image 1 has a Pixel Spacing.
void setNumberCaption(const Controls& c);

// The measurement folder's subfolder paths.
QString originalFolder(const Session& s);
QString measuredFolder(const Session& s);
QString recycleFolder(const Session& s);

} // namespace viewer::state
