#!/usr/bin/python3
"""Holds the tables that the user's documents copy from the code to the code's
own tables, read from the sources:

- the named escapes, the letters and the characters of `EscapeKinds`
  (escape/expand.cpp), in escapes.html;
- the bits of Ivro_Flags, the `ESCF_` flags (escape/escapify.h), in
  escaped-form.html;
- the places of the help file, their folders and subfolders in the order of
  `kLocations` (plugin/help_locations.h), and the folders the help viewer is
  taken from, in the order of `kViewerFolders` (plugin/help.cpp) and then
  PATH, in README-user.txt.

    check_tables.py --source DIR

Fails naming the document, the line and what differs from the code.
"""
import argparse
import os
import re
import sys

# How a place's folder in kLocations is named in the documents.
FOLDER_WORDS = {
    '%%[%sHelp]': "IvroHelp",
    '%%[PluginHelp]': "PluginHelp",
    None: "module",
    '%%@path[%%_cmdspec]': "shell",
    '%%windir': "Windows",
}

# How each folder of kViewerFolders is named in the documents.
VIEWER_WORDS = {
    "OsGetSystemWindowsDirectoryW": "Windows folder",
    "OsGetSystemDirectoryW": "system folder",
}


def read(source, path):
    with open(os.path.join(source, path), encoding="utf-8") as f:
        return f.read()


def code_escapes(source):
    """letter -> code point of each named escape, from EscapeKinds."""
    text = read(source, "escape/expand.cpp")
    letters = re.search(r'const char letters\[\] = "([a-zA-Z]+)";', text)
    characters = re.search(r"const Unit characters\[\] = \{([^}]*)\};", text)
    if not letters or not characters:
        raise SystemExit("escape/expand.cpp: the letters and characters of EscapeKinds are not where they were")
    values = []
    for token in re.findall(r"0x[0-9A-Fa-f]+|'(?:\\.|[^'])'", characters.group(1)):
        values.append(int(token, 16) if token.startswith("0x") else ord(token[1:-1].encode().decode("unicode_escape")))
    if len(values) != len(letters.group(1)):
        raise SystemExit("escape/expand.cpp: %d letters, %d characters" % (len(letters.group(1)), len(values)))
    return dict(zip(letters.group(1), values))


def code_flags(source):
    return sorted(int(v) for v in re.findall(r"\bESCF_\w+\s*=\s*(\d+)", read(source, "escape/escapify.h")))


def code_places(source):
    """(word for its folder, its subfolder or None) of each place of
    kLocations, in order."""
    text = read(source, "plugin/help_locations.h")
    places = []
    for folder, file in re.findall(r'\{(L"[^"]*"|nullptr),\s*L"([^"]*)",\s*L"[^"]*"\}', text):
        key = None if folder == "nullptr" else folder[2:-1]
        if key not in FOLDER_WORDS:
            raise SystemExit("plugin/help_locations.h: a place with the folder %s, which check_tables.py "
                             "has no word for" % folder)
        subfolder = file.split("\\\\")[0] if "\\\\" in file else None
        places.append((FOLDER_WORDS[key], subfolder))
    if not places:
        raise SystemExit("plugin/help_locations.h: no places found in kLocations")
    return places


def code_viewer_folders(source):
    """The words for the folders the viewer is taken from, in order: those
    of kViewerFolders, then PATH."""
    text = read(source, "plugin/help.cpp")
    table = re.search(r"kViewerFolders\[\]\)\([^)]*\) = \{([^}]*)\};", text)
    if not table:
        raise SystemExit("plugin/help.cpp: kViewerFolders is not where it was")
    words = []
    for call in re.findall(r"\w+", table.group(1)):
        if call not in VIEWER_WORDS:
            raise SystemExit("plugin/help.cpp: a viewer folder from %s, which check_tables.py has no word for" % call)
        words.append(VIEWER_WORDS[call])
    return words + ["PATH"]


