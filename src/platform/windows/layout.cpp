#include "platform/windows/layout.h"

namespace clearstrand::win32 {

int TwipsToPixels(int twips, unsigned dpi) {
    const long long scaled = static_cast<long long>(twips) * static_cast<long long>(dpi);
    const long long half = kTwipsPerInch / 2;
    return static_cast<int>(scaled >= 0 ? (scaled + half) / kTwipsPerInch
                                        : (scaled - half) / kTwipsPerInch);
}

namespace {

Bounds FromTwips(int left, int top, int width, int height, unsigned dpi) {
    // Edges are converted rather than sizes, so neighbours never overlap or
    // leave a one-pixel gap through rounding.
    const int l = TwipsToPixels(left, dpi);
    const int t = TwipsToPixels(top, dpi);
    return {l, t, TwipsToPixels(left + width, dpi) - l, TwipsToPixels(top + height, dpi) - t};
}

int ScalePixels(int pixels, unsigned dpi) {
    return TwipsToPixels(pixels * kTwipsPerPixelAt96Dpi, dpi);
}

}  // namespace

WindowLayout ComputeLayout(unsigned dpi) {
    WindowLayout layout;
    layout.clientWidth = TwipsToPixels(kClientWidthTwips, dpi);
    layout.clientHeight = TwipsToPixels(kClientHeightTwips, dpi);
    // The picture box takes the size of its image, which is drawn at the
    // monitor's scale.
    layout.picture = {TwipsToPixels(720, dpi), TwipsToPixels(240, dpi),
                      ScalePixels(kPictureWidthPx, dpi), ScalePixels(kPictureHeightPx, dpi)};
    layout.label = FromTwips(1440, 240, 6015, 855, dpi);
    layout.tree = FromTwips(720, 1200, 6495, 5055, dpi);
    layout.command1 = FromTwips(1800, 6480, 1215, 375, dpi);
    layout.command2 = FromTwips(3360, 6480, 1215, 375, dpi);
    layout.command3 = FromTwips(4920, 6480, 1215, 375, dpi);
    // Aligned to the bottom edge, full width.
    const int statusTop = TwipsToPixels(7020, dpi);
    layout.statusBar = {0, statusTop, layout.clientWidth, layout.clientHeight - statusTop};
    return layout;
}

std::vector<int> PanelRightEdges(const std::vector<PanelSpec>& panels, int total) {
    int fixed = 0;
    int springs = 0;
    for (const PanelSpec& panel : panels) {
        if (panel.spring)
            ++springs;
        else
            fixed += panel.width;
    }
    const int spare = total - fixed;
    std::vector<int> edges;
    edges.reserve(panels.size());
    int right = 0;
    int springIndex = 0;
    for (const PanelSpec& panel : panels) {
        int width = panel.width;
        if (panel.spring) {
            // The first springs take the pixels that do not divide evenly.
            int share = spare > 0 ? spare / springs : 0;
            if (spare > 0 && springIndex < spare % springs) ++share;
            ++springIndex;
            if (share > width) width = share;
        }
        right += width;
        edges.push_back(right);
    }
    return edges;
}

}  // namespace clearstrand::win32
