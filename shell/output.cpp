#include "shell/output.h"

#include <algorithm>
#include <charconv>

#include "shell/state.h"

namespace ivsh {

namespace {

template <class Number>
std::wstring NumberText(Number value, int base, bool upper)
{
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, value, base).ptr;
    std::wstring text;
    for (char* p = digits; p != end; ++p)
        text += wchar_t(upper && *p >= 'a' ? *p - 'a' + 'A' : *p);
    return text;
}

bool WriteBytes(HANDLE handle, const char* data, size_t size)
{
    while (size > 0) {
        DWORD chunk = size > 0x10000000 ? 0x10000000 : DWORD(size);
        DWORD written = 0;
        if (!WriteFile(handle, data, chunk, &written, nullptr) || written == 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

} // namespace

std::wstring FormatV(const wchar_t* format, va_list args)
{
    std::wstring out;
    if (format == nullptr)
        return out;
    for (const wchar_t* p = format; *p != 0; ++p) {
        if (*p != L'%') {
            out += *p;
            continue;
        }
        const wchar_t* start = p++;
        bool left = false, zero = false;
        for (; *p == L'-' || *p == L'0'; ++p)
            (*p == L'-' ? left : zero) = true;
        size_t width = 0;
        for (; *p >= L'0' && *p <= L'9'; ++p)
            width = width < 1000 ? width * 10 + size_t(*p - L'0') : width;
        if (*p == L'l')
            ++p;
        std::wstring piece;
        bool numeric = true;
        switch (*p) {
        case L'%':
            piece = L"%";
            break;
        case L's': {
            const wchar_t* text = va_arg(args, const wchar_t*);
            piece = text != nullptr ? text : L"(null)";
            numeric = false;
            break;
        }
        case L'd':
            piece = NumberText(va_arg(args, int), 10, false);
            break;
        case L'u':
            piece = NumberText(va_arg(args, unsigned), 10, false);
            break;
        case L'x':
        case L'X':
            piece = NumberText(va_arg(args, unsigned), 16, *p == L'X');
            break;
        case L'c':
            piece.assign(1, wchar_t(va_arg(args, int)));
            numeric = false;
            break;
        default:
            // Not a conversion: keep the text as written. A "%" at the very
            // end stops here without reading past the NUL.
            if (*p == 0) {
                out.append(start, p);
                return out;
            }
            out.append(start, p + 1);
            continue;
        }
        if (piece.size() < width) {
            size_t pad = width - piece.size();
            if (left)
                piece.append(pad, L' ');
            else if (zero && numeric) {
                size_t at = (!piece.empty() && piece[0] == L'-') ? 1 : 0;
                piece.insert(at, pad, L'0');
            } else
                piece.insert(0, pad, L' ');
        }
        out += piece;
    }
    return out;
}

int WriteText(HANDLE handle, std::wstring_view text)
{
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return -1;
    if (text.empty())
        return 0;
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        size_t done = 0;
        while (done < text.size()) {
            DWORD chunk = DWORD(std::min<size_t>(text.size() - done, 8192));
            DWORD written = 0;
            if (!WriteConsoleW(handle, text.data() + done, chunk, &written, nullptr) || written == 0)
                return -1;
            done += written;
        }
        return int(text.size());
    }

    const Options& options = TheShell().options;
    bool ok;
    if (options.unicodeOutput) {
        ok = WriteBytes(handle, reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    } else {
        UINT codePage = options.utf8Output ? CP_UTF8 : options.codePage;
        int size = WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
        if (size <= 0)
            return -1;
        std::string bytes(size_t(size), '\0');
        WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), bytes.data(), size, nullptr, nullptr);
        ok = WriteBytes(handle, bytes.data(), bytes.size());
    }
    return ok ? int(text.size()) : -1;
}

} // namespace ivsh
