// Twips to pixels, and the creation order of a described window's controls.
#include "platform/FormLayout.h"

#include <algorithm>
#include <cstdint>

namespace platform {

int TwipsToPixels(int twips, int dpi) {
    const std::int64_t product = static_cast<std::int64_t>(twips) * dpi;
    const std::int64_t half = kTwipsPerInch / 2;
    return static_cast<int>(product >= 0 ? (product + half) / kTwipsPerInch
                                         : -((-product + half) / kTwipsPerInch));
}

PixelRect TwipsToPixels(const TwipsRect& rect, int dpi) {
    return {TwipsToPixels(rect.left, dpi), TwipsToPixels(rect.top, dpi),
            TwipsToPixels(rect.width, dpi), TwipsToPixels(rect.height, dpi)};
}

std::vector<ControlDescription> InTabOrder(const FormDescription& form) {
    std::vector<ControlDescription> controls = form.controls;
    std::stable_sort(controls.begin(), controls.end(),
                     [](const ControlDescription& a, const ControlDescription& b) {
                         return a.tabIndex < b.tabIndex;
                     });
    return controls;
}

}  // namespace platform
