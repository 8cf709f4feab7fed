#include "shell/module.h"

#include <algorithm>
#include <map>
#include <vector>

#include "ivro_platform.h"
#include "shell/state.h"

extern HINSTANCE g_takeCmdInstance;

namespace ivsh {

namespace {

constexpr wchar_t kDefaultModule[] = L"" IVRO_FILE_NAME;

constexpr size_t kUsageLen = PLUGIN_USAGE_LEN;

// Units after a module's buffer that must still hold kGuardUnit when the call
// returns.
constexpr size_t kGuardUnits = 64;
constexpr wchar_t kGuardUnit = 0xFDFD;

struct LoadedModule {
    HMODULE handle = nullptr;
    std::wstring path;
    std::wstring fileName;
    std::wstring shellPath; // PluginInfo::shellPath points here
    std::wstring features;
    std::map<std::wstring, BufferProc> functions; // lower case, without "@"
    std::map<std::wstring, BufferProc> variables; // lower case, with "_"
    std::map<std::wstring, BufferProc> commands;  // lower case
    HelpProc help = nullptr;
    UsageProc usage = nullptr;
    ShutdownPluginProc shutdown = nullptr;
};

LoadedModule g_module;

std::wstring DirectoryOf(const std::wstring& path)
{
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

std::wstring ResolveModulePath(const wchar_t* path)
{
    std::wstring name = (path != nullptr && *path != 0) ? std::wstring(path) : std::wstring(kDefaultModule);
    if (name.find_first_of(L"\\/:") == std::wstring::npos) {
        std::wstring beside = DirectoryOf(ModuleFileName(g_takeCmdInstance)) + name;
        if (GetFileAttributesW(beside.c_str()) != INVALID_FILE_ATTRIBUTES)
            return beside;
    }
    return FullPath(name);
}

FARPROC Export(HMODULE module, std::wstring_view name)
{
    // Export names are ASCII; anything else cannot name an export.
    std::string narrow;
    for (wchar_t c : name) {
        if (c == 0 || c > 0x7F)
            return nullptr;
        narrow += char(c);
    }
    return GetProcAddress(module, narrow.c_str());
}

template <class Proc>
Proc ExportAs(HMODULE module, std::wstring_view name)
{
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(Export(module, name)));
}

// Splits the feature list and maps each name to its export.
void MapFeatures(LoadedModule& module)
{
    std::wstring_view list = module.features;
    while (!list.empty()) {
        size_t comma = list.find(L',');
        std::wstring name = Trim(list.substr(0, comma));
        list = comma == std::wstring_view::npos ? std::wstring_view() : list.substr(comma + 1);
        if (name.empty() || (name[0] == L'@' && name.size() == 1))
            continue;

        std::wstring exportName = name[0] == L'@' ? L"f_" + name.substr(1) : name;
        auto& table = name[0] == L'@' ? module.functions : name[0] == L'_' ? module.variables : module.commands;
        std::wstring key = Lower(name[0] == L'@' ? name.substr(1) : name);
        if (table.count(key) != 0)
            continue;
        BufferProc proc = ExportAs<BufferProc>(module.handle, exportName);
        if (proc == nullptr) {
            Message(module.fileName + L" names " + name + L" but exports no " + exportName);
            table[key] = nullptr; // warned once; the name stays unavailable
            continue;
        }
        table[key] = proc;
    }
}

BufferProc Find(const std::map<std::wstring, BufferProc>& table, std::wstring_view name)
{
    if (g_module.handle == nullptr)
        return nullptr;
    auto found = table.find(Lower(name));
    return found == table.end() ? nullptr : found->second;
}

// The width of the code in a Windows image, from its file header: 32 or 64,
// or 0 for a file that is no image of an x86 or x64 processor.
int ImageBits(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    IMAGE_DOS_HEADER dos{};
    DWORD signature = 0;
    IMAGE_FILE_HEADER header{};
    DWORD got = 0;
    LARGE_INTEGER at{};
    bool read = ReadFile(file, &dos, sizeof dos, &got, nullptr) && got == sizeof dos &&
                dos.e_magic == IMAGE_DOS_SIGNATURE;
    at.QuadPart = read ? dos.e_lfanew : 0;
    read = read && SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
           ReadFile(file, &signature, sizeof signature, &got, nullptr) && got == sizeof signature &&
           signature == IMAGE_NT_SIGNATURE && ReadFile(file, &header, sizeof header, &got, nullptr) &&
           got == sizeof header;
    CloseHandle(file);
    if (!read)
        return 0;
    return header.Machine == IMAGE_FILE_MACHINE_I386 ? 32 : header.Machine == IMAGE_FILE_MACHINE_AMD64 ? 64 : 0;
}

constexpr int kShellBits = sizeof(void*) * 8;

bool GuardIntact(const std::vector<wchar_t>& buffer, size_t size)
{
    return std::all_of(buffer.begin() + ptrdiff_t(size), buffer.end(), [](wchar_t c) { return c == kGuardUnit; });
}

} // namespace

int LoadModule(const wchar_t* path)
{
    if (g_module.handle != nullptr) {
        Message(L"A module is already loaded: " + g_module.path);
        return 1;
    }
    std::wstring resolved = ResolveModulePath(path);
    DWORD attributes = GetFileAttributesW(resolved.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        Message(L"Cannot find the module " + resolved);
        return 1;
    }
    // A process runs code of one width only: a module of the other is
    // refused with what the user needs to know instead of the loader's error.
    int bits = ImageBits(resolved);
    if (bits != 0 && bits != kShellBits) {
        Message(L"Cannot load the module " + resolved + L": it is a " + std::to_wstring(bits) +
                L"-bit module and this shell is " + std::to_wstring(kShellBits) + L"-bit (it takes " +
                kDefaultModule + L")");
        return 1;
    }
    HMODULE handle = LoadLibraryW(resolved.c_str());
    if (handle == nullptr) {
        DWORD error = GetLastError();
        Message(L"Cannot load the module " + resolved + L": " +
                (error == ERROR_BAD_EXE_FORMAT
                     ? L"not a " + std::to_wstring(kShellBits) + L"-bit Windows library"
                     : SystemMessage(error)));
        return 1;
    }
    auto getInfo = ExportAs<GetPluginInfoProc>(handle, L"GetPluginInfo");
    PluginInfo* info = getInfo != nullptr ? getInfo() : nullptr;
    if (info == nullptr) {
        FreeLibrary(handle);
        Message(resolved + (getInfo == nullptr ? L" is not a module: it exports no GetPluginInfo"
                                               : L" is not a module: GetPluginInfo returned nothing"));
        return 1;
    }

    LoadedModule module;
    module.handle = handle;
    module.path = resolved;
    size_t slash = resolved.find_last_of(L"\\/");
    module.fileName = slash == std::wstring::npos ? resolved : resolved.substr(slash + 1);
    module.shellPath = ModuleFileName(nullptr);
    module.features = info->features != nullptr ? info->features : L"";
    module.help = ExportAs<HelpProc>(handle, L"Help");
    module.usage = ExportAs<UsageProc>(handle, L"Usage");
    module.shutdown = ExportAs<ShutdownPluginProc>(handle, L"ShutdownPlugin");
    auto initialize = ExportAs<InitializePluginProc>(handle, L"InitializePlugin");
    g_module = std::move(module);

    info->shellModule = g_takeCmdInstance;
    info->shellPath = g_module.shellPath.data();
    MapFeatures(g_module);
    if (initialize == nullptr)
        Message(g_module.fileName + L" exports no InitializePlugin");
    if (g_module.shutdown == nullptr)
        Message(g_module.fileName + L" exports no ShutdownPlugin");
    if (initialize != nullptr)
        initialize();
    return 0;
}

void UnloadModule()
{
    if (g_module.handle == nullptr)
        return;
    // Cleared first, so that the module's names are gone even for calls that
    // ShutdownPlugin might make back into the shell.
    LoadedModule module = std::move(g_module);
    g_module = LoadedModule();
    if (module.shutdown != nullptr)
        module.shutdown(0);
    FreeLibrary(module.handle);
}

BufferProc ModuleFunction(std::wstring_view name)
{
    return Find(g_module.functions, name);
}

BufferProc ModuleVariable(std::wstring_view name)
{
    return Find(g_module.variables, name);
}

BufferProc ModuleCommand(std::wstring_view name)
{
    return Find(g_module.commands, name);
}

HelpProc ModuleHelp()
{
    return g_module.help;
}

UsageProc ModuleUsage()
{
    return g_module.usage;
}

std::wstring ModuleFeatures()
{
    return g_module.features;
}

int CallBufferExport(BufferProc proc, std::wstring_view label, std::wstring_view input, std::wstring* result)
{
    if (input.size() > size_t(PLUGIN_TEXT_LEN)) {
        Message(L"The argument of " + std::wstring(label) + L" is longer than " + std::to_wstring(PLUGIN_TEXT_LEN) +
                L" characters");
        return 1;
    }
    std::vector<wchar_t> buffer(PLUGIN_BUFFER_LEN + kGuardUnits, kGuardUnit);
    std::fill_n(buffer.begin(), PLUGIN_BUFFER_LEN, L'\0');
    std::copy(input.begin(), input.end(), buffer.begin());

    int code = proc(buffer.data());

    if (!GuardIntact(buffer, PLUGIN_BUFFER_LEN)) {
        Message(std::wstring(label) + L" wrote past the end of its " + std::to_wstring(PLUGIN_BUFFER_LEN) +
                L"-character buffer");
        return 1;
    }
    if (code != 0 || result == nullptr)
        return code;
    size_t length = std::find(buffer.begin(), buffer.begin() + PLUGIN_BUFFER_LEN, L'\0') - buffer.begin();
    if (length == size_t(PLUGIN_BUFFER_LEN)) {
        Message(std::wstring(label) + L" left no end mark in its result");
        return 1;
    }
    result->assign(buffer.data(), length);
    return 0;
}

bool ModuleUsageText(std::wstring_view command, std::wstring& text)
{
    if (g_module.usage == nullptr || command.size() > size_t(PLUGIN_TEXT_LEN))
        return false;
    UsageProc usage = g_module.usage;
    std::wstring name(command);
    std::vector<wchar_t> out(kUsageLen + kGuardUnits, kGuardUnit);
    std::fill_n(out.begin(), kUsageLen, L'\0');
    if (usage(name.data(), out.data()) != 1)
        return false;
    if (!GuardIntact(out, kUsageLen)) {
        Message(L"Usage of " + std::wstring(command) + L" wrote past the end of its " +
                std::to_wstring(kUsageLen) + L"-character buffer");
        return false;
    }
    text.assign(out.data(), std::find(out.begin(), out.begin() + kUsageLen, L'\0') - out.begin());
    return true;
}

} // namespace ivsh
