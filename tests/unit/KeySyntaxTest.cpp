#include "platform/KeySyntax.h"
#include "platform/RuntimeError.h"

#include <gtest/gtest.h>

#include "Common.h"

using platform::KeyStroke;
using platform::ParseKeys;

namespace {

KeyStroke Char(wchar_t c, bool shift = false) { return {true, 0, c, shift, false, false}; }
KeyStroke Key(std::uint16_t vk, bool shift = false, bool control = false, bool alt = false) {
    return {false, vk, 0, shift, control, alt};
}

}  // namespace

TEST(ParseKeys, ReadsTheClassicSyntax) {
    const std::pair<const wchar_t*, std::vector<KeyStroke>> cases[] = {
        {L"ab", {Char(L'a'), Char(L'b')}},
        {L"~", {Key(0x0D)}},
        {L"{ENTER}{tab}", {Key(0x0D), Key(0x09)}},
        {L"+a", {Char(L'a', true)}},
        {L"^%{DEL}", {Key(0x2E, false, true, true)}},
        {L"+(ab)c", {Char(L'a', true), Char(L'b', true), Char(L'c')}},
        {L"{x 3}", {Char(L'x'), Char(L'x'), Char(L'x')}},
        {L"{+}{^}{%}{~}{(}{)}{{}{}}",
         {Char(L'+'), Char(L'^'), Char(L'%'), Char(L'~'), Char(L'('), Char(L')'), Char(L'{'),
          Char(L'}')}},
        {L"{F1}{F12}", {Key(0x70), Key(0x7B)}},
        {L"", {}},
    };
    for (const auto& [keys, strokes] : cases) {
        SCOPED_TRACE(testbed::Narrow(keys));
        EXPECT_EQ(ParseKeys(keys), strokes);
    }
}

TEST(ParseKeys, RejectsTextItCannotRead) {
    for (const wchar_t* bad :
         {L"{ENTER", L"{NOSUCHKEY}", L"+(ab", L"a)", L"{}", L"+", L"{a x}", L"{F17}"}) {
        SCOPED_TRACE(testbed::Narrow(bad));
        EXPECT_THROW(ParseKeys(bad), platform::RuntimeError);
    }
}
