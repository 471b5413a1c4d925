#pragma once

// The colours a list draws its focus and selection with, chosen from the palette so that they
// stay visible in light, dark and high-contrast schemes alike.

#include <QColor>
#include <QPalette>

namespace KavriVendorEmp::platform {

/// The contrast ratio of two colours, 1 to 21, from their relative luminances (sRGB).
double contrastRatio(const QColor &a, const QColor &b);

/// The selection fill of a list without the focus: the highlight blended into the base, so that
/// only the focused list's selection shows at full strength.
QColor mutedHighlight(const QPalette &palette, QPalette::ColorGroup group);
/// The text on that fill: whichever of the palette's text colours stands out more on it.
QColor mutedHighlightedText(const QPalette &palette, QPalette::ColorGroup group);

/// The focus frame's colour: of the palette's two text colours and a range of greys, the one
/// whose weaker contrast against the base and the highlight is strongest (the text colours win
/// ties).
QColor focusFrameColor(const QPalette &palette, QPalette::ColorGroup group);

} // namespace KavriVendorEmp::platform
