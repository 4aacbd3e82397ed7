#pragma once

#include "core/Names.h"

#include <QRect>

#include <optional>

// The main window's layout rule, in twips (15 per pixel).
namespace layout {

inline constexpr int kPanelWidth = 2895;

constexpr int toPixels(int twips) {
    return twips / core::names::kTwipsPerPixel;
}
constexpr int toTwips(int pixels) {
    return pixels * core::names::kTwipsPerPixel;
}

struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// A control's geometry in twips and back in pixels.
inline Rect toTwips(const QRect& pixels) {
    return {toTwips(pixels.x()), toTwips(pixels.y()), toTwips(pixels.width()),
            toTwips(pixels.height())};
}
inline QRect toPixels(const Rect& twips) {
    return QRect(toPixels(twips.left), toPixels(twips.top), toPixels(twips.width),
                 toPixels(twips.height));
}

// The values the rule assigns for an outer window size; an assignment the
// control would refuse (a negative width or height) is absent.
struct Placement {
    int panelTop = 0;
    int panelLeft = 0;
    std::optional<int> panelHeight;
    int viewerLeft = 0;
    int viewerTop = 0;
    std::optional<int> viewerWidth;
    std::optional<int> viewerHeight;
};

Placement placeForWindow(int outerWidth, int outerHeight, int panelWidth = kPanelWidth);

// Applies a placement to the current geometry of panel and viewer: refused
// assignments keep the previous value.
void apply(const Placement& p, Rect& panel, Rect& viewer);

} // namespace layout
