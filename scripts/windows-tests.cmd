@echo off
rem Runs the Win32 and end-to-end suites of the programs in build\win32 and build\win64 on
rem Windows itself: the one step of the Windows job (.github/workflows/windows.yml), which
rem scripts/test.sh also runs under Wine. Its arguments choose the runs, all three by default:
rem   i686    the shipped Nimbrel.exe, with the i686 test programs and stand-in Steam.exe
rem   x86-64  the x86-64 build of the same sources
rem   wow64   the shipped i686 file driven by the x86-64 end-to-end program beside the x86-64
rem           stand-in: 64-bit Windows with a 64-bit Steam, as most users run it
rem Each suite's result line names the desktop (locale, ANSI code page, Windows version), the
rem processor and the build, as the Wine lines do. Exits with 1 when a suite failed: any exit
rem code but 0 fails it, a crash's negative one (0xC0000005 is -1073741819) too, and so does 0
rem from a program that never wrote its counts (NIMBREL_COUNTS); the test programs themselves
rem exit non-zero when no case ran, when a selected case did not run, or when a case skipped
rem that NIMBREL_ALLOWED_SKIPS does not allow. Where GITHUB_STEP_SUMMARY names a file, each suite
rem adds a row of its counts to a table there.
setlocal EnableExtensions EnableDelayedExpansion
for %%r in ("%~dp0..") do set "root=%%~fr"
set "NIMBREL_FIXTURES=%root%\tests\data\loginusers"
set runs=%*
if "%runs%"=="" set runs=i686 x86-64 wow64

for /f "tokens=1,3" %%a in ('reg query "HKCU\Control Panel\International" /v LocaleName') do (
    if /i "%%a"=="LocaleName" set "locale=%%b"
)
for /f "tokens=1,3" %%a in ('reg query "HKLM\SYSTEM\CurrentControlSet\Control\Nls\CodePage" /v ACP') do (
    if /i "%%a"=="ACP" set "acp=%%b"
)
rem The version is the last word of ver's line ("Microsoft Windows [Version 10.0.20348.2849]").
for /f "delims=" %%v in ('ver') do set "windows=%%v"
for %%w in (%windows%) do set "windows=%%w"
for /f "delims=]" %%x in ("%windows%") do set "windows=%%x"
rem A 32-bit cmd (WoW64, x86 emulation) names the processor of its own kind: the machine's is this.
set "processor=%PROCESSOR_ARCHITECTURE%"
if defined PROCESSOR_ARCHITEW6432 set "processor=%PROCESSOR_ARCHITEW6432%"
set "desktop=%locale%,cp%acp%,win%windows%,%processor%"
echo Windows suites on %desktop%: %runs%, skips allowed: "%NIMBREL_ALLOWED_SKIPS%"
set "NIMBREL_COUNTS=%TEMP%\nimbrel-counts-%RANDOM%.txt"
if defined GITHUB_STEP_SUMMARY (
    echo ### Windows suites on %desktop%>>"%GITHUB_STEP_SUMMARY%"
    echo.>>"%GITHUB_STEP_SUMMARY%"
    echo ^| suite ^| build ^| cases ^| result ^|>>"%GITHUB_STEP_SUMMARY%"
    echo ^|---^|---^|---^|---^|>>"%GITHUB_STEP_SUMMARY%"
)

set failed=0
for %%r in (%runs%) do (
    if "%%r"=="i686" (
        call :suite win32 win32 i686 win32 win32
        call :suite e2e win32 i686 win32 win32
    ) else if "%%r"=="x86-64" (
        call :suite win32 win64 x86-64 win64 win64
        call :suite e2e win64 x86-64 win64 win64
    ) else if "%%r"=="wow64" (
        call :suite e2e win64 wow64 win32 win64
    ) else (
        echo unknown run %%r: the runs are i686, x86-64 and wow64
        set failed=1
    )
)
exit /b %failed%

rem :suite SUITE TREE BUILD NIMBREL-TREE STEAM-TREE runs one test program of TREE, with the
rem Nimbrel.exe and stand-in Steam.exe of the trees named, and prints its result line.
:suite
set "program=%root%\build\%2\tests\%1\nimbrel_%1_tests.exe"
set "line=%1[%desktop%,%3]"
set "NIMBREL_EXE=%root%\build\%4\Nimbrel.exe"
set "NIMBREL_FAKE_STEAM=%root%\build\%5\FakeSteam.exe"
set "NIMBREL_EXPECT_BUILD=%3"
for %%f in ("%program%" "%NIMBREL_EXE%" "%NIMBREL_FAKE_STEAM%") do (
    if not exist %%f (
        echo %line%: FAILED, %%~f is missing
        set failed=1
        exit /b
    )
)
rem A program that will not start fails too: Windows 11 on ARM64 runs x86-64 programs.
echo == %line%
set "counts=no count: the program ended before its last line"
set counted=0
del "%NIMBREL_COUNTS%" 2>nul
"%program%"
set "code=!errorlevel!"
rem Only a line counts: an empty file is no count.
if exist "%NIMBREL_COUNTS%" for /f "usebackq delims=" %%c in ("%NIMBREL_COUNTS%") do (
    set "counts=%%c"
    set counted=1
)
del "%NIMBREL_COUNTS%" 2>nul
rem Exit code 0 without the counts line is a program that ended mid-run (exit, ExitProcess, a
rem WM_QUIT pumped in-process): its cases after that point never ran.
if not "!code!"=="0" (
    set "result=FAILED, exit code !code!"
    set failed=1
) else if "!counted!"=="0" (
    set "result=FAILED, it ended with 0 before its last line"
    set failed=1
) else (
    set "result=passed"
)
echo %line%: !result!
if defined GITHUB_STEP_SUMMARY echo ^| %1 ^| %3 ^| !counts! ^| !result! ^|>>"%GITHUB_STEP_SUMMARY%"
exit /b
