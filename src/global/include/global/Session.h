#pragma once

#include <QObject>
#include <QString>
#include <QVariant>

#include <functional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QWidget;

namespace imaging {
class DicomViewer;
}
namespace imagelist {
class ListView;
}

// The main window's state and controls as every handler receives them:
// handler(Session&, const Controls&, event arguments...).
namespace session {

// What the main window knows beyond what its controls show. The window owns
// one; handlers read and change it, nothing else keeps such state.
struct Session {
    // The measurement folder chosen in the selector; "/" separators, no trailing "/".
    QString currentFolder;
    // The file the viewer's unmeasured image was read from; empty while the
    // viewer shows nothing the image commands may act on.
    QString shownFile;
    // The measurements of the shown file as last saved, or none when it has
    // not been saved since it was shown; in the form viewer::state gives them.
    QString savedMeasurements;
    // The newest list load started; a load that finds a newer one stops.
    quint64 loadGeneration = 0;
    // A list load is under way and has hidden the list.
    bool loading = false;
    // The newest selector rebuild started; a rebuild that finds a newer one stops.
    quint64 selectorRebuilds = 0;
};

// The main window's controls the handlers work on.
struct Controls {
    QWidget* form = nullptr;                // the main window: caption and mouse pointer
    QComboBox* cboDone = nullptr;           // the folder selector
    imagelist::ListView* lvwList = nullptr; // rows: image number, "X"/"-", Tag the file
    QProgressBar* prgBar = nullptr;         // stands in the list's place while it loads
    imaging::DicomViewer* dvIMG = nullptr;  // viewer Tag "ORIGINAL" while measuring is allowed
    QLineEdit* txtEdit = nullptr;           // the image number of the clicked row
    QCheckBox* chkEdit = nullptr;           // switches renumbering on and off
    QPushButton* cmdEdit = nullptr;         // renumbers
    QPushButton* cmdDelete = nullptr;       // deletes
    QPushButton* cmdSave = nullptr;         // saves the measured copy
    QPushButton* cmdCloseStudy = nullptr;   // archives; its Tag is the stored study date
};

// A handler as another part runs it on the window's behalf (the import
// dialog on its previews and on closing).
using Handler = std::function<void(Session&, const Controls&)>;

// The Tag text a control carries, kept as a property so that anything
// holding the control can read it.
inline constexpr char kTagProperty[] = "Tag";
inline QString tag(const QObject* control) {
    return control->property(kTagProperty).toString();
}
inline void setTag(QObject* control, const QString& text) {
    control->setProperty(kTagProperty, text);
}

} // namespace session
