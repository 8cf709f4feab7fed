#include "shell/text.h"

#include <cerrno>
#include <cwchar>
#include <cwctype>

namespace ivsh {

bool IsBlank(wchar_t c)
{
    return c != 0 && std::iswspace(c);
}

bool IsNameChar(wchar_t c)
{
    return c == L'_' || c == L'$' || (c != 0 && std::iswalnum(c));
}

std::wstring_view SkipBlanks(std::wstring_view text)
{
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    return text.substr(i);
}

std::wstring_view TrimView(std::wstring_view text)
{
    text = SkipBlanks(text);
    size_t end = text.size();
    while (end > 0 && IsBlank(text[end - 1]))
        --end;
    return text.substr(0, end);
}

std::wstring Trim(std::wstring_view text)
{
    return std::wstring(TrimView(text));
}

std::wstring Unquote(std::wstring_view text)
{
    std::wstring out;
    for (wchar_t c : TrimView(text))
        if (c != L'"')
            out += c;
    return out;
}

std::wstring Lower(std::wstring_view text)
{
    std::wstring out(text);
    if (!out.empty())
        CharLowerBuffW(out.data(), DWORD(out.size()));
    return out;
}

bool IEquals(std::wstring_view a, std::wstring_view b)
{
    if (a.size() != b.size())
        return false;
    if (a.empty())
        return true;
    return CompareStringOrdinal(a.data(), int(a.size()), b.data(), int(b.size()), TRUE) == CSTR_EQUAL;
}

size_t FindLastComma(std::wstring_view text)
{
    size_t found = std::wstring_view::npos;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'"')
            quoted = !quoted;
        else if (text[i] == L',' && !quoted)
            found = i;
    }
    return found;
}

bool ParseInteger(std::wstring_view text, int64_t& value)
{
    size_t digits = (!text.empty() && (text[0] == L'-' || text[0] == L'+')) ? 1 : 0;
    if (text.size() == digits)
        return false;
    for (size_t i = digits; i < text.size(); ++i)
        if (text[i] < L'0' || text[i] > L'9')
            return false;
    std::wstring copy(text);
    errno = 0;
    long long parsed = std::wcstoll(copy.c_str(), nullptr, 10);
    if (errno == ERANGE)
        return false;
    value = parsed;
    return true;
}

bool ParseUnsigned(std::wstring_view text, uint64_t& value)
{
    int base = 10;
    if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty())
        return false;
    for (wchar_t c : text)
        if (base == 10 ? !std::iswdigit(c) : !std::iswxdigit(c))
            return false;
    std::wstring copy(text);
    errno = 0;
    unsigned long long parsed = std::wcstoull(copy.c_str(), nullptr, base);
    if (errno == ERANGE)
        return false;
    value = parsed;
    return true;
}

std::wstring SystemMessage(DWORD error)
{
    wchar_t* text = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::wstring message;
    if (length != 0 && text != nullptr)
        message = Trim(std::wstring_view(text, length));
    if (text != nullptr)
        LocalFree(text);
    if (message.empty())
        message = L"error " + std::to_wstring(error);
    // Messages are one line; Windows' text may end in a period or not.
    while (!message.empty() && message.back() == L'.')
        message.pop_back();
    return message;
}

std::wstring FullPath(const std::wstring& name)
{
    if (name.empty())
        return name;
    std::wstring path(PLUGIN_TRUE_NAME_LEN, L'\0');
    DWORD length = GetFullPathNameW(name.c_str(), DWORD(path.size()), path.data(), nullptr);
    if (length == 0 || length >= path.size())
        return name;
    path.resize(length);
    return path;
}

std::wstring ModuleFileName(HMODULE module)
{
    std::wstring path(PLUGIN_TRUE_NAME_LEN, L'\0');
    DWORD length = GetModuleFileNameW(module, path.data(), DWORD(path.size()));
    path.resize(length < path.size() ? length : 0);
    return path;
}

TextEncoding DetectEncoding(const char* data, size_t size, size_t* markLength)
{
    auto byte = [&](size_t i) { return static_cast<unsigned char>(data[i]); };
    if (size >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) {
        *markLength = 2;
        return TextEncoding::Utf16;
    }
    if (size >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF)
        *markLength = 3;
    else
        *markLength = 0;
    return TextEncoding::Utf8;
}

namespace {

std::wstring DecodeCodePage(UINT codePage, DWORD flags, const char* data, size_t size, bool* ok)
{
    *ok = true;
    if (size == 0)
        return {};
    int units = MultiByteToWideChar(codePage, flags, data, int(size), nullptr, 0);
    if (units <= 0) {
        *ok = false;
        return {};
    }
    std::wstring text(size_t(units), L'\0');
    MultiByteToWideChar(codePage, flags, data, int(size), text.data(), units);
    return text;
}

} // namespace

