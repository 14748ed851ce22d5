#pragma once

#include <vector>

namespace clearstrand::win32 {

// Design sizes are in twips: 1440 to the inch, 15 to a pixel at 96 DPI.
inline constexpr int kTwipsPerInch = 1440;
inline constexpr int kTwipsPerPixelAt96Dpi = 15;
inline constexpr int kClientWidthTwips = 7905;
inline constexpr int kClientHeightTwips = 7515;
inline constexpr int kPanelWidthTwips = 1440;  // a status panel's design and minimum width
inline constexpr int kPictureWidthPx = 33;     // the picture's own size at 96 DPI
inline constexpr int kPictureHeightPx = 44;

// Twips to pixels at `dpi`, rounded to the nearest pixel.
int TwipsToPixels(int twips, unsigned dpi);

struct Bounds {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Bounds&) const = default;
};

// Where everything goes in the client area, in pixels for one DPI.
struct WindowLayout {
    int clientWidth = 0;
    int clientHeight = 0;
    Bounds picture;
    Bounds label;
    Bounds tree;
    Bounds command1;
    Bounds command2;
    Bounds command3;
    Bounds statusBar;
};

WindowLayout ComputeLayout(unsigned dpi);

struct PanelSpec {
    int width = 0;        // pixels; for a spring panel, its minimum
    bool spring = false;  // takes an equal share of the width the others leave
};

// The right edges of the status bar's parts for a bar `total` pixels wide,
// as SB_SETPARTS takes them.
std::vector<int> PanelRightEdges(const std::vector<PanelSpec>& panels, int total);

}  // namespace clearstrand::win32
