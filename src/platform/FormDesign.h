#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

enum class FormTimer { RunSteamTimer, Timer1 };

// A window as designed: what the window layer builds once and binds the handlers to.
// Lengths are twips (1440 per inch), so the layout follows the window's real DPI.
struct TimerDesign {
    FormTimer id;
    unsigned intervalMs;
    std::function<void()> onTimer;
};

struct ControlDesign {
    enum class Kind { Button, Label };
    Kind kind;
    std::wstring name;
    int left, top, width, height;
    std::wstring text;
    bool takesFocus = false;
    bool hasForeColor = false;
    std::uint32_t foreColorRgb = 0;      // 0x00BBGGRR, as COLORREF
    std::function<void()> onClick = {};  // empty: the control handles no click
};

struct FormDesign {
    std::wstring className;
    std::wstring caption;
    int clientWidth, clientHeight;
    int iconResourceId;
    std::vector<TimerDesign> timers;      // in control order, before the visible controls
    std::vector<ControlDesign> controls;  // in control order
};

}  // namespace platform
