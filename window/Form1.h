// Form1: the installer's one window, its load handler and the install command.
#pragma once

#include "platform/Platform.h"

class Form1 : public platform::Form {
public:
    static constexpr platform::ControlId kCommand1 = 101;
    static constexpr platform::ControlId kLblStatus = 102;
    static constexpr platform::ControlId kChkForce = 103;

    explicit Form1(platform::Platform& platform) : platform_(platform) {}

    const platform::FormDescription& Description() const override;
    void Load(platform::Window& window) override { Form_Load(window); }
    void Click(platform::ControlId control, platform::Window& window) override;

    // Shows the target folder in lblstatus; the label is the only place that keeps it.
    void Form_Load(platform::Window& window);
    // Copies dx8vb.dll from the program's folder into the folder lblstatus shows (forced to
    // SYSWOW64 when chkForce is checked) and starts regsvr32 on it.
    void Command1_Click(platform::Window& window);

private:
    platform::Platform& platform_;
};
