#include "import/ImportDialog.h"

#include "core/Names.h"
#include "global/Durable.h"
#include "imaging/DicomViewer.h"
#include "imaging/Values.h"
#include "import/Conversion.h"
#include "settings/modINI.h"

#include <QDateEdit>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <optional>

namespace importer {

using modGlobal::StepReport;

namespace {

const QString kKeep =
    QStringLiteral("Die Datei bleibt im Verzeichnis %1.").arg(core::names::kWaiting);

int px(int twips) {
    return twips / core::names::kTwipsPerPixel;
}

QRect twips(int left, int top, int width, int height) {
    return QRect(px(left), px(top), px(width), px(height));
}

// A control named for the object tree, at its place on the dialog, in its font.
template <class Control, class... Arguments>
Control* makeControl(QWidget* dialog, const char* name, const QRect& place, const QFont& font,
                     Arguments&&... arguments) {
    auto* control = new Control(std::forward<Arguments>(arguments)..., dialog);
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(place);
    control->setFont(font);
    return control;
}

// Reads the bitmap at path into image; one that cannot be read is reported
// as skipped.
bool readBitmap(QWidget* owner, const QString& path, imaging::Image& image) {
    return modGlobal::guarded(
        owner, QStringLiteral("Das Einlesen der Datei „%1“").arg(QFileInfo(path).fileName()),
        [&] { image.importBitmap(path, QStringLiteral("BMP")); },
        StepReport::critical(kKeep + QStringLiteral(" Sie wird übersprungen.")));
}

} // namespace

void openImportDialog(session::Session& s, const session::Controls& c, session::Handler closed,
                      session::Handler previewShown) {
    // Without a position of its own a dialog is centred on its owner's window.
    frmNoDCM dialog(s, c, std::move(closed), std::move(previewShown));
    dialog.exec();
}

frmNoDCM::frmNoDCM(session::Session& s, const session::Controls& c, session::Handler closed,
                   session::Handler previewShown)
    : QDialog(c.form), m_session(s), m_controls(c), m_closed(std::move(closed)),
      m_previewShown(std::move(previewShown)) {
    setObjectName(QStringLiteral("frmNoDCM"));
    setWindowTitle(QStringLiteral("Bild importieren"));
    setFont(modGlobal::tahoma(9.75, false));
    setFixedSize(px(3945), px(4530));
    createControls();
    connect(tmrWork, &QTimer::timeout, this, [this] { tmrWork_Timer(); });
    connect(cmdImport, &QPushButton::clicked, this, [this] { cmdImport_Click(); });
    Form_Load();
}

void frmNoDCM::createControls() {
    const QFont caption = modGlobal::tahoma(11.25, true);
    const QFont input = modGlobal::tahoma(11.25, false);

    lblInfo = makeControl<QLabel>(this, "lblInfo", twips(225, 225, 3495, 270), caption,
                                  QStringLiteral("Bild X von Y"));
    lblInfo->setAlignment(Qt::AlignCenter);
    lblNoDCM[2] = makeControl<QLabel>(this, "lblNoDCM", twips(225, 810, 1275, 270), caption,
                                      QStringLiteral("Dateiname:"));
    lblFileName = makeControl<QLabel>(this, "lblFileName", twips(1980, 810, 1725, 285), font(),
                                      QStringLiteral("-"));
    lblNoDCM[3] = makeControl<QLabel>(this, "lblNoDCM", twips(180, 1485, 1500, 270), caption,
                                      QStringLiteral("Pixelspacing:"));
    txtPixelSpacing =
        makeControl<QLineEdit>(this, "txtPixelSpacing", twips(1935, 1485, 1815, 330), input);
    lblNoDCM[1] = makeControl<QLabel>(this, "lblNoDCM", twips(180, 2205, 1620, 270), caption,
                                      QStringLiteral("Studiendatum:"));

    dtpStudyDate = makeControl<QDateEdit>(this, "dtpStudyDate", twips(1935, 2160, 1815, 375), input,
                                          QDate(2011, 1, 10));
    dtpStudyDate->setDateRange(kFirstStudyDate, kLastStudyDate);
    dtpStudyDate->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    dtpStudyDate->setCalendarPopup(true);

    lblNoDCM[0] = makeControl<QLabel>(this, "lblNoDCM", twips(225, 2925, 1395, 270), caption,
                                      QStringLiteral("Kuhnummer:"));
    txtNumber = makeControl<QLineEdit>(this, "txtNumber", twips(1935, 2880, 1815, 330), font());
    for (std::size_t i = 0; i < lblNoDCM.size(); ++i)
        lblNoDCM[i]->setProperty("Index", static_cast<int>(i));

    cmdImport =
        makeControl<QPushButton>(this, "cmdImport", twips(180, 3600, 3570, 735),
                                 modGlobal::tahoma(9.75, true), QStringLiteral("Importieren"));
    cmdImport->setDefault(true);
    session::setTag(cmdImport, QString());

    tmrWork = new QTimer(this);
    tmrWork->setObjectName(QStringLiteral("tmrWork"));
    tmrWork->setSingleShot(true);
    tmrWork->setInterval(1);

    setTabOrder(txtPixelSpacing, dtpStudyDate);
    setTabOrder(dtpStudyDate, txtNumber);
    setTabOrder(txtNumber, cmdImport);
}

void frmNoDCM::Form_Load() {
    // One listing gives both the files and their count.
    try {
        m_files = modGlobal::fso().Files(modGlobal::workspaceRoot() + QLatin1Char('/') +
                                         core::names::kWaiting);
    } catch (const std::exception& e) {
        m_loadFailure = QString::fromUtf8(e.what());
    }
    tmrWork->start();
    // Read even when the listing failed: closing writes the box back.
    txtPixelSpacing->setText(modINI::ReadIniValue(core::names::kSection,
                                                  core::names::kPixelSpacingKey, QString(),
                                                  modINI::settingsFile(), 256));
}

void frmNoDCM::tmrWork_Timer() {
    tmrWork->stop();
    if (m_unloaded)
        return;
    if (!m_loadFailure.isEmpty()) {
        done(QDialog::Rejected);
        modGlobal::reportFailure(parentWidget(), QStringLiteral("Das Einlesen der externen Bilder"),
                                 m_loadFailure);
        return;
    }
    if (m_files.isEmpty()) {
        done(QDialog::Rejected);
        modGlobal::MsgBox(parentWidget(),
                          QStringLiteral("Es befinden sich keine externen Bilder im Verzeichnis."),
                          modGlobal::Icon::Information);
        return;
    }
    m_position = 1;
    ImportImage();
    if (m_unloaded)
        return;
    if (!txtPixelSpacing->text().isEmpty()) {
        txtPixelSpacing->setFocus();
        txtPixelSpacing->selectAll();
    }
}

void frmNoDCM::ImportImage() {
    // No path of a file presented before may stay current.
    session::setTag(cmdImport, QString());
    for (; m_position >= 1 && m_position <= m_files.size(); ++m_position) {
        const modGlobal::FileEntry entry = m_files.at(m_position - 1);
        imaging::Image image;
        if (!readBitmap(this, entry.path, image))
            continue;

        if (imaging::DicomViewer* viewer = m_controls.dvIMG) {
            viewer->images().clear();
            viewer->images().add(image);
        }
        if (m_previewShown)
            m_previewShown(m_session, m_controls);
        lblInfo->setText(QStringLiteral("Bild %1 von %2").arg(m_position).arg(m_files.size()));
        lblFileName->setText(entry.name);
        if (!m_studyDateSet) {
            const QString stored = modINI::ReadIniValue(
                core::names::kSection, core::names::kStudyDateKey,
                generalDateText(entry.lastModified), modINI::settingsFile(), 256);
            dtpStudyDate->setDate(initialStudyDate(stored, entry.lastModified));
            m_studyDateSet = true;
        }
        session::setTag(cmdImport, entry.path);
        txtNumber->clear();
        txtNumber->setFocus();
        return;
    }
    done(QDialog::Rejected);
}

void frmNoDCM::cmdImport_Click() {
    const QString bitmap = session::tag(cmdImport);
    if (m_unloaded || bitmap.isEmpty())
        return;
    const QString name = QFileInfo(bitmap).fileName();
    // The box keeps the text as typed (it is stored so); the file gets a valid DS.
    const std::optional<QString> spacing = pixelSpacingValue(txtPixelSpacing->text());
    if (!spacing) {
        modGlobal::MsgBox(this,
                          QStringLiteral("Das Pixelspacing „%1“ ist ungültig.\n\nBitte geben Sie "
                                         "den Zeilen- und den Spaltenabstand in mm als zwei Zahlen "
                                         "größer als 0 ein, getrennt durch einen Backslash, zum "
                                         "Beispiel 0,2\\0,2, oder für quadratische Pixel eine "
                                         "Zahl, zum Beispiel 0,2. Ein leeres Feld lässt das "
                                         "Pixelspacing weg.")
                              .arg(txtPixelSpacing->text()),
                          modGlobal::Icon::Warning);
        txtPixelSpacing->setFocus();
        txtPixelSpacing->selectAll();
        return;
    }

    if (!imaging::isPatientId(txtNumber->text())) {
        modGlobal::MsgBox(this,
                          QStringLiteral("Die Kuhnummer „%1“ ist ungültig.\n\n%2")
                              .arg(txtNumber->text(), imaging::kPatientIdRule),
                          modGlobal::Icon::Warning);
        txtNumber->setFocus();
        txtNumber->selectAll();
        return;
    }

    imaging::Image image;
    // A bitmap that has become unreadable since it was presented is skipped.
    if (!readBitmap(this, bitmap, image)) {
        advance();
        return;
    }
    if (!modGlobal::guarded(
            this, QStringLiteral("Das Umwandeln der Datei „%1“").arg(name),
            [&] {
                describeImage(image, txtNumber->text(), *spacing, QDateTime::currentDateTime());
            },
            StepReport::critical(kKeep)))
        return;

    const QString folder = measurementFolder(modGlobal::workspaceRoot(), dtpStudyDate->date());
    if (!modGlobal::guarded(
            this, QStringLiteral("Das Anlegen des Messordners für „%1“").arg(name),
            [&] { createMeasurementFolder(folder); }, StepReport::critical(kKeep)))
        return;
    const QString target = folder + QLatin1Char('/') + core::names::kOriginal + QLatin1Char('/') +
                           image.imageUid() + QStringLiteral(".dcm");
    // From before the image is written until the bitmap is gone, a journal
    // lets the next start finish an import cut off in between, so the bitmap
    // is not imported a second time.
    std::optional<durable::Replacement> journal;
    if (!modGlobal::guarded(
            this, QStringLiteral("Das Speichern der Datei „%1“ als DICOM-Bild").arg(name),
            [&] {
                journal.emplace(target, bitmap, false);
                image.write(target, true);
            },
            StepReport::critical(kKeep)))
        return;
    // The image is written: the run moves on even when the bitmap cannot be
    // deleted, so it is not converted twice.
    modGlobal::guarded(
        this, QStringLiteral("Das Löschen der Datei „%1“").arg(name),
        [&] { modGlobal::fso().RemoveFile(bitmap, false); },
        StepReport::critical(
            QStringLiteral("Das DICOM-Bild wurde als „%1“ gespeichert. ").arg(target) + kKeep +
            QStringLiteral(" Bitte entfernen Sie sie, damit sie nicht ein zweites Mal "
                           "importiert wird.")));
    journal.reset();
    advance();
}

void frmNoDCM::advance() {
    ++m_position;
    if (m_position > m_files.size())
        done(QDialog::Accepted);
    else
        ImportImage();
}

void frmNoDCM::done(int result) {
    if (!m_unloaded) {
        m_unloaded = true;
        tmrWork->stop();
        Form_Unload();
    }
    QDialog::done(result);
}

void frmNoDCM::Form_Unload() {
    if (m_closed)
        m_closed(m_session, m_controls);
    const QString file = modINI::settingsFile();
    // A settings write that fails keeps the old value; it is not worth
    // interrupting the operator for.
    modINI::WritePrivateProfileString(core::names::kSection, core::names::kPixelSpacingKey,
                                      txtPixelSpacing->text(), file);
    modINI::WritePrivateProfileString(core::names::kSection, core::names::kStudyDateKey,
                                      dtpStudyDate->date().toString(QStringLiteral("dd.MM.yyyy")),
                                      file);
}

} // namespace importer
