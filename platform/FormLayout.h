// A window described as data (its controls' kinds, texts, twips rectangles and tab order) and
// the one conversion from twips to pixels at a given DPI.
#pragma once

#include <vector>

namespace platform {

using ControlId = int;

enum class ControlKind { Label, CheckBox, PushButton };

struct TwipsRect {
    int left;
    int top;
    int width;
    int height;
};

struct PixelRect {
    int left;
    int top;
    int width;
    int height;
    bool operator==(const PixelRect& other) const {
        return left == other.left && top == other.top && width == other.width &&
               height == other.height;
    }
};

struct ControlDescription {
    ControlId id;
    ControlKind kind;
    const wchar_t* text;
    TwipsRect rect;
    int tabIndex;
    bool autoSize;       // a label whose size follows its one-line text
    bool defaultButton;  // the push button that Enter presses wherever the focus is
};

struct FormDescription {
    const wchar_t* title;
    int clientWidth;  // twips
    int clientHeight;
    std::vector<ControlDescription> controls;
};

constexpr int kTwipsPerInch = 1440;

// Rounds to the nearest pixel, as MulDiv(twips, dpi, 1440) does.
int TwipsToPixels(int twips, int dpi);
PixelRect TwipsToPixels(const TwipsRect& rect, int dpi);

// The controls in the order Windows must create them: the Z order is the tab order.
std::vector<ControlDescription> InTabOrder(const FormDescription& form);

}  // namespace platform
