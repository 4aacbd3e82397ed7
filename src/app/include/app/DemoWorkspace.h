#pragma once

#include <QDate>
#include <QImage>
#include <QString>

// A small demo day for a first start: synthetic ultrasound-like images in the
// current measurement and two bitmaps waiting for import.
namespace demo {

// A grey ultrasound-like picture (sector, speckle, fat and muscle layers),
// the same for the same seed.
QImage ultrasoundPicture(int width, int height, int seed);

// True when the workspace has no measurement folder and no waiting bitmap.
bool isEmptyWorkspace(const QString& root);

// Fills an empty workspace; returns false and touches nothing when it is not
// empty. Throws imaging::ImagingError or modGlobal::FileSystemError on a
// failed write. cows > 0 gives that many images, numbered from 2001 on,
// instead of the five of the small demo day.
bool fillWorkspace(const QString& root, const QDate& studyDate, int cows = 0);

} // namespace demo
