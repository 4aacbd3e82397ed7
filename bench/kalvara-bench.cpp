// Timed runs over generated data. "--list N" writes N ultrasound-sized DICOM
// images into a temporary measurement folder and times loading the image
// list of the main window against reading the same files whole and against
// the floor of opening each file and reading its first 4 KB.

#include "Imaging.h"
#include "ListView.h"
#include "frmMain.h"
#include "modGlobal.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

int usage() {
    std::fprintf(stderr, "Aufruf: kalvara-bench --list N   (N > 0)\n");
    return 2;
}

// An 8-bit grey bitmap as the import dialog receives it.
QString writeBitmap(const QString& folder) {
    QImage bitmap(kWidth, kHeight, QImage::Format_Indexed8);
    QList<QRgb> grey;
    for (int i = 0; i < 256; ++i)
        grey.append(qRgb(i, i, i));
    bitmap.setColorTable(grey);
    for (int y = 0; y < kHeight; ++y) {
        uchar* line = bitmap.scanLine(y);
        for (int x = 0; x < kWidth; ++x)
            line[x] = static_cast<uchar>((x * 7 + y * 3) % 256);
    }
    const QString path = folder + QStringLiteral("/bild.bmp");
    if (!bitmap.save(path, "BMP"))
        throw imaging::ImagingError(QStringLiteral("Bitmap %1 nicht schreibbar.").arg(path));
    return path;
}

// Writes count images named by their UIDs; every third has a measured copy.
QStringList writeImages(const QString& folder, const QString& bitmap, int count) {
    imaging::Image image;
    image.importBitmap(bitmap, QStringLiteral("BMP"));
    imaging::UidGenerator uids;
    QStringList paths;
    for (int i = 1; i <= count; ++i) {
        const QString uid = uids.newUid();
        image.setImageNumber(QString::number(i));
        image.setImageUid(uid);
        const QString path = folder + QStringLiteral("/Original/") + uid + QStringLiteral(".dcm");
        image.write(path, true);
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

void readPrefixes(const QStringList& paths, qint64 bytes) {
    for (const QString& path : paths) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            file.read(bytes);
    }
}

int benchList(int count) {
    QTemporaryDir root;
    if (!root.isValid()) {
        std::fprintf(stderr, "Kein temporärer Ordner: %s\n", qPrintable(root.errorString()));
        return 1;
    }
    modGlobal::setWorkspaceRoot(root.path());
    int messages = 0;
    modGlobal::setMessageHandler([&messages](const modGlobal::Message& m) {
        ++messages;
        std::fprintf(stderr, "Meldung: %s\n", qPrintable(m.text));
        return modGlobal::Answer::Ok;
    });
    const QString folder = root.path() + QStringLiteral("/Messungen/Messung");
    QDir().mkpath(folder + QStringLiteral("/Original"));
    QDir().mkpath(folder + QStringLiteral("/Gemessen"));
    const QStringList paths = writeImages(folder, writeBitmap(root.path()), count);

    // Every timed pass below finds the files in the page cache.
    readWhole(paths);

    frmMain window;
    window.show();
    window.strCurrentFolder = folder;
    QElapsedTimer timer;
    timer.start();
    window.LoadImageList();
    const qint64 listNs = timer.nsecsElapsed();
    if (window.lvwList->topLevelItemCount() != count || messages != 0) {
        std::fprintf(stderr, "Die Liste hat %d statt %d Zeilen, %d Meldungen.\n",
                     window.lvwList->topLevelItemCount(), count, messages);
        return 1;
    }

    timer.restart();
    imaging::ImageCollection collection;
    for (const QString& path : paths) {
        collection.clear();
        collection.readFile(path);
    }
    const qint64 wholeNs = timer.nsecsElapsed();

    timer.restart();
    readPrefixes(paths, 4096);
    const qint64 prefixNs = timer.nsecsElapsed();

    std::printf("list %d files: %.0f ms, whole-file reads: %.0f ms, 4 KB reads: %.0f ms, "
                "ratio: %.1f\n",
                count, listNs / 1e6, wholeNs / 1e6, prefixNs / 1e6,
                static_cast<double>(wholeNs) / static_cast<double>(listNs));
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    bool ok = false;
    const int count =
        args.size() == 3 && args[1] == QStringLiteral("--list") ? args[2].toInt(&ok) : 0;
    if (!ok || count <= 0)
        return usage();
    try {
        return benchList(count);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
