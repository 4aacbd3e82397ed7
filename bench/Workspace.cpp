#include "Workspace.h"

#include "DicomFixtures.h"
#include "global/modGlobal.h"
#include "imaging/Imaging.h"
#include "viewer/Viewer.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcmetinf.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QMouseEvent>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {

// An 8-bit grey bitmap as the import dialog receives it.
QString writeBitmap(const QString& folder) {
    constexpr int width = 640;
    constexpr int height = 480;
    QImage bitmap(width, height, QImage::Format_Indexed8);
    QList<QRgb> grey;
    for (int i = 0; i < 256; ++i)
        grey.append(qRgb(i, i, i));
    bitmap.setColorTable(grey);
    for (int y = 0; y < height; ++y) {
        uchar* line = bitmap.scanLine(y);
        for (int x = 0; x < width; ++x)
            line[x] = static_cast<uchar>((x * 7 + y * 3) % 256);
    }
    const QString path = folder + QStringLiteral("/bild.bmp");
    if (!bitmap.save(path, "BMP"))
        throw imaging::ImagingError(QStringLiteral("Bitmap %1 nicht schreibbar.").arg(path));
    return path;
}

// Copies of an image the program wrote, each with its own number and UIDs,
// saved by DCMTK without the program's sync of every file, so that 50,000
// images are written in minutes.
void writeCopy(DcmFileFormat& image, const QString& path, const QString& number,
               const QString& uid) {
    const QByteArray id = uid.toLatin1();
    DcmDataset& data = *image.getDataset();
    if (data.putAndInsertString(DCM_PatientID, number.toLatin1().constData()).bad() ||
        data.putAndInsertString(DCM_SOPInstanceUID, id.constData()).bad() ||
        image.getMetaInfo()
            ->putAndInsertString(DCM_MediaStorageSOPInstanceUID, id.constData())
            .bad() ||
        image.saveFile(QFile::encodeName(path).constData(), EXS_LittleEndianExplicit).bad())
        throw imaging::ImagingError(QStringLiteral("%1 nicht schreibbar.").arg(path));
}

// Writes count images named by their UIDs, numbered 1 to count.
QStringList writeImages(const QString& root, const QString& folder, int count, Kind kind) {
    imaging::UidGenerator uids;
    DcmFileFormat grey;
    QStringList paths;
    for (int i = 1; i <= count; ++i) {
        const QString uid = uids.newUid();
        const QString path = folder + QStringLiteral("/Original/") + uid + QStringLiteral(".dcm");
        if (kind == Kind::Grey && i == 1) {
            imaging::Image image;
            image.importBitmap(writeBitmap(root), QStringLiteral("BMP"));
            image.setImageNumber(QStringLiteral("1"));
            image.setImageUid(uid);
            image.write(path, true);
            if (grey.loadFile(QFile::encodeName(path).constData()).bad())
                throw imaging::ImagingError(QStringLiteral("%1 nicht lesbar.").arg(path));
        } else if (kind == Kind::Grey) {
            writeCopy(grey, path, QString::number(i), uid);
        } else {
            const bool cine = kind == Kind::Cine;
            fixtures::writeVariant(path, {.base = {.patientId = QString::number(i),
                                                   .sopInstanceUid = uid,
                                                   .width = cine ? 640 : 1024,
                                                   .height = cine ? 480 : 768},
                                          .encoding = cine ? fixtures::Encoding::Jpeg2000
                                                           : fixtures::Encoding::ExplicitLittle,
                                          .colour = fixtures::Colour::Rgb,
                                          .frames = cine ? 20 : 1});
        }
        paths.append(path);
        if (i % 3 == 0) {
            QFile measured(folder + QStringLiteral("/Gemessen/") + QString::number(i) +
                           QStringLiteral(".dcm"));
            if (!measured.open(QIODevice::WriteOnly))
                throw imaging::ImagingError(
                    QStringLiteral("%1 nicht schreibbar.").arg(measured.fileName()));
        }
    }
    return paths;
}

void readWhole(const QStringList& paths) {
    for (const QString& path : paths) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            file.readAll();
    }
}

} // namespace

void readPrefixes(const QStringList& paths, qint64 bytes) {
    for (const QString& path : paths) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            file.read(bytes);
    }
}

Bench::Bench(int count, Kind kind) {
    if (!root.isValid())
        throw imaging::ImagingError(QStringLiteral("Kein temporärer Ordner."));
    modGlobal::setWorkspaceRoot(root.path());
    modGlobal::setMessageHandler([this](const modGlobal::Message& m) {
        ++messages;
        std::fprintf(stderr, "Meldung: %s\n", qPrintable(m.text));
        return modGlobal::Answer::Ok;
    });
    folder = root.path() + QStringLiteral("/Messungen/Messung");
    QDir().mkpath(folder + QStringLiteral("/Original"));
    QDir().mkpath(folder + QStringLiteral("/Gemessen"));
    paths = writeImages(root.path(), folder, count, kind);
    readWhole(paths);
    window.show();
    window.session.currentFolder = folder;
}

bool Bench::load() {
    // A list filled in the background is complete once it shows every row.
    window.lvwList->clear();
    window.LoadImageList();
    const QDeadlineTimer deadline(std::chrono::minutes(10));
    while (window.lvwList->topLevelItemCount() != paths.size() && messages == 0 &&
           !deadline.hasExpired()) {
        QEventLoop wait;
        QTimer::singleShot(1, &wait, &QEventLoop::quit);
        wait.exec();
    }
    if (window.lvwList->topLevelItemCount() == paths.size() && messages == 0)
        return true;
    std::fprintf(stderr, "Die Liste hat %d statt %lld Zeilen, %d Meldungen.\n",
                 window.lvwList->topLevelItemCount(), static_cast<long long>(paths.size()),
                 messages);
    return false;
}

qint64 Bench::longestPauseNs() {
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    const auto turn = [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    };
    // A 1 ms timer fires at every turn of a live event loop.
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, turn);
    tick.start();
    clock.start();
    if (!load())
        return -1;
    turn();
    return longest;
}

void Bench::clickRow(int i) {
    QTreeWidgetItem* row = window.lvwList->topLevelItem(i);
    window.lvwList->setCurrentItem(row);
    const QPointF at = window.lvwList->visualItemRect(row).center();
    QMouseEvent release(QEvent::MouseButtonRelease, at, window.lvwList->viewport()->mapToGlobal(at),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.lvwList->viewport(), &release);
    window.dvIMG->repaint();
}
