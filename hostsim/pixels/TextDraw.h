// A built-in bitmap font for labels on generated frames and contact sheets,
// so drawing text needs no font files.
#pragma once

#include <string>

#include "A_Types.h"
#include "PF_Pixels.h"
#include "PixelWorld.h"

namespace hostsim {

// Glyphs are 5 x 7 cells on a 6 x 9 advance (one column and two rows of
// spacing). Covered: digits, A-Z (lower case is drawn as upper case), space
// and . , : ; - + _ / % ( ) [ ] = # ' " ! ? < > *; anything else draws as
// a hollow box. `scale` is the size of one cell in pixels (at least 1).
constexpr A_long kGlyphCellsWide = 5;
constexpr A_long kGlyphCellsHigh = 7;
constexpr A_long kGlyphAdvanceX = 6;
constexpr A_long kGlyphAdvanceY = 9;

// Size in pixels of text drawn at `scale`, one line (newlines are not special).
A_long TextWidth(const std::string& text, A_long scale);
A_long TextHeight(A_long scale);

// Draws text with its top-left corner at (x, y). Pixels outside the world
// are skipped, so text may run off any edge.
void DrawText(PixelWorld& into, A_long x, A_long y, const std::string& text, A_long scale,
              const PF_PixelFloat& color);

// The same, with an `outline`-coloured border around each stroke (a fifth of
// a cell, at least one pixel) so the text reads on any background.
void DrawTextOutlined(PixelWorld& into, A_long x, A_long y, const std::string& text, A_long scale,
                      const PF_PixelFloat& color, const PF_PixelFloat& outline);

}  // namespace hostsim
