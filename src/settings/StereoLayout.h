#pragma once

#include <QList>
#include <QString>
#include <optional>

// How the stereo pair's two eyes share the window: side by side for parallel or
// cross-eyed free viewing, red-cyan anaglyph for coloured glasses, or
// row-interleaved for passive polarised monitors (even rows from the window's
// top for the left eye).
enum class StereoLayout { parallel, cross, anaglyph, interleaved };

namespace StereoLayouts {
QList<StereoLayout> allCases();
QString rawValue(StereoLayout layout); // as stored: "parallel", "cross", "anaglyph", "interleaved"
std::optional<StereoLayout> fromRawValue(const QString& raw); // exact match only
QString label(StereoLayout layout);                           // through the localisation lookup
// The two halves lie side by side (parallel or cross-eyed); otherwise each eye
// covers the whole window.
bool isSideBySide(StereoLayout layout);
} // namespace StereoLayouts

// The widths of each half of a side-by-side pair the panel offers, in
// centimetres on the screen; 0 is the whole window.
namespace StereoPairWidths {
QList<double> allCases(); // 0, 6, 8, 10
QString label(double centimetres);
} // namespace StereoPairWidths

// The gaps between the halves the panel offers, in centimetres.
namespace StereoPairGaps {
QList<double> allCases(); // 0, 0.5, 1, 2
QString label(double centimetres);
} // namespace StereoPairGaps
