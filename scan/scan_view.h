#pragma once
// What the scan driver needs of its window: two status panels, the log memo,
// the buttons, the run lamp, the two check boxes, and closing. The desktop
// program implements it with widgets; the headless runner and the tests use
// RecordingScanView.

#include <array>
#include <string>

namespace quillon {

enum class ScanControl { PB_Go, PB_Pause, PB_Print, PB_Reset, CkRepeat, kCount };

enum class LampColour { clLime, clRed, clYellow };

class ScanView {
  public:
    virtual ~ScanView() = default;
    virtual void SetStatusText(int panel, const std::string& text) = 0;
    virtual std::string StatusText(int panel) const = 0;
    virtual void SetMemoText(const std::string& text) = 0;
    virtual void SetEnabled(ScanControl control, bool enabled) = 0;
    virtual void SetLamp(LampColour colour) = 0;
    virtual bool AlarmChecked() const = 0;
    virtual bool RepeatChecked() const = 0;
    virtual void CloseWindow() = 0;
};

// A window without a screen: it remembers what the driver shows.
class RecordingScanView : public ScanView {
  public:
    void SetStatusText(int panel, const std::string& text) override {
        Panels.at(static_cast<std::size_t>(panel)) = text;
    }
    std::string StatusText(int panel) const override {
        return Panels.at(static_cast<std::size_t>(panel));
    }
    void SetMemoText(const std::string& text) override { Memo = text; }
    void SetEnabled(ScanControl control, bool enabled) override {
        Enabled[static_cast<std::size_t>(control)] = enabled;
    }
    void SetLamp(LampColour colour) override { Lamp = colour; }
    bool AlarmChecked() const override { return Alarm; }
    bool RepeatChecked() const override { return Repeat; }
    void CloseWindow() override { Closed = true; }

    bool IsEnabled(ScanControl control) const { return Enabled[static_cast<std::size_t>(control)]; }

    std::array<std::string, 2> Panels;
    std::string Memo;
    // Enabled at design time: Pause and Repeat; Go, Print and Reset disabled.
    std::array<bool, static_cast<std::size_t>(ScanControl::kCount)> Enabled = {false, true, false,
                                                                               false, true};
    LampColour Lamp = LampColour::clLime;
    bool Alarm = false;
    bool Repeat = false;
    bool Closed = false;
};

}  // namespace quillon
