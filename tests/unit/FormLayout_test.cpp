// The twips layout of the installer's window at the DPIs people use.
#include "platform/FormLayout.h"

#include <gtest/gtest.h>

#include "FakePlatform.h"
#include "window/Form1.h"

namespace {

using platform::PixelRect;

TEST(TwipsToPixels, RoundsToTheNearestPixelAsMulDivDoes) {
    const struct {
        int twips;
        int dpi;
        int expected;
    } cases[] = {
        {15, 96, 1},  {4545, 96, 303}, {4545, 144, 455}, {195, 144, 20},
        {7, 96, 0},   {8, 96, 1},      {120, 120, 10},   {4215, 120, 351},
        {-8, 96, -1}, {0, 192, 0},     {1440, 288, 288}, {255, 144, 26},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::TwipsToPixels(c.twips, c.dpi), c.expected)
            << c.twips << " twips at " << c.dpi;
    }
}

PixelRect ControlAt(int dpi, platform::ControlId id) {
    fake::EventLog log;
    fake::FakePlatform platform(log);
    for (const auto& control : Form1(platform).Description().controls) {
        if (control.id == id) {
            return platform::TwipsToPixels(control.rect, dpi);
        }
    }
    ADD_FAILURE() << "no control " << id;
    return {};
}

TEST(Form1Layout, PlacesTheControlsAt96And144Dpi) {
    const struct {
        int dpi;
        platform::ControlId id;
        PixelRect expected;
    } cases[] = {
        {96, Form1::kLblStatus, {8, 8, 32, 13}},    {96, Form1::kChkForce, {8, 24, 281, 17}},
        {96, Form1::kCommand1, {8, 48, 289, 33}},   {144, Form1::kLblStatus, {12, 12, 48, 20}},
        {144, Form1::kChkForce, {12, 36, 422, 26}}, {144, Form1::kCommand1, {12, 72, 434, 50}},
    };
    for (const auto& c : cases) {
        const PixelRect rect = ControlAt(c.dpi, c.id);
        EXPECT_EQ(rect, c.expected)
            << "control " << c.id << " at " << c.dpi << " DPI: " << rect.left << "," << rect.top
            << " " << rect.width << "x" << rect.height;
    }
    fake::EventLog log;
    fake::FakePlatform platform(log);
    const platform::FormDescription& form = Form1(platform).Description();
    EXPECT_EQ(platform::TwipsToPixels(form.clientWidth, 96), 303);
    EXPECT_EQ(platform::TwipsToPixels(form.clientHeight, 96), 89);
    EXPECT_EQ(platform::TwipsToPixels(form.clientWidth, 144), 455);
    EXPECT_EQ(platform::TwipsToPixels(form.clientHeight, 144), 134);
}

TEST(Form1Layout, CreatesTheControlsInTabOrderWithTheInstallButtonFirst) {
    fake::EventLog log;
    fake::FakePlatform platform(log);
    std::vector<platform::ControlId> order;
    for (const auto& control : platform::InTabOrder(Form1(platform).Description())) {
        order.push_back(control.id);
    }
    const std::vector<platform::ControlId> expected = {Form1::kCommand1, Form1::kLblStatus,
                                                       Form1::kChkForce};
    EXPECT_EQ(order, expected);
}

}  // namespace
