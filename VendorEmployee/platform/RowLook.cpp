#include "platform/RowLook.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace KavriVendorEmp::platform {

namespace {

double linear(double channel)
{
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

double luminance(const QColor &c)
{
    const QColor rgb = c.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) +
           0.0722 * linear(rgb.blueF());
}

QColor blend(const QColor &over, const QColor &under, double alpha)
{
    const QColor a = over.toRgb();
    const QColor b = under.toRgb();
    return QColor::fromRgbF(float(a.redF() * alpha + b.redF() * (1 - alpha)),
                            float(a.greenF() * alpha + b.greenF() * (1 - alpha)),
                            float(a.blueF() * alpha + b.blueF() * (1 - alpha)));
}

} // namespace

double contrastRatio(const QColor &a, const QColor &b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor mutedHighlight(const QPalette &palette, QPalette::ColorGroup group)
{
    return blend(palette.color(group, QPalette::Highlight), palette.color(group, QPalette::Base),
                 0.35);
}

QColor mutedHighlightedText(const QPalette &palette, QPalette::ColorGroup group)
{
    const QColor fill = mutedHighlight(palette, group);
    const QColor text = palette.color(group, QPalette::Text);
    const QColor highlighted = palette.color(group, QPalette::HighlightedText);
    return contrastRatio(text, fill) >= contrastRatio(highlighted, fill) ? text : highlighted;
}

QColor focusFrameColor(const QPalette &palette, QPalette::ColorGroup group)
{
    // The frame lies on the focused row and borders the rows around it, each filled with the
    // base or, selected, the highlight (a muted fill is never focused).
    const QColor borders[] = {palette.color(group, QPalette::Base),
                              palette.color(group, QPalette::Highlight)};
    std::vector<QColor> candidates = {palette.color(group, QPalette::Text),
                                      palette.color(group, QPalette::HighlightedText)};
    // Greys reach where neither text colour does, between a black base and a bright highlight.
    for (int grey = 0; grey <= 255; grey += 17)
        candidates.push_back(QColor(grey, grey, grey));
    QColor best;
    double bestContrast = -1;
    for (const QColor &candidate : candidates) {
        double weakest = 21;
        for (const QColor &border : borders)
            weakest = std::min(weakest, contrastRatio(candidate, border));
        if (weakest > bestContrast + 0.01) {
            bestContrast = weakest;
            best = candidate;
        }
    }
    return best;
}

} // namespace KavriVendorEmp::platform
