#include "app/Layout.h"

namespace layout {

namespace {
std::optional<int> sizeOrRefused(int value) {
    if (value < 0)
        return std::nullopt;
    return value;
}
} // namespace

Placement placeForWindow(int outerWidth, int outerHeight, int panelWidth) {
    Placement p;
    p.panelTop = 0;
    p.panelLeft = outerWidth - panelWidth - 130;
    p.panelHeight = sizeOrRefused(outerHeight - 500);
    p.viewerLeft = 0;
    p.viewerTop = 0;
    p.viewerWidth = sizeOrRefused(outerWidth - panelWidth);
    p.viewerHeight = sizeOrRefused(outerHeight - p.viewerTop - 550);
    return p;
}

void apply(const Placement& p, Rect& panel, Rect& viewer) {
    panel.top = p.panelTop;
    panel.left = p.panelLeft;
    if (p.panelHeight)
        panel.height = *p.panelHeight;
    viewer.left = p.viewerLeft;
    viewer.top = p.viewerTop;
    if (p.viewerWidth)
        viewer.width = *p.viewerWidth;
    if (p.viewerHeight)
        viewer.height = *p.viewerHeight;
}

} // namespace layout