std::wstring DecodeLine(const char* data, size_t size, TextEncoding encoding)
{
    if (encoding == TextEncoding::Utf16) {
        std::wstring text(size / 2, L'\0');
        for (size_t i = 0; i < text.size(); ++i)
            text[i] = wchar_t(static_cast<unsigned char>(data[2 * i]) |
                              (static_cast<unsigned char>(data[2 * i + 1]) << 8));
        return text;
    }
    bool ok = false;
    std::wstring text = DecodeCodePage(CP_UTF8, MB_ERR_INVALID_CHARS, data, size, &ok);
    if (!ok)
        text = DecodeCodePage(CP_ACP, 0, data, size, &ok);
    return text;
}

std::string EncodeUtf8(std::wstring_view text)
{
    if (text.empty())
        return {};
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), bytes, nullptr, nullptr);
    return out;
}

namespace {

// Batch files and @line read whole files; anything bigger is not a text file
// that a command line could use.
constexpr LONGLONG kMaxTextFile = 64LL * 1024 * 1024;

// A line of more than this many bytes cannot decode to a result that fits in
// PLUGIN_BUFFER_LEN units; ReadHandleLine gives up on it instead of reading on.
constexpr size_t kMaxLineBytes = 4 * size_t(PLUGIN_BUFFER_LEN);

// Position of the first LF unit in `bytes` from unit `from` on, or npos.
size_t FindLineFeed(const std::string& bytes, size_t from, size_t unit)
{
    for (size_t i = from; i + unit <= bytes.size(); i += unit)
        if (bytes[i] == '\n' && (unit == 1 || bytes[i + 1] == '\0'))
            return i;
    return std::string::npos;
}

std::wstring DecodeWithoutCr(const std::string& bytes, size_t length, TextEncoding encoding)
{
    std::wstring line = DecodeLine(bytes.data(), length, encoding);
    if (!line.empty() && line.back() == L'\r')
        line.pop_back();
    return line;
}

} // namespace

DWORD ReadTextLines(const std::wstring& path, std::vector<std::wstring>& lines)
{
    lines.clear();
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    DWORD error = 0;
    LARGE_INTEGER size{};
    std::string bytes;
    if (!GetFileSizeEx(file, &size)) {
        error = GetLastError();
    } else if (size.QuadPart > kMaxTextFile) {
        error = ERROR_FILE_TOO_LARGE;
    } else {
        bytes.resize(size_t(size.QuadPart));
        DWORD got = 0;
        if (!bytes.empty() && !ReadFile(file, bytes.data(), DWORD(bytes.size()), &got, nullptr))
            error = GetLastError();
        bytes.resize(got);
    }
    CloseHandle(file);
    if (error != 0)
        return error;

    size_t mark = 0;
    TextEncoding encoding = DetectEncoding(bytes.data(), bytes.size(), &mark);
    size_t unit = encoding == TextEncoding::Utf16 ? 2 : 1;
    size_t start = mark;
    while (start < bytes.size()) {
        size_t end = FindLineFeed(bytes, start, unit);
        size_t stop = end == std::string::npos ? bytes.size() : end;
        std::wstring line = DecodeLine(bytes.data() + start, stop - start, encoding);
        if (!line.empty() && line.back() == L'\r')
            line.pop_back();
        lines.push_back(std::move(line));
        if (end == std::string::npos)
            break;
        start = end + unit;
    }
    return 0;
}

ReadStatus ReadHandleLine(HANDLE handle, TextEncoding encoding, std::wstring& line)
{
    const size_t unit = encoding == TextEncoding::Utf16 ? 2 : 1;
    // A disk file can be read ahead and the position moved back to just after
    // the line; a pipe or console cannot, so it is read one unit at a time.
    const bool seekable = GetFileType(handle) == FILE_TYPE_DISK;
    std::string bytes;
    char chunk[512];
    for (;;) {
        DWORD want = seekable ? DWORD(sizeof chunk) : DWORD(unit);
        DWORD got = 0;
        if (!ReadFile(handle, chunk, want, &got, nullptr)) {
            DWORD error = GetLastError();
            if (error != ERROR_BROKEN_PIPE && error != ERROR_HANDLE_EOF)
                return ReadStatus::Error;
            got = 0;
        }
        if (got == 0)
            break;
        size_t from = bytes.size() - bytes.size() % unit;
        bytes.append(chunk, got);
        size_t feed = FindLineFeed(bytes, from, unit);
        if (feed != std::string::npos) {
            LONGLONG unused = LONGLONG(bytes.size() - (feed + unit));
            if (unused > 0) {
                LARGE_INTEGER back;
                back.QuadPart = -unused;
                SetFilePointerEx(handle, back, nullptr, FILE_CURRENT);
            }
            line = DecodeWithoutCr(bytes, feed, encoding);
            return ReadStatus::Line;
        }
        if (bytes.size() > kMaxLineBytes) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return ReadStatus::Error;
        }
    }
    if (bytes.empty())
        return ReadStatus::End;
    line = DecodeWithoutCr(bytes, bytes.size() - bytes.size() % unit, encoding);
    return ReadStatus::Line;
}

} // namespace ivsh
