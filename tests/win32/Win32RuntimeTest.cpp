// This application's own facts for real, under Wine: its path, name and arguments, and the mark
// that tells a second copy of the program file.
#include <gtest/gtest.h>

#include "Win32Fixture.h"

using platform::UniqueProcess;

TEST(AppFacts, PathExeNameArgumentsAndPreviousInstance) {
    const std::wstring module = platform::ModulePath();
    EXPECT_EQ(Runtime().AppPath(), module.substr(0, module.rfind(L'\\')));
    EXPECT_EQ(Runtime().AppExeName(), L"nimbrel_win32_tests");
    EXPECT_EQ(Runtime().AppTitle(), L"Nimbrel");

    struct Case {
        const wchar_t* line;
        const wchar_t* arguments;
    };
    for (const Case c : {Case{L"\"C:\\A B\\n.exe\" -x  y", L"-x  y"}, Case{L"n.exe", L""},
                         Case{L"n.exe  -x", L" -x"}, Case{L"\"C:\\n.exe\"-x", L""},
                         Case{L"\"C:\\n.exe\"", L""}, Case{L"C:\\n.exe\t-x", L"-x"}})
        EXPECT_EQ(platform::ArgumentsOf(c.line), c.arguments);
    // The name marks one program file, whatever the case of its path.
    EXPECT_EQ(platform::InstanceMutexName(L"C:\\Steam\\Nimbrel.exe"),
              platform::InstanceMutexName(L"c:\\steam\\NIMBREL.EXE"));
    EXPECT_NE(platform::InstanceMutexName(L"C:\\Steam\\Nimbrel.exe"),
              platform::InstanceMutexName(L"D:\\Steam\\Nimbrel.exe"));
    Runtime();  // the first runtime of this program file holds the mark
    platform::Win32Runtime second(::GetModuleHandleW(nullptr));
    EXPECT_FALSE(Runtime().AppPrevInstance());
    EXPECT_TRUE(second.AppPrevInstance());
}

TEST(AppFacts, OneProgramFileIsOneCopyHoweverItsPathIsSpelled) {
    const std::wstring module = platform::ModulePath();
    const std::wstring identity = platform::ProgramFileIdentity(module);
    wchar_t shortPath[MAX_PATH];
    const DWORD shortLength = ::GetShortPathNameW(module.c_str(), shortPath, MAX_PATH);
    ASSERT_GT(shortLength, 0u);
    const std::wstring folder = module.substr(0, module.rfind(L'\\'));
    const std::wstring name = module.substr(module.rfind(L'\\'));
    for (const std::wstring& spelling : {std::wstring(shortPath, shortLength),
                                         folder + L"\\.\\" + name, Runtime().UCase(module)}) {
        SCOPED_TRACE(testbed::Narrow(spelling));
        EXPECT_EQ(platform::ProgramFileIdentity(spelling), identity);
    }
    // A copy is another program file, even beside the original and byte for byte the same.
    const std::wstring copy = testbed::ScratchFolder(L"identity") + L"\\copy.exe";
    ASSERT_TRUE(::CopyFileW(module.c_str(), copy.c_str(), FALSE));
    EXPECT_NE(platform::ProgramFileIdentity(copy), identity);
}

TEST(AppFacts, AFirstCopyWhoseMarkThisCopyMayNotOpenStillCountsAsAnotherCopy) {
    // An elevated first copy's mutex, as a copy without elevation meets it: its security lets
    // nobody in (an empty access list).
    ACL emptyAcl;
    ASSERT_TRUE(::InitializeAcl(&emptyAcl, sizeof emptyAcl, ACL_REVISION));
    SECURITY_DESCRIPTOR descriptor;
    ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    ::SetSecurityDescriptorDacl(&descriptor, TRUE, &emptyAcl, FALSE);
    SECURITY_ATTRIBUTES security{sizeof security, &descriptor, FALSE};
    const std::wstring name = L"Local\\Nimbrel.Test.Denied";
    UniqueProcess first(::CreateMutexW(&security, FALSE, name.c_str()));
    ASSERT_TRUE(first);
    UniqueProcess mark;
    EXPECT_TRUE(platform::ClaimInstance(name, mark));
    EXPECT_FALSE(mark) << "the mutex really was denied, as it is to a copy without elevation";

    UniqueProcess fresh, again;
    EXPECT_FALSE(platform::ClaimInstance(L"Local\\Nimbrel.Test.Fresh", fresh));
    EXPECT_TRUE(platform::ClaimInstance(L"Local\\Nimbrel.Test.Fresh", again));
}
