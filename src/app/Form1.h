#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "app/Version.h"
#include "platform/FormDesign.h"
#include "platform/Runtime.h"

namespace app {

inline constexpr wchar_t kWebAddress[] = L"http://www.example.org/nimbrel/";
inline constexpr wchar_t kStartCaption[] = L"Nimbrel - V. " NIMBREL_CAPTION_VERSION;

// The launcher's one window: its state, its start-up sequence and its event handlers.
class Form1 {
public:
    explicit Form1(platform::Runtime& runtime) : runtime_(runtime) {}

    // The window as designed, with every handler bound through Guard.
    platform::FormDesign Design();

    void Form_Load();
    void Command1_Click();
    void Label2_Click();
    void RunSteamTimer_Timer();
    void Timer1_Timer();

    // Every entry point the window system calls runs through here: End() leaves quietly, any
    // other failure, whatever its type, shows the error box; either way the program ends (Quit
    // does not return), so nothing ever unwinds into the window system.
    template <class Handler>
    void Guard(Handler&& handler) {
        try {
            handler();
        } catch (const platform::ProgramEnd&) {
            runtime_.Quit(0);
        } catch (...) {
            runtime_.Fail(std::current_exception());
        }
    }

    std::wstring AppPath;
    std::wstring CommandLine;
    std::wstring LoginUsersPath;

private:
    void StartSteam();
    void HandleKillSteam(std::int32_t& steamProcessId);
    void ShowInfoBoxWhenAsked();
    void HandleOnline(std::string& findValue, std::string& replaceValue);
    void CheckFiles();
    // The launch command, trimmed at both ends, as the program it names and the rest.
    struct Launch {
        std::wstring program;
        std::wstring arguments;
    };
    Launch LaunchCommand() const;

    platform::Runtime& runtime_;
};

}  // namespace app
