// The entry point, in the application: it is the one place that joins Form1 to the Win32 runtime.
#include <windows.h>

#include "app/Form1.h"
#include "platform/Win32Runtime.h"

namespace {

// The Steam folder is full of other programs' DLLs: load system DLLs from the system folder only.
void RestrictDllSearch() {
    const auto restrict =
        reinterpret_cast<decltype(&::SetDefaultDllDirectories)>(reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (restrict) restrict(LOAD_LIBRARY_SEARCH_SYSTEM32);
    ::SetDllDirectoryW(L"");
}

}  // namespace

// Nothing may unwind out of an event handler, so a terminate means a bug: end quietly instead of
// linking the demangler that the verbose default handler needs (a third of the program's size).
namespace __gnu_cxx {
void __verbose_terminate_handler() { ::ExitProcess(3); }
}  // namespace __gnu_cxx

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    RestrictDllSearch();
    try {
        platform::Win32Runtime runtime(instance);
        app::Form1 form(runtime);
        form.Guard([&] {
            runtime.LoadForm(form.Design());
            form.Form_Load();
        });
        runtime.RunMessageLoop();
    } catch (...) {
        // Not even the runtime could be set up (no memory, say): the error box on its own.
        try {
            ::MessageBoxW(
                nullptr,
                platform::ErrorBoxText(platform::ErrorOf(std::current_exception())).c_str(),
                L"Nimbrel", MB_OK | MB_ICONHAND);
        } catch (...) {}
    }
    return 1;
}
