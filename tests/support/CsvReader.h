#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The rows of a ";"-separated UTF-8 file as Python's csv module reads it, so
// tests see the file as another program does. Empty, with a test failure
// reported, when python3 cannot read it.
QList<QStringList> csvRows(const QString& path);
