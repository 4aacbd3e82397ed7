#pragma once

// A temporary workspace whose current measurement holds generated images,
// with the real main window showing its list.

#include "app/frmMain.h"

#include <QStringList>
#include <QTemporaryDir>

enum class Kind {
    Grey, // 640 × 480 8-bit grey, imported from a bitmap as the operator does
    Rgb,  // 1024 × 768 RGB, uncompressed
    Cine  // 640 × 480 RGB, 20 frames of irreversible JPEG 2000
};

struct Bench {
    QTemporaryDir root;
    QString folder;
    QStringList paths;
    frmMain window;
    int messages = 0;

    // count images of the kind, every third with a measured copy, all of
    // them in the page cache.
    Bench(int count, Kind kind);

    // Loads the list and waits until it shows every image; false after a
    // message or with rows missing.
    bool load();
    // The longest time between two turns of the event loop while the list
    // loads, from the call until every row is shown.
    qint64 longestPauseNs();
    // A left click on row i as the operator does it, then the viewer painted.
    void clickRow(int i);
};

// Reads each file's first bytes, the floor of any list.
void readPrefixes(const QStringList& paths, qint64 bytes);
