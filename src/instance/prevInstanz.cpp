#include "instance/prevInstanz.h"

#include "platform/ResumeNext.h"

#include <cstdint>
#include <string>

namespace prevInstanz {
namespace {

using platform::ResumeNext;

// The window class both searches name. Our own windows are registered under other classes,
// so in practice the searches find nothing and the decision rests on the previous-instance
// test; a window of that class bearing our title still counts, as it always has.
constexpr char kWindowClass[] = "ThunderRT5Form";
constexpr wchar_t kHandOverTitle[] = L"#$#";
constexpr int kRestore = 9;               // SW_RESTORE
constexpr std::int32_t kTopmost = -1;     // HWND_TOPMOST
constexpr std::int32_t kNotTopmost = -2;  // HWND_NOTOPMOST
constexpr unsigned kNoSizeNoMove = 3;     // SWP_NOSIZE | SWP_NOMOVE

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
    bool decided = ResumeNext([&] { prevInstance = runtime.AppPrevInstance(); });
    decided =
        ResumeNext([&] { found = runtime.FindWindowA(kWindowClass, Ansi(runtime.AppTitle())); }) &&
        decided;
    // A failure while deciding counts as "another copy": the guarded branch runs.
    if (decided && found <= 0 && !prevInstance) return;

    std::int32_t window = 0;
    std::wstring savedTitle;
    ResumeNext([&] { window = runtime.FindWindowA(kWindowClass, Ansi(runtime.AppTitle())); });
    ResumeNext([&] { savedTitle = runtime.AppTitle(); });
    ResumeNext([&] { runtime.SetAppTitle(kHandOverTitle); });
    ResumeNext([&] { runtime.ShowWindowAsync(window, kRestore); });
    ResumeNext([&] { runtime.SetWindowPos(window, kTopmost, 0, 0, 0, 0, kNoSizeNoMove); });
    ResumeNext([&] { runtime.AppActivate(savedTitle); });
    if (!keys1.empty()) {
        ResumeNext([&] { runtime.SendKeys(keys1); });
        ResumeNext([&] { runtime.DoEvents(); });
        ResumeNext([&] { runtime.SendKeys(keys2); });
        ResumeNext([&] { runtime.DoEvents(); });
    }
    ResumeNext([&] { runtime.SetWindowPos(window, kNotTopmost, 0, 0, 0, 0, kNoSizeNoMove); });
    runtime.End();
}

}  // namespace prevInstanz
