#pragma once

#include <QFont>
#include <QIcon>

// Fonts of the window. The designed faces are Windows fonts; where they are missing the
// metric-compatible ones stand in, and the Traditional Chinese face draws the Chinese captions.
QFont largeFont();  // Times New Roman, 16 px
QFont windowFont(); // MS Sans Serif, 11 px

// The OK button's glyph: a green check mark, 18 x 18, and a grey outlined one when disabled.
QIcon okGlyph();
constexpr int OkGlyphSize = 18;

// Message boxes and other text drawn in the application font find Traditional Chinese
// glyphs in the Traditional Chinese face before any other.
void preferTraditionalChinese();
