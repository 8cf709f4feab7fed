#!/usr/bin/python3
"""Writes the benchmark inputs and the lists of cases that the runners read.

    inputs.py DIR [NAME:FLAGS=UNITS]...

Every input is written twice, with the same text: NAME-UNITS.u16 (UTF-16LE,
no byte-order mark, no terminating NUL) for Ivro, natively and under wine, and
NAME-UNITS.txt (UTF-8) for Python, bash and fish. Inputs whose expansion is
known also get NAME-UNITS.expect.u16 / .expect.txt, so that every runner can
check that it reads the text the same way as the others.

UNITS is always the length of the text handed to the routine, in UTF-16 code
units: for the module's exports the whole argument text (commas, flags and
pattern included), for the core routines and the peers the text itself.

The short texts (16 and 128 units) are cut from the same texts as the long
ones and show what a call costs beside its work: the core, the exports and
Python's codec run on them; bash and fish do not (to keep a run of
bench/run.sh short), nor do SplitArgs and the exports that search, replace
and compare.

DIR/fits.txt lists the texts (NAME FLAGS) whose escaped forms under FLAGS
may not fit an 8191-unit result: NAME-8191.u16 is written for each, the native
runner finds the longest prefix that fits, and a second run given
NAME:FLAGS=UNITS for each also runs the escaping benchmarks on that prefix.

The scripts (Cyrillic, CJK, accented Latin, emoji), alone and with special
characters, are escaped under flag 0 (Escapify) and flag 1 (Escapify-1, every
character from U+0080 escaped: Python's job), and their numeric escapes,
as Python writes them, are expanded (NAME-escaped).
"""

import os
import random
import sys

SHORT = (16, 128)
LONG = (1024, 8191)
SIZES = SHORT + LONG
SMALL, BIG = LONG

WORDS = (
    "the quick brown fox jumps over lazy dog while seven wizards quietly hex "
    "a jovial mob of zealous programmers who write scripts for shells and "
    "files with names lines tabs columns every night before morning comes"
).split()

SPECIALS = '"%&<>[]^`|'
ASTRAL = [0x1F600, 0x1F680, 0x10348, 0x1D11E, 0x1F4A9]


def units(text):
    """Length in UTF-16 code units."""
    return len(text.encode("utf-16-le")) // 2


def prose(rng, n, commas):
    """Words, spaces and full stops (and commas when asked): n units exactly,
    with no whitespace at either end."""
    out = []
    length = 0
    start = True
    while length < n + 16:
        w = rng.choice(WORDS)
        if start:
            w = w.capitalize()
            start = False
        r = rng.random()
        if r < 0.08:
            w += "."
            start = True
        elif commas and r < 0.16:
            w += ","
        w += " "
        out.append(w)
        length += len(w)
    text = "".join(out)[:n]
    if text[-1] == " ":
        text = text[:-1] + "."
    return text


def mixed(rng, n):
    """Prose (with commas) and the escapes \\t \\n \\u20ac \\U0001F600 between
    the words; returns (text, expansion). The 8-digit form of \\U is the one
    every peer reads (Python's needs exactly eight digits)."""
    escapes = [("\\t", "\t"), ("\\n", "\n"), ("\\u20ac", "\u20ac"), ("\\U0001F600", "\U0001F600")]
    text, expanded = [], []
    length = 0
    while True:
        tokens = []
        w = rng.choice(WORDS)
        if rng.random() < 0.1:
            w += ","
        tokens.append((w, w))
        if rng.random() < 0.4:
            tokens.append(rng.choice(escapes))
        else:
            tokens.append((" ", " "))
        for t, e in tokens:
            if length + len(t) > n:
                pad = "x" * (n - length)
                text.append(pad)
                expanded.append(pad)
                return "".join(text), "".join(expanded)
            text.append(t)
            expanded.append(e)
            length += len(t)


