#include "escape/settings.h"

#include <cwchar>
#include <initializer_list>

#include "escape/chars.h"
#include "escape/numbers.h"
#include "plugin/module.h"
#include "plugin/os.h"

namespace {

// The one unit an option expands to, or `fallback`. Three units tell one
// unit from none and from more.
Unit ReadOptionChar(const wchar_t* expression, Unit fallback)
{
    wchar_t value[3];
    ExpandShellText(expression, value, 3);
    return value[0] != 0 && value[1] == 0 ? value[0] : fallback;
}

// Reads an environment variable into `out` (`units` long). False when it is
// unset, empty or too long for `out` with its NUL.
bool ReadEnvironment(const wchar_t* name, wchar_t* out, DWORD units)
{
    DWORD length = OsGetEnvironmentVariableW(name, out, units);
    if (length == 0 || length >= units) {
        out[0] = 0;
        return false;
    }
    return true;
}

// The shell's command separator and escape character, as its options give
// them; '&' and '^' when an option does not expand to exactly one unit.
Unit GetCommandSeparator() { return ReadOptionChar(L"%@option[commandsep]", L'&'); }

Unit GetEscapeChar() { return ReadOptionChar(L"%@option[escapechar]", L'^'); }

// Fills `special` (SPECIAL_CHARS_LEN units) with SpecialChars: the ten fixed
// characters " % & < > [ ] ^ ` |, the command separator and escape character
// when not yet among them, then the value of Ivro_Chars when it fits whole.
// When Ivro_Flags is set and not empty, *flags becomes its value if that is
// a complete unsigned 32-bit number starting with a decimal digit, else 0;
// otherwise *flags is left as it is.
void GetEscapeSettings(Unit* special, uint32_t* flags)
{
    const Unit separator = GetCommandSeparator();
    const Unit escape = GetEscapeChar();

    static const wchar_t kFixed[] = L"\"%&<>[]^`|";
    size_t length = wcslen(kFixed);
    wmemcpy(special, kFixed, length + 1);
    for (Unit c : {separator, escape}) {
        if (wcschr(special, c) == nullptr && length < SPECIAL_CHARS_LEN - 1) {
            special[length++] = c;
            special[length] = 0;
        }
    }

    // Ivro_Chars is used whole or not at all.
    wchar_t chars[SPECIAL_CHARS_LEN];
    if (ReadEnvironment(L"Ivro_Chars", chars, SPECIAL_CHARS_LEN)) {
        size_t extra = wcslen(chars);
        if (length + extra + 1 <= SPECIAL_CHARS_LEN)
            wmemcpy(special + length, chars, extra + 1);
    }

    wchar_t value[1024];
    if (ReadEnvironment(L"Ivro_Flags", value, 1024)) {
        uint32_t number = 0;
        *flags = IsDecimalDigit(value[0]) && ParseNumber(value, nullptr, &number) == RESULT_OK ? number : 0;
    }
}

} // namespace

int EscapifyForShell(Unit* text, const wchar_t* overflowMessage)
{
    wchar_t special[SPECIAL_CHARS_LEN]; // filled by GetEscapeSettings, read up to its NUL
    uint32_t flags = 0;
    GetEscapeSettings(special, &flags);
    if (Escapify(text, flags, special) == RESULT_OVERFLOW)
        return ReportError(overflowMessage);
    return 0;
}
