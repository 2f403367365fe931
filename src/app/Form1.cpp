#include "app/Form1.h"

#include <string>
#include <utility>

#include "instance/prevInstanz.h"
#include "loginusers/OfflineFlags.h"
#include "platform/Text.h"
#include "process/Prozess.h"

namespace app {
namespace {

using platform::Contains;
using platform::FormTimer;

constexpr wchar_t kLoginUsersSuffix[] = L"\\config\\loginusers.vdf";
constexpr wchar_t kSteamInWorkingDir[] = L"steam.exe";
constexpr wchar_t kSteamImageName[] = L"steam.exe";
constexpr wchar_t kSteamFile[] = L"\\Steam.exe";

constexpr wchar_t kCheckBoxTitle[] = L"Steam.exe not found!";
constexpr wchar_t kSteamMissingStart[] = L"Steam.exe not found - ";
constexpr wchar_t kMustBeInSteamDir[] =
    L".exe must be in the Steam-Directory, where the steam.exe is located";
constexpr wchar_t kNotFoundLine[] = L"not found.";

constexpr wchar_t kKillSteamFound[] = L"killsteam";
constexpr wchar_t kKillSteamRemoved[] = L"-killsteam";
constexpr wchar_t kKillingCaption[] = L"KillSteam (Command Parameter)";
constexpr wchar_t kKillFailedCaption[] = L"Failed to kill Steam Process!";
constexpr wchar_t kKilledCaption[] = L"Steam Process killed";
constexpr wchar_t kInfoFound[] = L"?";
constexpr wchar_t kInfoTitle[] = L"Nimbrel V. " NIMBREL_CAPTION_VERSION L" - Info";
constexpr wchar_t kOnlineFound[] = L"online";
constexpr wchar_t kOnlineRemoved[] = L"-online";
constexpr wchar_t kOnlineCaption[] = L"Switch to Online-Mode (Command Parameter)";

constexpr wchar_t kLoadingCaption[] = L"Loading Steam.exe";
constexpr wchar_t kErrorStartingCaption[] = L"Error Starting Steam";

constexpr wchar_t kExplorerFile[] = L"explorer.exe";

constexpr wchar_t kUsageText[] =
    L"Launch Steam in Offline-Mode                                            "
    L"Command Parameter: -Online, -KillSteam,  -?";

// Message-box lines are separated by a lone carriage return, as the boxes have always shown.
constexpr wchar_t kCr[] = L"\r";

std::wstring InfoBoxText() {
    std::wstring address = kWebAddress;
    if (!address.empty() && address.back() == L'/') address.pop_back();
    return std::wstring(L"Command-Parameter: -Online -KillSteam") + kCr + kCr +
           L"  -Online : Enables Steam Online-Mode again" + kCr +
           L"  -KillSteam : Kills Steam.exe Task on Start" + kCr + L"  -? : This Screen" + kCr +
           kCr + std::wstring(17, L' ') + address;
}

// The text after switch removal: lower-cased, every dashed form gone, ends trimmed.
std::wstring RemoveSwitch(platform::Runtime& runtime, const std::wstring& commandLine,
                          const wchar_t* dashedForm) {
    return platform::TrimSpaces(platform::ReplaceAll(runtime.LCase(commandLine), dashedForm, L""));
}

}  // namespace

platform::FormDesign Form1::Design() {
    using Kind = platform::ControlDesign::Kind;
    platform::FormDesign design;
    design.className = L"NimbrelForm";
    design.caption = kStartCaption;
    design.clientWidth = 4560;
    design.clientHeight = 1335;
    design.iconResourceId = NIMBREL_ICON_ID;
    design.timers = {
        {FormTimer::RunSteamTimer, 600, [this] { Guard([this] { RunSteamTimer_Timer(); }); }},
        {FormTimer::Timer1, 2000, [this] { Guard([this] { Timer1_Timer(); }); }},
    };
    platform::ControlDesign command1{Kind::Button, L"Command1", 3360, 120, 1095, 255, L"Quit"};
    command1.takesFocus = true;
    command1.onClick = [this] { Guard([this] { Command1_Click(); }); };
    platform::ControlDesign label2{Kind::Label, L"Label2", 480, 1080, 3615, 255, kWebAddress};
    label2.hasForeColor = true;
    label2.foreColorRgb = 0x800000;  // red 0, green 0, blue 128
    label2.onClick = [this] { Guard([this] { Label2_Click(); }); };
    platform::ControlDesign label1{Kind::Label, L"Label1", 120, 240, 4095, 615, kUsageText};
    design.controls = {command1, label2, label1};
    return design;
}

void Form1::Form_Load() {
    prevInstanz::ActivatePrevInstance(runtime_, L"", L"");
    AppPath = runtime_.AppPath();
    runtime_.ShowForm();
    LoginUsersPath = AppPath + kLoginUsersSuffix;
    CommandLine = runtime_.CommandText();

    std::int32_t steamProcessId = 0;
    if (!CommandLine.empty()) {
        HandleKillSteam(steamProcessId);
        ShowInfoBoxWhenAsked();
    }
    CheckFiles();

    std::string loginUsers = runtime_.ReadFileBytes(LoginUsersPath);
    std::string findValue(loginusers::kFlagOff);
    std::string replaceValue(loginusers::kFlagOn);
    if (!CommandLine.empty()) HandleOnline(findValue, replaceValue);
    const auto rewrite = [&](std::string& bytes) {
        return loginusers::RewriteOfflineFlags(bytes, findValue, replaceValue) > 0;
    };
    runtime_.RewriteFile(LoginUsersPath, std::move(loginUsers), rewrite);
    runtime_.DoEvents();

    if (steamProcessId != 0)
        runtime_.SetTimerEnabled(FormTimer::RunSteamTimer, true);
    else
        StartSteam();
}

void Form1::CheckFiles() {
    const std::wstring mustBeInSteamDir = runtime_.AppExeName() + kMustBeInSteamDir;
    // Relative on purpose: this check follows the working directory, not AppPath.
    if (runtime_.Dir(kSteamInWorkingDir).empty())
        runtime_.MsgBox(kSteamMissingStart + mustBeInSteamDir, platform::kMsgBoxCritical,
                        kCheckBoxTitle);
    if (runtime_.Dir(LoginUsersPath).empty())
        runtime_.MsgBox(LoginUsersPath + kCr + kCr + kNotFoundLine + kCr + mustBeInSteamDir,
                        platform::kMsgBoxCritical, kCheckBoxTitle);
}

void Form1::HandleKillSteam(std::int32_t& steamProcessId) {
    if (!Contains(runtime_.LCase(CommandLine), kKillSteamFound)) return;
    CommandLine = RemoveSwitch(runtime_, CommandLine, kKillSteamRemoved);
    runtime_.SetCaption(kKillingCaption);
    steamProcessId = Prozess::FindProcess(runtime_, kSteamImageName);
    // Two attempts at most; only a fresh lookup tells whether one worked.
    for (int attempt = 0; attempt < 2 && steamProcessId > 0; ++attempt) {
        Prozess::KillProcess(runtime_, steamProcessId);
        runtime_.DoEvents();
        steamProcessId = Prozess::FindProcess(runtime_, kSteamImageName);
    }
    runtime_.SetCaption(steamProcessId != 0 ? kKillFailedCaption : kKilledCaption);
}

void Form1::ShowInfoBoxWhenAsked() {
    if (Contains(CommandLine, kInfoFound))
        runtime_.MsgBox(InfoBoxText(), platform::kMsgBoxInformation, kInfoTitle);
}

void Form1::HandleOnline(std::string& findValue, std::string& replaceValue) {
    if (!Contains(runtime_.LCase(CommandLine), kOnlineFound)) return;
    replaceValue = loginusers::kFlagOff;
    findValue = loginusers::kFlagOn;
    runtime_.SetCaption(kOnlineCaption);
    CommandLine = RemoveSwitch(runtime_, CommandLine, kOnlineRemoved);
}

Form1::Launch Form1::LaunchCommand() const {
    // One text, cut in two: the program is the command up to the end of "\Steam.exe", the
    // arguments are the rest, so program + arguments is always exactly the command. Whatever
    // AppPath holds (blanks at its end included), it is never trimmed on its own.
    const std::wstring command = platform::TrimSpaces(AppPath + kSteamFile + L" " + CommandLine);
    const std::wstring head = AppPath + kSteamFile;
    const std::size_t leadingBlanks = head.find_first_not_of(L' ');
    const std::size_t programEnd = head.size() - leadingBlanks;
    return {command.substr(0, programEnd), command.substr(programEnd)};
}

void Form1::StartSteam() {
    runtime_.SetCaption(kLoadingCaption);
    // The program is named explicitly and the arguments are exactly what follows it in the
    // launch command, so a blank in AppPath can never start some other program.
    const auto launch = [this] {
        const Launch command = LaunchCommand();
        runtime_.Shell(command.program, command.arguments, platform::kNormalFocus);
        runtime_.DoEvents();
        return Prozess::FindProcess(runtime_, kSteamImageName);
    };
    if (launch() == 0 && launch() == 0) runtime_.SetCaption(kErrorStartingCaption);
    runtime_.SetTimerEnabled(FormTimer::Timer1, true);
}

void Form1::RunSteamTimer_Timer() {
    runtime_.SetTimerEnabled(FormTimer::RunSteamTimer, false);
    StartSteam();
}

void Form1::Timer1_Timer() {
    runtime_.SetTimerEnabled(FormTimer::Timer1, false);
    runtime_.End();
}

void Form1::Command1_Click() { runtime_.End(); }

void Form1::Label2_Click() {
    std::wstring windows = runtime_.WindowsFolder();
    if (!windows.empty() && windows.back() != L'\\') windows += L'\\';
    runtime_.Shell(windows + kExplorerFile, std::wstring(L" ") + kWebAddress,
                   platform::kMinimizedFocus);
}

}  // namespace app