def special(rng, n):
    """Control characters, the shell's special characters, backslashes,
    U+0080..U+00A0, characters beyond U+FFFF, and some letters and digits
    (so that escapes meet following hexadecimal digits): n units exactly."""
    out = []
    length = 0
    while length < n:
        r = rng.random()
        if r < 0.30:
            c = chr(rng.choice([c for c in range(1, 32)] + [127]))
        elif r < 0.55:
            c = rng.choice(SPECIALS)
        elif r < 0.70:
            c = chr(rng.choice(ASTRAL))
        elif r < 0.75:
            c = "\\"
        elif r < 0.80:
            c = chr(rng.randint(0x80, 0xA0))
        else:
            c = rng.choice("abcdefxyzABCDEF0123456789")
        if length + units(c) > n:
            c = "z"
        out.append(c)
        length += units(c)
    return "".join(out)


# Sentences of the scripts most of the world writes, each repeated into a
# long text (a French pangram for the Latin letters with accents).
SCRIPTS = {
    "cyrillic": "Съешь же ещё этих мягких французских булок да выпей чаю. "
                "Широкая электрификация южных губерний даст мощный толчок подъёму сельского хозяйства. ",
    "cjk": "我能吞下玻璃、而不伤身体。天地玄黄、宇宙洪荒、日月盈昃、辰宿列张。"
           "いろはにほへと、ちりぬるを、色は匂へど、散りぬるを。",
    "latin": "Voix ambiguë d'un cœur qui au zéphyr préfère les jattes de kiwis. "
             "Dès Noël où un zéphyr haï me vêt de glaçons würmiens je dîne d'exquis rôtis de bœuf. ",
    "emoji": "😀🚀🎉 👍🔥💯 🐍🦀 🌍🌙⭐ 🍕🍣☕ 😂🤔🙈 ",
}


def script(name, n, specials):
    """n units of a script's sentences, alone or with the special text's kinds
    of characters in place of a third of the spaces and CJK punctuation:
    control characters, the shell's special characters and backslashes. Cut
    at a character and padded with spaces."""
    rng = random.Random(4)
    sentence = SCRIPTS[name]
    out = []
    length = 0
    while length < n:
        for c in sentence:
            if specials and c in " 、。" and rng.random() < 0.34:
                r = rng.random()
                c = (chr(rng.choice(list(range(1, 32)) + [127])) if r < 0.4 else
                     rng.choice(SPECIALS) if r < 0.8 else "\\")
            out.append(c)
            length += units(c)
    return pad(prefix_units("".join(out), n), n)


def pad(text, n):
    return text + " " * (n - units(text))


def escaped(text, n):
    """The numeric escapes of text, as Python's unicode_escape writes them,
    cut at an escape and padded with z to n units; returns (escaped text,
    its expansion). Units below 256 that take \\x are written \\u00HH,
    which Python reads the same: Ivro's \\x reads up to four digits, and a
    letter after \\xe9 would be one of them."""
    out, expanded = [], []
    length = 0
    for c in text:
        e = c.encode("unicode_escape").decode("ascii")
        if e.startswith("\\x"):
            e = "\\u00" + e[2:]
        if length + len(e) > n:
            break
        out.append(e)
        expanded.append(c)
        length += len(e)
    z = "z" * (n - length)
    return "".join(out) + z, "".join(expanded) + z


def prefix_units(text, n):
    """The longest prefix of text of at most n UTF-16 units."""
    out = []
    length = 0
    for c in text:
        if length + units(c) > n:
            break
        out.append(c)
        length += units(c)
    return "".join(out)


def write(directory, name, n, text, expect=None):
    assert units(text) == n, (name, n, units(text))
    base = os.path.join(directory, f"{name}-{n}")
    with open(base + ".u16", "wb") as f:
        f.write(text.encode("utf-16-le"))
    with open(base + ".txt", "w", encoding="utf-8", newline="") as f:
        f.write(text)
    if expect is not None:
        with open(base + ".expect.u16", "wb") as f:
            f.write(expect.encode("utf-16-le"))
        with open(base + ".expect.txt", "w", encoding="utf-8", newline="") as f:
            f.write(expect)
    return f"{name}-{n}"


