#pragma once

#include "Imaging.h"

class QPainter;

namespace imaging {

// Draws the labels with the painter set up in image pixel coordinates; the
// viewer and the burned-in copy share it, so both show the same picture.
void paintLabels(QPainter& painter, const LabelList& labels);

} // namespace imaging
