#include "platform/KeySyntax.h"

#include <cwctype>

#include "platform/RuntimeError.h"

namespace platform {
namespace {

// Virtual-key codes, as the platform numbers them. A plain table: a map would bring the
// library's tree code into the program for 28 names.
struct SpecialKey {
    const wchar_t* name;
    std::uint16_t code;
};
constexpr SpecialKey kSpecialKeys[] = {
    {L"BACKSPACE", 0x08}, {L"BS", 0x08},         {L"BKSP", 0x08},     {L"BREAK", 0x03},
    {L"CAPSLOCK", 0x14},  {L"DELETE", 0x2E},     {L"DEL", 0x2E},      {L"DOWN", 0x28},
    {L"END", 0x23},       {L"ENTER", 0x0D},      {L"ESC", 0x1B},      {L"HELP", 0x2F},
    {L"HOME", 0x24},      {L"INSERT", 0x2D},     {L"INS", 0x2D},      {L"LEFT", 0x25},
    {L"NUMLOCK", 0x90},   {L"PGDN", 0x22},       {L"PGUP", 0x21},     {L"PRTSC", 0x2C},
    {L"RIGHT", 0x27},     {L"SCROLLLOCK", 0x91}, {L"TAB", 0x09},      {L"UP", 0x26},
    {L"ADD", 0x6B},       {L"SUBTRACT", 0x6D},   {L"MULTIPLY", 0x6A}, {L"DIVIDE", 0x6F},
};

class Parser {
public:
    explicit Parser(const std::wstring& keys) : keys_(keys) {}

    std::vector<KeyStroke> Parse() {
        while (pos_ < keys_.size()) ParseItem(false, false, false);
        return strokes_;
    }

private:
    [[noreturn]] void Invalid() {
        throw errors::InvalidCall(L"Key sequence not understood: " + keys_);
    }

    void ParseItem(bool shift, bool control, bool alt) {
        const wchar_t c = keys_[pos_++];
        switch (c) {
        case L'+': return ParseModified(true, control, alt);
        case L'^': return ParseModified(shift, true, alt);
        case L'%': return ParseModified(shift, control, true);
        case L'~': return AddKey(0x0D, shift, control, alt);
        case L'{': return ParseBraces(shift, control, alt);
        case L'(':
        case L')':
        case L'}': Invalid();
        default: return AddCharacter(c, shift, control, alt);
        }
    }

    void ParseModified(bool shift, bool control, bool alt) {
        if (pos_ >= keys_.size()) Invalid();
        if (keys_[pos_] != L'(') return ParseItem(shift, control, alt);
        ++pos_;
        while (pos_ < keys_.size() && keys_[pos_] != L')') ParseItem(shift, control, alt);
        if (pos_ >= keys_.size()) Invalid();
        ++pos_;
    }

    void ParseBraces(bool shift, bool control, bool alt) {
        // "{}}" names the closing brace itself, so the name may start with '}'.
        const auto close = keys_.find(L'}', pos_ + 1);
        if (close == std::wstring::npos) Invalid();
        std::wstring inside = keys_.substr(pos_, close - pos_);
        pos_ = close + 1;
        int count = 1;
        const auto blank = inside.rfind(L' ');
        if (blank != std::wstring::npos && blank > 0) {
            const std::wstring number = inside.substr(blank + 1);
            if (number.empty() || number.find_first_not_of(L"0123456789") != std::wstring::npos)
                Invalid();
            count = std::stoi(number);
            inside.erase(blank);
        }
        for (int i = 0; i < count; ++i) AddNamed(inside, shift, control, alt);
    }

    void AddNamed(const std::wstring& name, bool shift, bool control, bool alt) {
        if (name.size() == 1) return AddCharacter(name[0], shift, control, alt);
        std::wstring upper;
        for (wchar_t c : name) upper.push_back(static_cast<wchar_t>(std::towupper(c)));
        for (const SpecialKey& special : kSpecialKeys)
            if (upper == special.name) return AddKey(special.code, shift, control, alt);
        if (upper.size() >= 2 && upper[0] == L'F') {
            const std::wstring number = upper.substr(1);
            if (number.find_first_not_of(L"0123456789") == std::wstring::npos) {
                const int n = std::stoi(number);
                if (n >= 1 && n <= 16)
                    return AddKey(static_cast<std::uint16_t>(0x6F + n), shift, control, alt);
            }
        }
        Invalid();
    }

    void AddKey(std::uint16_t vk, bool shift, bool control, bool alt) {
        KeyStroke stroke;
        stroke.virtualKey = vk;
        stroke.shift = shift, stroke.control = control, stroke.alt = alt;
        strokes_.push_back(stroke);
    }

    void AddCharacter(wchar_t c, bool shift, bool control, bool alt) {
        KeyStroke stroke;
        stroke.isCharacter = true;
        stroke.character = c;
        stroke.shift = shift, stroke.control = control, stroke.alt = alt;
        strokes_.push_back(stroke);
    }

    const std::wstring& keys_;
    std::size_t pos_ = 0;
    std::vector<KeyStroke> strokes_;
};

}  // namespace

std::vector<KeyStroke> ParseKeys(const std::wstring& keys) { return Parser(keys).Parse(); }

}  // namespace platform