def main():
    directory = sys.argv[1]
    # NAME FLAGS -> UNITS, from the native runner: the longest prefix of
    # NAME-8191 whose escaped form under FLAGS fits.
    fits = {}
    for arg in sys.argv[2:]:
        key, units_ = arg.rsplit("=", 1)
        fits[key.replace(":", " ")] = int(units_)
    fit = fits.get("special 0")
    os.makedirs(directory, exist_ok=True)

    native, wine, peers = [], [], []
    wanted = ["special 0"]

    def case(lst, impl, inp, n, f):
        lst.append(f"{impl} {inp} {n} {f}")

    # One long text of each kind; the shorter inputs are its prefixes (cut at
    # a token boundary and padded where the kind needs it).
    special_full = special(random.Random(3), 8191)
    for n in SIZES:
        short = n in SHORT
        # The peers of each task: Python's codec on every size, bash and fish
        # on the long texts only.
        decoders = ("python-decode",) + (() if short else ("bash-printf-b", "fish-unescape"))
        encoders = ("python-encode",) + (() if short else ("bash-printf-q", "fish-escape"))

        p = prose(random.Random(1), n, commas=False)
        f = write(directory, "plain", n, p, expect=p)
        for impl in ("ExpandEscapes", "Escapify", "memcpy") + (() if short else ("SplitArgs",)):
            case(native, impl, "plain", n, f)
        for impl in ("f_exp", "f_escapify"):
            case(wine, impl, "plain", n, f)
        for impl in decoders + encoders:
            case(peers, impl, "plain", n, f)

        d = "\\x41" * (n // 4) + "z" * (n % 4)
        f = write(directory, "dense", n, d, expect="A" * (n // 4) + "z" * (n % 4))
        for impl in ("ExpandEscapes", "memcpy"):
            case(native, impl, "dense", n, f)
        case(wine, "f_exp", "dense", n, f)
        for impl in decoders:
            case(peers, impl, "dense", n, f)

        m, e = mixed(random.Random(2), n)
        f = write(directory, "mixed", n, m, expect=e)
        # Escaping mixed text too, on the short texts only: each backslash
        # doubles, so 8191 units would not fit escaped.
        for impl in ("ExpandEscapes", "memcpy") + (("Escapify",) if short else ("SplitArgs",)):
            case(native, impl, "mixed", n, f)
        for impl in ("f_exp",) + (("f_escapify",) if short else ()):
            case(wine, impl, "mixed", n, f)
        for impl in decoders + (("python-encode",) if short else ()):
            case(peers, impl, "mixed", n, f)

        s = special_full if n == 8191 else special(random.Random(3), n)
        f = write(directory, "special", n, s)
        # The escaped form of 8191 units of special text cannot fit the 8191
        # units of a result: Ivro fails with an overflow there, so Ivro's
        # escaping runs on the shorter texts and at the longest prefix that
        # fits.
        if n != 8191:
            case(native, "Escapify", "special", n, f)
            case(wine, "f_escapify", "special", n, f)
        case(native, "memcpy", "special", n, f)
        for impl in encoders:
            case(peers, impl, "special", n, f)

        if short:
            continue

        a = "a" * (n - 5) + ",aa,0"
        f = write(directory, "find-worst", n, a)
        case(wine, "f_expfind", "find-worst", n, f)

        r = "a,b,0," + "a" * (n - 6)
        f = write(directory, "replace-worst", n, r)
        case(wine, "f_expreplace", "replace-worst", n, f)
        r = "A,b,1," + "a" * (n - 6)
        f = write(directory, "replace-worst-nocase", n, r)
        case(wine, "f_expreplace", "replace-worst-nocase", n, f)

        # Two equal plain strings; for an even total the second one starts
        # with a space, which splitting skips.
        k = (n - 1) // 2
        c = p[:k] + "," + " " * (n - 1 - 2 * k) + p[:k]
        f = write(directory, "cmp-plain", n, c)
        case(wine, "f_expcmp", "plain", n, f)

    # The scripts, alone and with special characters: escaped under flag 0
    # (the letters stay) and flag 1 (every character from U+0080 escaped, as
    # Python's codec does), and their numeric escapes expanded.
    for name in sorted(SCRIPTS):
        for mixed_in in (False, True):
            inp = name + ("-special" if mixed_in else "")
            full = script(name, BIG, mixed_in)
            # The escaped forms of 8191 units may not fit: each flag runs
            # on the longest prefix that does (fits.txt asks the native
            # runner for them).
            write(directory, inp, BIG, full)
            wanted.append(f"{inp} 0")
            wanted.append(f"{inp} 1")
            long0, long1 = fits.get(f"{inp} 0"), fits.get(f"{inp} 1")
            for n in SHORT + (SMALL,) + tuple(u for u in sorted({long0, long1}) if u is not None):
                f = write(directory, inp, n, pad(prefix_units(full, n), n))
                if n == long0 or n <= SMALL:
                    case(native, "Escapify", inp, n, f)
                    case(wine, "f_escapify", inp, n, f)
                if n == long1 or n <= SMALL:
                    case(native, "Escapify-1", inp, n, f)
                case(native, "memcpy", inp, n, f)
                case(peers, "python-encode", inp, n, f)
            for n in SIZES:
                e, x = escaped(full, n)
                f = write(directory, inp + "-escaped", n, e, expect=x)
                for impl in ("ExpandEscapes", "memcpy"):
                    case(native, impl, inp + "-escaped", n, f)
                case(wine, "f_exp", inp + "-escaped", n, f)
                case(peers, "python-decode", inp + "-escaped", n, f)

    if fit is not None:
        s = prefix_units(special_full, fit)
        f = write(directory, "special", fit, s)
        case(native, "Escapify", "special", fit, f)
        case(native, "memcpy", "special", fit, f)
        case(wine, "f_escapify", "special", fit, f)
        for impl in ("python-encode", "bash-printf-q", "fish-escape"):
            case(peers, impl, "special", fit, f)

    with open(os.path.join(directory, "fits.txt"), "w") as f:
        f.write("\n".join(wanted) + "\n")
    for name, lst in (("native", native), ("wine", wine), ("peers", peers)):
        with open(os.path.join(directory, f"cases-{name}.txt"), "w") as f:
            f.write("\n".join(lst) + "\n")
    write_kinds(os.path.join(directory, "kinds"), special(random.Random(3), 1024))


def write_kinds(directory, text):
    """The 1024 units of special text taken apart by what Escapify does with
    each unit, for the account of where its time goes (not in the report):
    DIR/kinds holds its own cases-native.txt, so that the native runner times
    them (ivro_native_bench DIR/kinds) and bench/profile.sh counts them
    (kinds/table-1024 and so on)."""
    os.makedirs(directory, exist_ok=True)
    table = "".join("\x01\x02" if ord(c) > 0xFFFF else c for c in text)
    kinds = {
        "special": text,
        # Every pair replaced by two control characters: the same units from
        # the table, and no pair.
        "table": table,
        # Pairs alone, of the characters of the special text.
        "pairs": "".join(chr(ASTRAL[k % len(ASTRAL)]) for k in range(512)),
        # Units from 256 on that stay as they are.
        "wide": "".join(chr(0x20AC + k % 64) for k in range(1024)),
        "plain": prose(random.Random(1), 1024, commas=False),
    }
    cases = [f"Escapify {name} 1024 {write(directory, name, 1024, kind)}" for name, kind in kinds.items()]
    with open(os.path.join(directory, "cases-native.txt"), "w") as f:
        f.write("\n".join(cases) + "\n")


if __name__ == "__main__":
    main()
