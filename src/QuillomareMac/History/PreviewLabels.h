#pragma once

// Small text pieces the inspector preview and the quick preview card share.

#include "Island/Kit/IslandTheme.h"
#include "Island/Kit/TruncatingLabel.h"

#include <QFontDatabase>

namespace QuillomareMac {

// The island's point size in the desktop's fixed-pitch family (paths, links).
inline QFont monospacedSystemFont(qreal points, QFont::Weight weight = QFont::Normal)
{
    QFont font = IslandTheme::systemFont(points, weight);
    font.setFamily(QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
    font.setStyleHint(QFont::Monospace);
    return font;
}

} // namespace QuillomareMac