def meaning_value(meaning):
    """The code point a page says a named escape gives."""
    plain = re.sub(r"</?code>", "", meaning).strip()
    number = re.search(r"\((\d+)\)", plain)
    if number:
        return int(number.group(1))
    if plain == "space":
        return 0x20
    if plain.endswith("backslash"):
        return 0x5C
    last = plain.split()[-1] if plain else ""
    return ord(last) if len(last) == 1 else None


def check_escapes(source, problems):
    code = code_escapes(source)
    path = "docs/help/escapes.html"
    listed = {}
    for number, line in enumerate(read(source, path).splitlines(), 1):
        for letter, meaning in re.findall(r"<td><code>\\(.)</code></td><td>(.*?)</td>", line):
            value = meaning_value(meaning)
            if letter == "\\":
                if value != 0x5C:
                    problems.append("%s:%d: \\\\ gives %r, not a backslash" % (path, number, value))
                continue
            listed[letter] = number
            if letter not in code:
                problems.append("%s:%d: \\%s is listed, but the code has no such named escape" % (path, number, letter))
            elif value != code[letter]:
                problems.append("%s:%d: \\%s gives %s here, %s in the code" % (
                    path, number, letter, "U+%04X" % value if value is not None else "nothing", "U+%04X" % code[letter]))
    for letter in sorted(set(code) - set(listed)):
        problems.append("%s: the named escape \\%s of the code is not listed" % (path, letter))


def region(text, begin, end):
    """The text from `begin` up to `end` after it, and the line `begin` is on."""
    start = text.index(begin)
    return text[start:text.index(end, start)], text.count("\n", 0, start) + 1


def check_flags(source, problems):
    code = code_flags(source)
    path = "docs/help/escaped-form.html"
    listed_in, line = region(read(source, path), 'name="flag', "</table>")
    listed = sorted(int(bit) for bit in re.findall(r'<a name="flag\d+">(\d+)</a>', listed_in))
    if listed != code:
        problems.append("%s:%d: the bits of Ivro_Flags are %s here, %s in the code" % (path, line, listed, code))


def in_order(path, text, line, words, what, problems):
    """Whether `words` (a word, or None for one already found) stand in
    `text`, which begins on `line`, in that order; else a problem naming the
    first that does not, and the line after which it was looked for."""
    at = 0
    for word in words:
        if word is None:
            continue
        # A name of two words may break over lines.
        found = re.search(r"\b%s\b" % r"\s+".join(map(re.escape, word.split())), text[at:])
        if not found:
            problems.append("%s:%d: the %s do not name %r where the code has it, after %r" % (
                path, line + text.count("\n", 0, at), what, word, " ".join(text[max(0, at - 30):at].split())))
            return
        at += found.end()


def check_places(source, problems):
    places, previous = [], None
    for folder, subfolder in code_places(source):
        # A folder named once stands for its places one after the other
        # (the module's folder, then its Help subfolder).
        places.append(folder if folder != previous else None)
        places.append(subfolder + " subfolder" if subfolder else None)
        previous = folder
    text = read(source, "README-user.txt")
    listed, line = region(text, "Ivro looks for Ivro.chm", "A variable that")
    in_order("README-user.txt", listed, line, places, "places of the help file", problems)
    listed, line = region(text, "The help viewer, hh.exe,", "never")
    in_order("README-user.txt", listed, line, code_viewer_folders(source), "folders of the help viewer",
             problems)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--source", required=True)
    args = parser.parse_args()
    problems = []
    check_escapes(args.source, problems)
    check_flags(args.source, problems)
    check_places(args.source, problems)
    for problem in problems:
        print(problem, file=sys.stderr)
    if problems:
        return 1
    print("the named escapes, the bits of Ivro_Flags, the places of the help file and the folders of its "
          "viewer are the code's in every document")
    return 0


if __name__ == "__main__":
    sys.exit(main())
