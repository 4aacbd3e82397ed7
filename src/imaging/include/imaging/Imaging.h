#pragma once

// The DICOM imaging boundary: image collections, images, attributes, labels,
// the UID generator and the viewer. No DCMTK type appears in its headers.

#include "imaging/Attribute.h"
#include "imaging/DicomViewer.h"
#include "imaging/Image.h"
#include "imaging/ImageCollection.h"
#include "imaging/ImagingError.h"
#include "imaging/Initialise.h"
#include "imaging/Label.h"
#include "imaging/LabelPainter.h"
#include "imaging/UidGenerator.h"
#include "imaging/Values.h"
