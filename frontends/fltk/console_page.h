// What the window draws of the console store, kept apart from FLTK so it can be tested headless.
//
// The store holds bytes exactly as the loader wrote them; the console font is an OEM (code page 437)
// terminal font in which every byte value has one glyph of one cell. The window draws UTF-8, so each
// byte is turned into the one character its OEM glyph shows, which keeps the 80-column grid intact
// whatever the loader printed. Control bytes other than the line feed get a blank cell: an OEM
// font's pictograms for them would only be noise in a loader's log.
//
// The font size is chosen at start-up from measurements, not assumed: the largest size up to the
// preferred one at which 80 columns still fit the window's width. The line pitch is the console's
// own (17 pixels), not the font's: monospace faces differ widely in their line gap, and 19 lines
// must stand where the console area expects them.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vxw {

// The visible run of the console cut at its line feeds, each line in UTF-8 with one character per
// stored byte. A run of n line feeds gives n + 1 lines, the last being the line being written.
std::vector<std::string> console_lines(std::string_view visible);

// One stored byte as the UTF-8 text of its cell.
std::string glyph_for(unsigned char byte);

// Tries sizes from `preferred` down to `smallest`; the first at which `columns` cells of
// `column_width(size)` pixels fit in `area_width` wins. When none fits, the smallest is taken (the
// right edge is then clipped).
int choose_font_size(const std::function<double(int size)>& column_width, int columns, int area_width, int preferred,
                     int smallest);

}  // namespace vxw
