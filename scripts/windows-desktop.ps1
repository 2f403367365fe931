# Clears a hosted runner's desktop before the suites drive windows and keys. On its first logon
# the ARM64 image shows Windows 11's privacy screen (a Shell_OOBEProxy window whose page WWAHost
# hosts) and starts "wsl --update" with a prompt in a Windows Terminal window, and either takes
# the foreground. Then every window is minimized, the runner's own console among them. Prints
# what it found and which window had the foreground before and after, so that a case that
# cannot get it can be traced to the window that kept it.
Add-Type -Namespace Nimbrel -Name Desktop -MemberDefinition @'
[DllImport("user32.dll")] public static extern IntPtr GetForegroundWindow();
[DllImport("user32.dll", CharSet = CharSet.Unicode)]
public static extern int GetWindowTextW(IntPtr window, System.Text.StringBuilder text, int size);
[DllImport("user32.dll")] public static extern uint GetWindowThreadProcessId(IntPtr window, out uint process);
[DllImport("user32.dll", CharSet = CharSet.Unicode)]
public static extern IntPtr FindWindowW(string className, string title);
[DllImport("user32.dll")] public static extern bool PostMessageW(IntPtr window, uint message, IntPtr w, IntPtr l);
'@

function Foreground {
    $window = [Nimbrel.Desktop]::GetForegroundWindow()
    if ($window -eq [IntPtr]::Zero) { return 'no window' }
    $title = New-Object System.Text.StringBuilder 256
    [void][Nimbrel.Desktop]::GetWindowTextW($window, $title, 256)
    $id = [uint32]0
    [void][Nimbrel.Desktop]::GetWindowThreadProcessId($window, [ref]$id)
    $name = (Get-Process -Id $id -ErrorAction SilentlyContinue).ProcessName
    "`"$title`" of $name ($id)"
}

"The foreground before: $(Foreground)"
# The privacy screen, asked to close as its close button would, then its host ended. The title
# is a real null, any title: PowerShell passes $null for a string parameter as ""
# (PowerShell/PowerShell#11515), which finds only a window with an empty title.
$closed = 0
for ($i = 0; $i -lt 10; $i++) {
    $screen = [Nimbrel.Desktop]::FindWindowW('Shell_OOBEProxy', [NullString]::Value)
    if ($screen -eq [IntPtr]::Zero) { break }
    "Closing the privacy screen (window 0x$($screen.ToString('X')))"
    [void][Nimbrel.Desktop]::PostMessageW($screen, 0x0010, [IntPtr]::Zero, [IntPtr]::Zero)  # WM_CLOSE
    $closed++
    Start-Sleep -Milliseconds 500
}
if ($closed -eq 0) { "No privacy screen (no Shell_OOBEProxy window)" }
elseif ($screen -ne [IntPtr]::Zero) { "The privacy screen is still there after $closed requests to close" }
# Ending wsl ends the update prompt, and the terminal closes its tab. The terminal itself is left
# alone: the runner's own console may be one of its windows.
$hosts = @(Get-Process -Name WWAHost, wsl -ErrorAction SilentlyContinue)
if ($hosts.Count -eq 0) { "No WWAHost or wsl process" }
$hosts | ForEach-Object {
    "Ending $($_.ProcessName) ($($_.Id)) `"$($_.MainWindowTitle)`""
    Stop-Process -Id $_.Id -Force -ErrorAction SilentlyContinue
    if (-not $_.WaitForExit(5000)) { "$($_.ProcessName) ($($_.Id)) did not end within 5 s" }
}
Start-Sleep -Seconds 2
(New-Object -ComObject Shell.Application).MinimizeAll()
Start-Sleep -Seconds 1
"The foreground after: $(Foreground)"
