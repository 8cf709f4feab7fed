// Where the help file is looked for, and how the message that no help file
// was found lists those places: one table, so that the message always names
// the places that were tried, in their order.
#pragma once

// The places the help file may be, in the order they are tried: a folder and
// the file's path within it. Each %s is the module's name. The shell expands
// the folder (a null folder is the module's own directory, which needs no
// expansion); the file's path is joined to it after the expansion, so that
// whatever the folder's name holds (%, ^, &, quotes, brackets, backquotes)
// reaches the file system as it is and is never read by the shell again.
//
// `told` is the place's line in the message, a format: the first line's %s
// is the module's name in upper case, the last line's the Windows directory.
struct HelpLocation {
    const wchar_t* folder;
    const wchar_t* file;
    const wchar_t* told;
};

constexpr HelpLocation kLocations[] = {
    // the directory named by IvroHelp
    {L"%%[%sHelp]", L"%s.chm", L"in a directory specified in %%%sHELP"},
    // the directory named by PluginHelp
    {L"%%[PluginHelp]", L"%s.chm", L"in a directory specified in %%PLUGINHELP"},
    // beside the module
    {nullptr, L"%s.chm", L"in the same directory as the .DLL file"},
    // in its Help subdirectory
    {nullptr, L"Help\\%s.chm", L"in a HELP directory within the .DLL\x2019s directory  "},
    // beside the shell
    {L"%%@path[%%_cmdspec]", L"%s.chm", L"in the same directory as the command shell"},
    // in its help subdirectory
    {L"%%@path[%%_cmdspec]", L"help\\%s.chm", L"in a HELP directory within the shell\x2019s directory  "},
    // in the Windows help directory
    {L"%%windir", L"help\\%s.chm", L"or in %s\\Help."},
};

// The message's first line, a format whose %s is the module's name; each
// place follows on a line of its own, after kMissingHelpBullet. The whole
// takes, in order, the module's name, that name in upper case and the
// Windows directory.
constexpr wchar_t kMissingHelpHead[] = L"I can\x2019t find the help file %s.chm.  It should be:\n\n";
constexpr wchar_t kMissingHelpBullet[] = L"    \x2022  ";
