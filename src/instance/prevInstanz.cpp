#include "instance/prevInstanz.h"

#include <cstdint>
#include <string>

namespace prevInstanz {
namespace {

// The window class both searches name. Our own windows are registered under other classes,
// so in practice the searches find nothing and the decision rests on the previous-instance
// test; a window of that class bearing our title still counts, as it always has.
constexpr char kWindowClass[] = "ThunderRT5Form";
constexpr wchar_t kHandOverTitle[] = L"#$#";
constexpr int kRestore = 9;                // SW_RESTORE
constexpr std::int32_t kTopmost = -1;      // HWND_TOPMOST
constexpr std::int32_t kNotTopmost = -2;   // HWND_NOTOPMOST
constexpr unsigned kNoSizeNoMove = 3;      // SWP_NOSIZE | SWP_NOMOVE

// Every statement after the first is skipped when it fails, and the next one runs.
template <class Statement>
bool Skippable(Statement&& statement) {
    try {
        statement();
        return true;
    } catch (const platform::RuntimeError&) {
        return false;
    }
}

std::string Ansi(const std::wstring& text) {
    // Titles go to FindWindowA as ANSI; ours are ASCII, anything else becomes '?'.
    std::string result;
    result.reserve(text.size());
    for (wchar_t c : text) result.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return result;
}

}  // namespace

void ActivatePrevInstance(platform::Runtime& runtime, const std::wstring& keys1,
                          const std::wstring& keys2) {
    bool prevInstance = false;
    std::int32_t found = 0;
    bool decided = Skippable([&] { prevInstance = runtime.AppPrevInstance(); });
    decided = Skippable([&] {
                  found = runtime.FindWindowA(kWindowClass, Ansi(runtime.AppTitle()));
              }) && decided;
    // A failure while deciding counts as "another copy": the guarded branch runs.
    if (decided && found <= 0 && !prevInstance) return;

    std::int32_t window = 0;
    std::wstring savedTitle;
    Skippable([&] { window = runtime.FindWindowA(kWindowClass, Ansi(runtime.AppTitle())); });
    Skippable([&] { savedTitle = runtime.AppTitle(); });
    Skippable([&] { runtime.SetAppTitle(kHandOverTitle); });
    Skippable([&] { runtime.ShowWindowAsync(window, kRestore); });
    Skippable([&] { runtime.SetWindowPos(window, kTopmost, 0, 0, 0, 0, kNoSizeNoMove); });
    Skippable([&] { runtime.AppActivate(savedTitle); });
    if (!keys1.empty()) {
        Skippable([&] { runtime.SendKeys(keys1); });
        Skippable([&] { runtime.DoEvents(); });
        Skippable([&] { runtime.SendKeys(keys2); });
        Skippable([&] { runtime.DoEvents(); });
    }
    Skippable([&] { runtime.SetWindowPos(window, kNotTopmost, 0, 0, 0, 0, kNoSizeNoMove); });
    runtime.End();
}

}  // namespace prevInstanz
