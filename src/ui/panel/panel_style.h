#pragma once

// The panel's text styles, derived from the user's Qt style: the default font, two smaller
// caption sizes, equal-width digits, and a dimmed colour for secondary text.

#include "color_scheme.h"

#include <QColor>
#include <QFont>
#include <QPalette>

namespace corvel {

// The default font at about 0.85 of its size: column labels and the total.
QFont captionFont(const QFont& base);

// Smaller still, about 0.77: the process count.
QFont caption2Font(const QFont& base);

// A font whose ten digits have the same advance, so numbers in a column do not jitter as they
// change: `base` itself when its digits already are (as in most UI fonts), else the system's
// fixed-pitch font at the same size.
QFont tabularFont(const QFont& base);

bool hasTabularDigits(const QFont& font);

// Dimmed text: the palette's placeholder colour, or the window text at half opacity when the
// style gives none that differs from it.
QColor secondaryColor(const QPalette& palette);

// Whether a palette's windows are dark.
bool isDark(const QPalette& palette);

// The panel's colours for the desktop's scheme: the platform's own palette where it is of that
// kind already (Qt reads KDE's colours itself), else a neutral light or dark one of ours.
QPalette paletteFor(ColorScheme scheme, const QPalette& platform);

} // namespace corvel
