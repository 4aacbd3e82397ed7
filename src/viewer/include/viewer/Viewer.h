#pragma once

#include "global/Session.h"
#include "imagelist/ListView.h"
#include "imaging/DicomViewer.h"

#include <QLocale>
#include <QString>

#include <optional>

class QWidget;

// Viewing and measuring: showing the image of the selected list row,
// measuring on it, saving the measured copy, renumbering and deleting.
//
// The commands cmdSave, cmdDelete and chkEdit are enabled only while the
// viewer shows the unmeasured image of the selected row of the current
// folder, so they never act on a measured copy, a preview or an image of a
// folder chosen since. Every handler reports its own failures and never
// throws; a failing step ends the handler with the window matching the disk.
// Rows carry their file's path as their Tag.
namespace viewer {

using session::Controls;
using session::Session;

// ---------------------------------------------------------------- display

// A mouse button was released over the list. button: 1 left, 2 right,
// 4 middle (bit set). The left button alone shows the row's unmeasured image,
// anything else its measured copy.
void lvwList_MouseUp(Session& s, const Controls& c, int button);

// The list's selection moved (mouse press, keyboard, code): the image
// commands are enabled exactly while the viewer shows the selected row's
// unmeasured image, so Enter never saves an image other than that row's.
void lvwList_SelectionChanged(Session& s, const Controls& c);

// The row step rows from the list's current one (+1 the next, -1 the
// previous); without a current row the first or the last. nullptr past
// either end.
QTreeWidgetItem* neighbourRow(const Controls& c, int step);

// The first row below the current one (from the top without a current row)
// that has no measured copy; nullptr when there is none.
QTreeWidgetItem* nextUnmeasuredRow(const Controls& c);

// Shows row's unmeasured image exactly as a left click on it does, with the
// row selected and scrolled into view.
void showRow(Session& s, const Controls& c, QTreeWidgetItem* row);

// Disables cmdSave, cmdDelete and chkEdit, switches renumbering off and
// empties the viewer Tag and the session's shown file. The window calls it
// whenever the viewer may show something other than the unmeasured image of
// the selected row: on every folder choice, after archiving, when the import
// dialog shows a preview.
void disableImageCommands(Session& s, const Controls& c);

// ---------------------------------------------------------------- measuring

// Arms the start-line pick: the main window gets the crosshair pointer.
void picStartLine_DblClick(Session& s, const Controls& c);

// A mouse press in the viewer; x, y in image pixels. With the pick armed it
// sets the start line to y; otherwise, on an unmeasured image, the left
// button adds a measurement and any other button takes the last one away.
// A point outside the image's pixels neither sets the start line (the
// operator is told) nor adds a measurement. shift is not looked at: a click
// with Shift held (the loupe shown) measures as any other.
void dvIMG_MouseEvent(Session& s, const Controls& c, int button, int shift, int x, int y);

// The guide the viewer draws with the pointer over image pixel (x, y): the
// line and length text a left click there would add, computed as that
// click does; none when such a click would add no measurement.
std::optional<imaging::MeasurementGuide> measurementGuide(Session& s, const Controls& c, int x,
                                                          int y);

// Ctrl+Z: takes the last measurement away as a right click does (clipboard
// cleared); both set it aside for redoMeasurement.
void undoMeasurement(Session& s, const Controls& c);
// Ctrl+Y: puts the measurement last taken away back, its number on the
// clipboard. Nothing is put back after a new measurement, on another image
// or after saving.
void redoMeasurement(Session& s, const Controls& c);

// Shows the current start-line value in the viewer; a value that is not a
// 32-bit whole number shows none.
void showStartLine(Session& s, const Controls& c);

// The measurements on an image for the operator to read: "Messwerte:" and
// one numbered line per measurement text in the order drawn; empty when
// there is none.
QString measurementSummary(const imaging::LabelList& labels);

// The line label of a measurement from the start line to (x, y), not yet
// bound to an image; nullopt when the start-line text is not a 32-bit whole
// number or the height overflows 32 bits.
std::optional<imaging::Label> measurementLine(const QString& startLine, int x, int y);

// The measured number: length rounded to one decimal (halves to even, on the
// single-precision value), in its shortest form with the locale's decimal
// separator and no group separator. (30.0, German) gives "30", 12.25 "12,2".
QString measurementNumber(double length, const QLocale& locale);
// The measurement text: the number, a blank, the unit ("12,2 mm").
QString measurementText(double length, const QString& unit, const QLocale& locale);

// ---------------------------------------------------------------- saving

// Writes the measured copy into Gemessen, marks the row and enters the
// measurements into the folder's record.
void cmdSave_Click(Session& s, const Controls& c);

// Saves as cmdSave_Click does; true when the measured copy was written.
bool saveShownImage(Session& s, const Controls& c);

// True when the viewer shows a row's unmeasured image whose measurements
// differ from those last saved or, not saved since it was shown, has any.
bool hasUnsavedMeasurements(const Session& s, const Controls& c);

// Asked before the shown image is left (another row, a folder, archiving,
// closing). With unsaved measurements the operator chooses: "Speichern"
// saves as cmdSave does, "Verwerfen" drops them, "Abbrechen" (the default)
// stays and puts the selection back on the shown image's row. True when the
// caller may go on: nothing unsaved, saved, or dropped.
bool confirmLeaving(Session& s, const Controls& c);

// True when name can be used as one file-name component on every system the
// workspace may move to: no path separator, no drive colon, none of
// < > " | ? *, no control character, no trailing dot or blank, no device name
// such as CON or COM1. Image numbers name measured copies and are free text,
// so one like "../Original/x" must not reach another folder.
bool isPlainFileName(const QString& name);

// ---------------------------------------------------------------- renumbering

// Enables txtEdit and cmdEdit while chkEdit is checked, disables them otherwise.
void chkEdit_Click(Session& s, const Controls& c);

// Gives the selected row's image the number in txtEdit and a new UID, writes it
// as a new file into Original and deletes the old file; the image's row of the
// record follows.
void cmdEdit_Click(Session& s, const Controls& c);

// At start: finishes or undoes a renumbering or an import that a kill or a
// power cut interrupted, so each image exists once and a renumbered image's
// record row follows it. Failures are reported on owner's window.
void completeInterruptedWork(QWidget* owner);

// ---------------------------------------------------------------- deleting

// After confirmation, moves the shown image's file into Papierkorb, erases its
// measured copy and removes its row from the list and from the record.
void cmdDelete_Click(Session& s, const Controls& c);

} // namespace viewer
