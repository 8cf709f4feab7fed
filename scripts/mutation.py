#!/usr/bin/env python3
"""How sharp the tests are: faults planted in the code one at a time, each built
and run against the tests that cover its file, and counted as caught or not.

Debian 12 packages no mutation tool for C++ (its archive has none of Mull,
Dextool or the like), so this is the project's own. Not part of test.sh: a full
run takes an hour or more (the README gives the last figures).

    scripts/mutation.py                 the default run: 440 mutants of the core,
                                        70 of the module's files, seed 38
    scripts/mutation.py --report        the report of the results so far
    scripts/mutation.py --list          the mutants that would be drawn, not run
    scripts/mutation.py --select RE     only the drawn mutants whose description
                                        (file:line and change) matches RE
    scripts/mutation.py --named-only    only the named mutants (below)

The mutants. Each source of a group is read as C++ tokens; comments, string
and character literals and preprocessor lines are never changed, nor template
angle brackets, nor what static_assert and alignas hold. The operators:
  relational   < <=, <= <, > >=, >= >, == !=, != ==
  arithmetic   + -, - +, * /, / *, % *, << >>, >> <<, & |, | &, ^ |, and the
               compound assignments the same way; ++ --, -- ++
  logical      && ||, || &&, ! removed
  constant     an integer literal one up and one down
  negation     the condition of an if, a while or a for negated
  deletion     a statement that is a call, an assignment or an increment deleted
  boolean      true false, false true
A group's mutants are drawn with a fixed seed in proportion to each file's size
(its lines of code), at least MIN_PER_FILE from every file. A mutant is named by
its file, line and change; the change is shown in its line as
"{original => mutated}", which also identifies it when lines move.

The builds. The working tree is copied (tracked and new files) into
build/mutation/wN/src for each worker, and only the copy is ever changed; each
mutant is written there, built with ninja in the worker's own build folders,
run, and the file restored, also on every exit (an interrupt, an error). The
suites run stage by stage, the cheaper first, and the first that fails catches
the mutant:
  core    1. the native build with ASan and UBSan: core_tests on every scan
             path, and doc_tables;
          2. the native build without the SIMD paths: core_tests;
          3. the native build without sanitizers: core_tests on an emulated
             processor without AVX2 (QEMU);
          4. the 32-bit module's build under wine: core_tests on each path
             (the 32-bit code and wchar_t); for escape/scratch.cpp, whose
             heap half only the module has, also the soak.
  module  the 32-bit build under wine (wine's crash debugger switched off, so
          that a crash fails at once): the suites of the file's
          row in MODULE_SUITES.
Each mutant ends as caught (a test failed), timed out (a suite ran past five
times its time on the unchanged code), lived (every suite passed) or not built.
GoogleTest stops at the first failure (GTEST_FAIL_FAST), and the result names
the test that caught the mutant.

The results go to build/mutation/results.jsonl, one line a mutant, with a hash
of the tree they were made with: a run resumes where one stopped on the same
tree, and starts afresh when the tree changed. --recheck-lived instead keeps
what an earlier tree's run caught and runs the rest again: quick, while tests
are added, but only the fresh run is the figure to give.

Two lists beside this script: mutation-equivalent.txt names each mutant judged
equivalent (no test could tell it from the code: a larger array, a speed-only
change), each with a line of why; mutation-named.txt names mutants that are
always run besides the drawn ones, those a review found living. Both in the
form of the report: "file: the line with {original => mutated}", then an
indented line of why.

The report gives per file and group: drawn, not built, caught, timed out,
lived, equivalent, and the score (caught and timed out of those built), with
and without the equivalent ones; then every living mutant not listed as
equivalent as file:line and the change, and the named mutants.
"""

import argparse
import atexit
import collections
import hashlib
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
STATE = os.path.join(ROOT, 'build', 'mutation')
EQUIVALENT_LIST = os.path.join(ROOT, 'scripts', 'mutation-equivalent.txt')
NAMED_LIST = os.path.join(ROOT, 'scripts', 'mutation-named.txt')

SEED = 38
MIN_PER_FILE = 6
CORE_FILES = [
    'escape/args.cpp', 'escape/block_writer.h', 'escape/chars.cpp', 'escape/chars.h',
    'escape/escape_forms.cpp', 'escape/escapify.cpp', 'escape/escapify_parts.h', 'escape/expand.cpp',
    'escape/numbers.cpp', 'escape/ordinary_scan.cpp', 'escape/ordinary_scan_avx2.cpp', 'escape/ordinary_scan_sse2.h',
    'escape/scratch.cpp', 'escape/simd.cpp', 'escape/unit_writer.h', 'functions/argument_readers.cpp',
    'functions/search.cpp',
]
MODULE_FILES = ['functions/write.cpp', 'functions/find.cpp', 'plugin/help.cpp']
GROUP_COUNTS = {'core': 440, 'module': 70}

# The 32-bit Windows suites that cover a file of the module (or a test hook of
# its test build), the cheaper first.
MODULE_SUITES = [
    (r'^functions/write\.cpp$', ['module_tests', 'e2e_functions', 'e2e_full_disk', 'fault_tests']),
    (r'^functions/find\.cpp$', ['module_tests', 'e2e_functions', 'fault_tests']),
    (r'^plugin/help\.cpp$', ['help_tests', 'module_tests', 'fault_tests']),
    (r'^tests/faults/', ['fault_tests']),
    (r'^(plugin|functions|escape)/', ['module_tests', 'e2e_functions', 'e2e_errors', 'help_tests', 'fault_tests']),
]


def group_of(path):
    """core: the portable core, tested natively; module: the rest, under wine."""
    core = path in CORE_FILES or re.match(r'^(escape/(?!settings|shell_functions)|functions/(search|argument_readers)\.)',
                                          path)
    return 'core' if core else 'module'


# ---------------------------------------------------------------------------
# C++ tokens

TOKEN = re.compile(r'''
    (?P<space>[ \t\r\f\v]+|\n)
  | (?P<comment>//[^\n]*|/\*.*?\*/)
  | (?P<string>(?:u8|u|U|L)?R"(?P<delim>[^()\\\s"]{0,16})\(.*?\)(?P=delim)"
              |(?:u8|u|U|L)?"(?:\\.|[^"\\\n])*")
  | (?P<char>(?:u8|u|U|L)?'(?:\\.|[^'\\\n])+')
  | (?P<number>(?:0[xX][0-9a-fA-F']+|0[bB][01']+|[0-9][0-9']*(?:\.[0-9]*)?(?:[eE][+-]?[0-9]+)?)[uUlLfF]*)
  | (?P<ident>[A-Za-z_][A-Za-z0-9_]*)
  | (?P<punct><<=|>>=|->\*|\.\.\.|::|->|\+\+|--|<<|>>|<=|>=|==|!=|&&|\|\||[-+*/%&|^]=
              |[-+*/%<>=!&|^~?:;,.(){}\[\]\#])
''', re.S | re.X)

Token = collections.namedtuple('Token', 'kind text start end')

KEYWORDS = {
    'alignas', 'alignof', 'auto', 'bool', 'break', 'case', 'char', 'class', 'const', 'constexpr', 'continue',
    'decltype', 'default', 'delete', 'do', 'double', 'else', 'enum', 'explicit', 'extern', 'float', 'for', 'goto',
    'if', 'inline', 'int', 'long', 'namespace', 'new', 'noexcept', 'operator', 'return', 'short', 'signed',
    'sizeof', 'static', 'static_assert', 'static_cast', 'reinterpret_cast', 'const_cast', 'struct', 'switch',
    'template', 'this', 'throw', 'typedef', 'typename', 'union', 'unsigned', 'using', 'virtual', 'void',
    'volatile', 'while', 'wchar_t', 'char16_t', 'char32_t', 'true', 'false', 'nullptr',
}


def tokenize(text):
    """The tokens of a source, without spaces, comments and preprocessor lines."""
    tokens = []
    pos = 0
    line_start = True
    while pos < len(text):
        m = TOKEN.match(text, pos)
        if not m:
            raise ValueError('cannot read the source at offset %d: %r' % (pos, text[pos:pos + 20]))
        kind = 'string' if m.group('string') is not None else m.lastgroup
        if kind == 'punct' and m.group() == '#' and line_start:
            # A preprocessor line, with its continuations.
            end = pos
            while True:
                nl = text.find('\n', end)
                if nl < 0:
                    end = len(text)
                    break
                if text[nl - 1] == '\\':
                    end = nl + 1
                    continue
                end = nl
                break
            pos = end
            continue
        if kind == 'space':
            if m.group() == '\n':
                line_start = True
        elif kind != 'comment':
            line_start = False
            tokens.append(Token(kind, m.group(), m.start(), m.end()))
        pos = m.end()
    return tokens


def match_forward(tokens, i, open_, close):
    """The index of the token that closes tokens[i] (an `open_`), or None."""
    depth = 0
    for k in range(i, len(tokens)):
        t = tokens[k].text
        if t == open_:
            depth += 1
        elif t == close:
            depth -= 1
            if depth == 0:
                return k
    return None


TEMPLATE_INNER = {'::', ',', '*', '&', '...', '(', ')', '[', ']', '+', '-'}


def template_brackets(tokens):
    """The indexes of the tokens that are template angle brackets: a `<` after
    a name (or `template`) whose list holds only what a type or a constant
    argument holds, and the `>` or `>>` that closes it. A nested list is found
    by its own `<`."""
    brackets = set()
    for i, t in enumerate(tokens):
        if t.text != '<' or i == 0 or i in brackets:
            continue
        before = tokens[i - 1]
        if before.text == 'operator':
            brackets.add(i)
            continue
        if before.kind != 'ident' and before.text != 'template':
            continue
        declaration = before.text == 'template'
        depth = 0
        for k in range(i, len(tokens)):
            s = tokens[k].text
            if s == '<':
                depth += 1
            elif s in ('>', '>>'):
                depth -= 1 if s == '>' else 2
                if depth <= 0:
                    brackets.update((i, k))
                    break
            elif s in (';', '{', '}'):
                break
            elif declaration or tokens[k].kind in ('ident', 'number') or s in TEMPLATE_INNER:
                continue
            else:
                break
    return brackets


def skipped_spans(tokens):
    """Token index ranges whose contents are never changed: static_assert(...),
    alignas(...), __attribute__((...)), sizeof(...), operator names."""
    spans = []
    for i, t in enumerate(tokens):
        if t.text in ('static_assert', 'alignas', '__attribute__', 'sizeof', 'alignof', 'decltype') \
                and i + 1 < len(tokens) and tokens[i + 1].text == '(':
            k = match_forward(tokens, i + 1, '(', ')')
            if k is not None:
                spans.append((i, k))
        elif t.text == 'operator':
            spans.append((i, i + 1))
    return spans


TYPE_WORDS = KEYWORDS | {'size_t', 'uint8_t', 'uint16_t', 'uint32_t', 'uint64_t', 'int8_t', 'int16_t',
                         'int32_t', 'int64_t', 'uintptr_t', 'intptr_t', 'Unit', 'DWORD', 'BOOL', 'HANDLE',
                         'WCHAR', 'LPWSTR', 'LPCWSTR'}


def looks_like_type(token):
    s = token.text
    return token.kind == 'ident' and (s in TYPE_WORDS or s.endswith('_t') or s.startswith('__m')
                                      or re.match(r'^[A-Z][a-z]', s) is not None)


def is_operand_end(token):
    """Whether a binary operator may follow the token."""
    return token.kind == 'number' or token.text in (')', ']') or \
        (token.kind == 'ident' and token.text not in KEYWORDS - {'this', 'true', 'false', 'nullptr'})


SWAPS = {
    '<': ['<='], '<=': ['<'], '>': ['>='], '>=': ['>'], '==': ['!='], '!=': ['=='],
    '+': ['-'], '-': ['+'], '*': ['/'], '/': ['*'], '%': ['*'], '<<': ['>>'], '>>': ['<<'],
    '&': ['|'], '|': ['&'], '^': ['|'],
    '+=': ['-='], '-=': ['+='], '*=': ['/='], '/=': ['*='], '%=': ['*='], '<<=': ['>>='], '>>=': ['<<='],
    '&=': ['|='], '|=': ['&='], '^=': ['|='],
    '++': ['--'], '--': ['++'], '&&': ['||'], '||': ['&&'],
}
OPERATOR_KIND = {
    '<': 'relational', '<=': 'relational', '>': 'relational', '>=': 'relational', '==': 'relational',
    '!=': 'relational', '&&': 'logical', '||': 'logical',
}

Mutant = collections.namedtuple('Mutant', 'path start end replacement operator')


def integer_neighbours(text):
    m = re.match(r'^(0[xX])([0-9a-fA-F]+)([uUlL]*)$', text)
    if m:
        prefix, digits, suffix = m.groups()
        value = int(digits, 16)
        upper = any(c in 'ABCDEF' for c in digits)
        fmt = '%0' + str(len(digits)) + ('X' if upper else 'x')
        return [prefix + (fmt % v) + suffix for v in (value + 1, value - 1) if v >= 0]
    m = re.match(r'^(0[0-7]+)([uUlL]*)$', text)
    if m:
        value = int(m.group(1), 8)
        return ['0%o%s' % (v, m.group(2)) if v else '0' + m.group(2) for v in (value + 1, value - 1) if v >= 0]
    m = re.match(r'^([0-9]+)([uUlL]*)$', text)
    if m:
        value = int(m.group(1))
        return ['%d%s' % (v, m.group(2)) for v in (value + 1, value - 1) if v >= 0]
    return []  # floating point, binary, digit separators: left alone


def statement_mutants(path, tokens, skipped):
    """Deleted statements: a call, an assignment or an increment standing alone."""
    out = []
    starts_after = {';', '{', '}', 'else', 'do'}
    heads = {'if', 'while', 'for'}
    n = len(tokens)
    for s in range(n):
        prev = tokens[s - 1] if s else None
        if prev is not None and prev.text not in starts_after:
            if prev.text != ')':
                continue
            # A statement right after the header of an if, while or for.
            opener = None
            depth = 0
            for k in range(s - 1, -1, -1):
                if tokens[k].text == ')':
                    depth += 1
                elif tokens[k].text == '(':
                    depth -= 1
                    if depth == 0:
                        opener = k
                        break
            if opener is None or opener == 0 or tokens[opener - 1].text not in heads:
                continue
        if any(a <= s <= b for a, b in skipped):
            continue
        # The statement: up to the ';' at its own depth.
        depth = 0
        end = None
        for k in range(s, n):
            t = tokens[k].text
            if t in '([{':
                depth += 1
            elif t in ')]}':
                depth -= 1
                if depth < 0:
                    break
            elif t == ';' and depth == 0:
                end = k
                break
        if end is None or end == s:
            continue
        body = tokens[s:end]
        first = body[0]
        if first.text in KEYWORDS or first.kind not in ('ident', 'punct'):
            continue
        texts = [t.text for t in body]
        kind = None
        # A call: a name (a.b->c::d) and its parenthesised arguments.
        k = 0
        if first.kind == 'ident':
            while k + 2 < len(body) and body[k + 1].text in ('.', '->', '::') and body[k + 2].kind == 'ident':
                k += 2
            if k + 1 < len(body) and body[k + 1].text == '(':
                close = match_forward(body, k + 1, '(', ')')
                if close == len(body) - 1 and not looks_like_type(first):
                    kind = 'call'
        if kind is None:
            top = []
            depth = 0
            for j, t in enumerate(texts):
                if t in '([{':
                    depth += 1
                elif t in ')]}':
                    depth -= 1
                elif depth == 0 and (t == '=' or (t.endswith('=') and t not in ('==', '!=', '<=', '>='))):
                    top.append(j)
            lhs = body[:top[0]] if top else body
            adjacent = any(a.kind == 'ident' and b.kind == 'ident' for a, b in zip(lhs, lhs[1:]))
            typed = any(looks_like_type(t) or t.text in ('const', 'auto', 'static', 'constexpr') for t in lhs)
            if top and not adjacent and not typed:
                kind = 'assignment'
            elif not top and (texts[0] in ('++', '--') or texts[-1] in ('++', '--')) and not typed:
                kind = 'increment'
        if kind is not None:
            out.append(Mutant(path, first.start, tokens[end].end, ';', 'deletion'))
    return out


def condition_mutants(path, tokens, skipped):
    out = []
    for i, t in enumerate(tokens):
        if t.text not in ('if', 'while', 'for') or i + 1 >= len(tokens) or tokens[i + 1].text != '(':
            continue
        if any(a <= i <= b for a, b in skipped):
            continue
        close = match_forward(tokens, i + 1, '(', ')')
        if close is None:
            continue
        inner = tokens[i + 2:close]
        if t.text == 'for':
            semis = [k for k in range(i + 2, close) if tokens[k].text == ';'
                     and match_depth(tokens, i + 2, k) == 0]
            if len(semis) != 2 or semis[1] == semis[0] + 1:
                continue
            first, last = tokens[semis[0] + 1], tokens[semis[1] - 1]
        else:
            if not inner or any(x.text == ';' for x in inner):
                continue
            first, last = inner[0], inner[-1]
        out.append(Mutant(path, first.start, last.end, None, 'negation'))
    return out


def match_depth(tokens, a, b):
    depth = 0
    for k in range(a, b):
        if tokens[k].text in '([{':
            depth += 1
        elif tokens[k].text in ')]}':
            depth -= 1
    return depth


def mutants_of(path, text):
    tokens = tokenize(text)
    brackets = template_brackets(tokens)
    skipped = skipped_spans(tokens)
    out = []

    def in_skipped(i):
        return any(a <= i <= b for a, b in skipped)

    for i, t in enumerate(tokens):
        if in_skipped(i) or i in brackets:
            continue
        prev = tokens[i - 1] if i else None
        nxt = tokens[i + 1] if i + 1 < len(tokens) else None
        if t.kind == 'number':
            for r in integer_neighbours(t.text):
                out.append(Mutant(path, t.start, t.end, r, 'constant'))
        elif t.text in ('true', 'false'):
            out.append(Mutant(path, t.start, t.end, 'false' if t.text == 'true' else 'true', 'boolean'))
        elif t.text == '!' and nxt is not None:
            out.append(Mutant(path, t.start, t.end, '', 'logical'))
        elif t.text in SWAPS and t.kind == 'punct':
            if t.text in ('++', '--'):
                pass
            elif t.text in ('+', '-', '*', '&', '&&') and (prev is None or not is_operand_end(prev)
                                                           or (t.text in ('*', '&', '&&') and looks_like_type(prev))):
                continue  # unary, a pointer or a reference
            elif t.text in ('<', '>', '<<', '>>', '<=', '>=') and (prev is None or not is_operand_end(prev)):
                continue
            elif t.text in ('*', '&') and (i >= 2 and tokens[i - 2].text in ('(', ',') and prev.kind == 'ident'
                                           and nxt is not None and nxt.text in (')', ',', '>')):
                continue  # a type in a parameter list or a cast
            for r in SWAPS[t.text]:
                out.append(Mutant(path, t.start, t.end, r, OPERATOR_KIND.get(t.text, 'arithmetic')))
    out += condition_mutants(path, tokens, skipped)
    out += statement_mutants(path, tokens, skipped)
    return out


def apply(text, m):
    if m.operator == 'negation':
        return text[:m.start] + '!(' + text[m.start:m.end] + ')' + text[m.end:]
    return text[:m.start] + m.replacement + text[m.end:]


def collapse(s):
    return ' '.join(s.split())


def describe(text, m):
    """"line: the line with {original => mutated}" for a mutant of `text`."""
    line_start = text.rfind('\n', 0, m.start) + 1
    line_end = text.find('\n', m.end)
    if line_end < 0:
        line_end = len(text)
    original = text[m.start:m.end]
    mutated = '!(' + original + ')' if m.operator == 'negation' else m.replacement
    shown = re.sub(r'\s+', ' ', text[line_start:m.start] + '{' + original + ' => ' + mutated + '}'
                   + text[m.end:line_end]).strip()
    return text.count('\n', 0, m.start) + 1, shown


def code_lines(text):
    return sum(1 for line in re.sub(r'/\*.*?\*/', '', text, flags=re.S).splitlines()
               if line.strip() and not line.strip().startswith(('//', '#')))


class Drawn:
    """One drawn mutant: its file, line, description (the key) and new text."""

    def __init__(self, path, line, desc, mutated, operator):
        self.path, self.line, self.desc, self.mutated, self.operator = path, line, desc, mutated, operator

    @property
    def key(self):
        return self.path + ': ' + self.desc

    @property
    def where(self):
        return '%s:%d' % (self.path, self.line)


def candidates(path):
    with open(os.path.join(ROOT, path), encoding='utf-8') as f:
        text = f.read()
    seen = {}
    out = []
    for m in mutants_of(path, text):
        mutated = apply(text, m)
        digest = hashlib.sha1(mutated.encode()).hexdigest()
        if digest in seen:
            continue
        line, desc = describe(text, m)
        seen[digest] = True
        n = sum(1 for d in out if d.desc == desc or d.desc.startswith(desc + ' #'))
        if n:
            desc += ' #%d' % (n + 1)
        out.append(Drawn(path, line, desc, mutated, m.operator))
    return text, out


def draw(group, files, count, seed):
    sizes = {}
    cands = {}
    for path in files:
        text, cands[path] = candidates(path)
        sizes[path] = code_lines(text)
    total = sum(sizes.values())
    drawn = []
    for path in files:
        n = max(MIN_PER_FILE, round(count * sizes[path] / total))
        pool = cands[path]
        rng = random.Random('%s:%s' % (seed, path))
        picked = rng.sample(range(len(pool)), min(n, len(pool)))
        drawn += [pool[k] for k in sorted(picked)]
    return drawn


def read_list(path):
    """[(key, why)] of an equivalence or named list."""
    entries = []
    if not os.path.exists(path):
        return entries
    with open(path, encoding='utf-8') as f:
        lines = f.read().splitlines()
    for k, line in enumerate(lines):
        if not line.strip() or line.startswith('#') or line.startswith((' ', '\t')):
            continue
        why = lines[k + 1].strip() if k + 1 < len(lines) and lines[k + 1].startswith((' ', '\t')) else ''
        if not why:
            sys.exit('%s:%d: every mutant needs an indented line of why under it' % (path, k + 1))
        entries.append((line.strip(), why))
    return entries


def named_mutant(key):
    """A mutant of mutation-named.txt: one of the drawn kind when its change is
    among the file's candidates, else the change made as written."""
    path, _, desc = key.partition(': ')
    text, pool = candidates(path)
    for d in pool:
        if d.desc == desc:
            return d
    m = re.match(r'^(.*?)\{([^{}]*) => ([^{}]*)\}(.*)$', desc)
    if not m:
        sys.exit('named mutant without a {original => mutated} change: ' + key)
    before, original, mutated, after = m.groups()
    wanted = collapse(before + original + after)
    lines = text.split('\n')
    hits = []
    for k, line in enumerate(lines):
        if collapse(line) == wanted and line.count(original.strip()) == 1:
            hits.append(k)
    if len(hits) != 1:
        sys.exit('named mutant found %d times in %s, not once: %s' % (len(hits), path, key))
    k = hits[0]
    lines[k] = lines[k].replace(original.strip(), mutated.strip(), 1)
    return Drawn(path, k + 1, desc, '\n'.join(lines), 'named')


# ---------------------------------------------------------------------------
# Builds and runs

def tree_files():
    out = subprocess.run(['git', 'ls-files', '-z', '--cached', '--others', '--exclude-standard'],
                         cwd=ROOT, check=True, capture_output=True).stdout.decode()
    return sorted(p for p in out.split('\0') if p and os.path.isfile(os.path.join(ROOT, p)))


def tree_hash(files):
    h = hashlib.sha256()
    for p in files:
        if p.endswith('.md') or p.startswith('scripts/mutation'):
            continue
        h.update(p.encode() + b'\0')
        with open(os.path.join(ROOT, p), 'rb') as f:
            h.update(hashlib.sha256(f.read()).digest())
    return h.hexdigest()[:16]


def sync_copy(files, dest):
    """Makes dest hold the tree's files, writing only those that differ (so
    that ninja rebuilds only what changed)."""
    for p in files:
        src = os.path.join(ROOT, p)
        dst = os.path.join(dest, p)
        with open(src, 'rb') as f:
            data = f.read()
        try:
            with open(dst, 'rb') as f:
                if f.read() == data:
                    continue
        except FileNotFoundError:
            os.makedirs(os.path.dirname(dst), exist_ok=True)
        with open(dst, 'wb') as f:
            f.write(data)
        shutil.copymode(src, dst)


def run(cmd, cwd=None, env=None, timeout=None, log=None):
    """(returncode or 'timeout', output)."""
    try:
        p = subprocess.run(cmd, cwd=cwd, env=env, timeout=timeout, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        out = p.stdout.decode(errors='replace')
        code = p.returncode
    except subprocess.TimeoutExpired as e:
        out = (e.stdout or b'').decode(errors='replace')
        code = 'timeout'
    if log:
        with open(log, 'a') as f:
            f.write('$ %s\n%s\n' % (' '.join(cmd), out))
    return code, out


with open('/proc/cpuinfo') as cpuinfo:
    HAS_AVX2 = re.search(r'\bavx2\b', cpuinfo.read()) is not None
# A GoogleTest test that took this long on the unchanged code runs after the
# others of its program, so that most mutants are caught by the quick ones.
SLOW_MS = 150


class Stage:
    """A build folder of a worker and the CTest tests run in it."""

    def __init__(self, name, configure, targets, tests, wine=False):
        self.name, self.configure, self.targets, self.tests, self.wine = name, configure, targets, tests, wine
        self.key = name + ':' + ','.join(tests)


def core_stages(path):
    native = ['-DCMAKE_BUILD_TYPE=RelWithDebInfo']
    # The heap's own half of the scratch, which every test build replaces
    # with its counting one, is the module's: its soak watches the memory.
    shipped = [Stage('x86', None, ['all'], ['soak_short'], wine=True)] if path == 'escape/scratch.cpp' else []
    return [
        Stage('native', native, ['core_tests'], ['core_tests_avx2', 'core_tests_sse2', 'core_tests_scalar',
                                                 'doc_tables']),
        Stage('scalar', native + ['-DIVRO_SIMD=OFF'], ['core_tests'], ['core_tests']),
        Stage('plain', native + ['-DIVRO_SANITIZE=OFF'], ['core_tests'],
              ['core_tests_sse2_without_avx2', 'core_tests_avx2_refused']
              + ([] if HAS_AVX2 else ['core_tests_avx2'])),
        Stage('x86', None, ['core_tests'], ['core_tests', 'core_tests_sse2', 'core_tests_scalar'], wine=True),
    ] + shipped


def module_stages(path):
    for pattern, suites in MODULE_SUITES:
        if re.search(pattern, path):
            return [Stage('x86', None, ['all'], suites, wine=True)]
    raise SystemExit('no suites for ' + path)


class Worker:
    def __init__(self, index, files, log_dir):
        self.index = index
        self.dir = os.path.join(STATE, 'w%d' % index)
        self.src = os.path.join(self.dir, 'src')
        self.files = files
        self.ready = {}      # stage name -> {test: seconds} of the unchanged code
        self.log = os.path.join(log_dir, 'w%d.log' % index)
        self.current = None  # (path, original text) while a mutant is written
        self.wine_started = False

    def restore(self):
        if self.current:
            path, original = self.current
            with open(os.path.join(self.src, path), 'w', encoding='utf-8') as f:
                f.write(original)
            self.current = None

    def build_dir(self, stage):
        return os.path.join(self.dir, stage.name)

    def env(self, gtest_filter):
        env = dict(os.environ)
        env['GTEST_FAIL_FAST'] = '1'
        # Wine's crash debugger cannot start: a crashing program ends at once,
        # where the debugger's window would wait for the timeout.
        env['WINEDLLOVERRIDES'] = 'winedbg.exe=d'
        env.pop('GTEST_FILTER', None)
        if gtest_filter:
            env['GTEST_FILTER'] = gtest_filter
        return env

    def prepare(self, stage):
        """Configures and builds a stage on the unchanged code, and times its
        tests there; they must pass."""
        if stage.key in self.ready:
            return
        d = self.build_dir(stage)
        if not os.path.exists(os.path.join(d, 'build.ninja')):
            if stage.configure is None:
                args = ['-DCMAKE_TOOLCHAIN_FILE=%s/cmake/toolchain-i686-mingw32.cmake' % self.src,
                        '-DCMAKE_BUILD_TYPE=RelWithDebInfo']
            else:
                args = stage.configure
            code, out = run(['cmake', '-S', self.src, '-B', d, '-G', 'Ninja'] + args, log=self.log)
            if code != 0:
                raise SystemExit('mutation: configuring %s failed:\n%s' % (d, out[-3000:]))
        code, out = run(['ninja', '-C', d] + stage.targets, log=self.log)
        if code != 0:
            raise SystemExit('mutation: the unchanged code does not build in %s:\n%s' % (d, out[-3000:]))
        if stage.wine:
            self.start_wine(d)
        passes = []
        known = self.ctest_names(d)
        for test in stage.tests:
            if test not in known:
                print('mutation: no test %s in %s: that suite is left out' % (test, d), flush=True)
                continue
            start = time.time()
            code, out = self.ctest(d, test, 1800, None)
            if code != 0:
                raise SystemExit('mutation: %s fails on the unchanged code in %s:\n%s' % (test, d, out[-3000:]))
            seconds = time.time() - start
            slow = [name for name, ms in re.findall(r'^\[       OK \] (\S+) \((\d+) ms\)', out, re.M)
                    if int(ms) >= SLOW_MS]
            if slow:
                # The quick tests, then the slow ones.
                passes.append((test, '-' + ':'.join(slow), seconds))
                passes.append((test, ':'.join(slow), seconds))
            else:
                passes.append((test, None, seconds))
        self.ready[stage.key] = passes

    def ctest_names(self, d):
        code, out = run(['ctest', '-N'], cwd=d)
        return set(re.findall(r'Test\s+#\d+: (\S+)', out))

    def ctest(self, d, test, timeout, gtest_filter):
        return run(['ctest', '--output-on-failure', '--timeout', str(int(timeout)), '-R', '^%s$' % test],
                   cwd=d, env=self.env(gtest_filter), timeout=timeout + 60, log=self.log)

    def start_wine(self, d):
        if self.wine_started:
            return
        prefix = os.path.join(d, 'wine-prefix')
        wine_run = os.path.join(d, 'wine-run')
        env = dict(os.environ, WINEPREFIX=prefix, WINEDLLOVERRIDES='mscoree,mshtml=')
        # Wine's background processes would hold a pipe open: none is given.
        quiet = dict(env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not os.path.exists(os.path.join(prefix, 'system.reg')):
            subprocess.run([wine_run, 'wineboot', '--init'], **quiet)
            subprocess.run(['wineserver', '-w'], **quiet)
        subprocess.run(['wineserver', '-k'], **quiet)
        subprocess.run(['wineserver', '-p'], check=True, **quiet)
        subprocess.run([wine_run, 'cmd', '/c', 'exit'], **quiet)
        self.wine_started = prefix
        atexit.register(lambda: subprocess.run(['wineserver', '-k'], env=env, stderr=subprocess.DEVNULL))

    def judge(self, drawn, stages):
        """Writes the mutant, builds and runs it stage by stage; returns the
        result record."""
        src_file = os.path.join(self.src, drawn.path)
        with open(src_file, encoding='utf-8') as f:
            original = f.read()
        self.current = (drawn.path, original)
        started = time.time()
        try:
            with open(src_file, 'w', encoding='utf-8') as f:
                f.write(drawn.mutated)
            for stage in stages:
                self.prepare_unchanged(stage)
                if not self.ready[stage.key]:
                    continue  # none of its tests in this tree
                d = self.build_dir(stage)
                code, out = run(['ninja', '-C', d] + stage.targets, log=self.log)
                if code != 0:
                    return self.record(drawn, 'not built', stage.name, '', started)
                for test, gtest_filter, seconds in self.ready[stage.key]:
                    code, out = self.ctest(d, test, 5 * seconds + 20, gtest_filter)
                    if code == 'timeout' or '***Timeout' in out:
                        return self.record(drawn, 'timed out', stage.name, test, started)
                    if code != 0:
                        return self.record(drawn, 'caught', stage.name, failing_test(test, out), started)
            return self.record(drawn, 'lived', '', '', started)
        finally:
            self.restore()

    def prepare_unchanged(self, stage):
        if stage.key in self.ready:
            return
        # Built and timed on the unchanged code first.
        path, original = self.current
        with open(os.path.join(self.src, path), encoding='utf-8') as f:
            mutated = f.read()
        with open(os.path.join(self.src, path), 'w', encoding='utf-8') as f:
            f.write(original)
        try:
            self.prepare(stage)
        finally:
            with open(os.path.join(self.src, path), 'w', encoding='utf-8') as f:
                f.write(mutated)

    def record(self, drawn, status, stage, test, started):
        return {'key': drawn.key, 'where': drawn.where, 'path': drawn.path, 'status': status, 'stage': stage,
                'test': test, 'seconds': round(time.time() - started, 1)}


def failing_test(ctest_name, out):
    failed = re.findall(r'^\[  FAILED  \] (\S+)', out, re.M)
    if failed:
        return '%s %s' % (ctest_name, failed[0])
    runs = re.findall(r'^\[ RUN      \] (\S+)', out, re.M)
    if runs:
        return '%s %s (crashed)' % (ctest_name, runs[-1])
    return ctest_name


# ---------------------------------------------------------------------------
# Results and the report

def load_results(path):
    header, results = None, {}
    if os.path.exists(path):
        with open(path) as f:
            for line in f:
                rec = json.loads(line)
                if 'tree' in rec:
                    header = rec
                else:
                    results[rec['key']] = rec
    return header, results


def percent(a, b):
    return '%5.1f %%' % (100.0 * a / b) if b else '    -  '


def report(drawn_by_group, named, results, equivalent, out=sys.stdout):
    eq = dict(equivalent)
    lines = []
    living = []
    wrongly_equivalent = []
    for group, drawn in drawn_by_group.items():
        rows = collections.OrderedDict()
        for d in drawn:
            rows.setdefault(d.path, []).append(d)
        lines.append('%s: %d mutants drawn' % (group, len(drawn)))
        lines.append('  %-32s %5s %9s %6s %9s %5s %10s %8s %18s' % (
            'file', 'drawn', 'not built', 'caught', 'timed out', 'lived', 'equivalent', 'score',
            'without equivalent'))
        totals = collections.Counter()
        for path, ds in list(rows.items()) + [('all', drawn)]:
            c = collections.Counter()
            for d in ds:
                r = results.get(d.key)
                status = r['status'] if r else 'not run'
                c[status] += 1
                c['drawn'] += 1
                if status == 'lived' and d.key in eq:
                    c['equivalent'] += 1
                if path != 'all':
                    if status == 'lived' and d.key not in eq:
                        living.append(d)
                    if status in ('caught', 'timed out') and d.key in eq:
                        wrongly_equivalent.append(d)
            built = c['caught'] + c['timed out'] + c['lived']
            found = c['caught'] + c['timed out']
            lines.append('  %-32s %5d %9d %6d %9d %5d %10d %8s %18s%s' % (
                path, c['drawn'], c['not built'], c['caught'], c['timed out'], c['lived'], c['equivalent'],
                percent(found, built), percent(found, built - c['equivalent']),
                '   (%d not run yet)' % c['not run'] if c['not run'] else ''))
            if path == 'all':
                totals = c
        lines.append('')
    if living:
        lines.append('Living mutants not listed as equivalent (%d):' % len(living))
        lines += ['  %s  %s' % (d.where, d.desc) for d in living]
        lines.append('')
    if wrongly_equivalent:
        lines.append('Listed as equivalent but caught (the list is wrong):')
        lines += ['  %s  %s' % (d.where, d.desc) for d in wrongly_equivalent]
        lines.append('')
    drawn_keys = {d.key for ds in list(drawn_by_group.values()) + [named] for d in ds}
    stale = [k for k in eq if k not in drawn_keys]
    if stale:
        lines.append('Listed as equivalent, not drawn in this run (%d): kept, not checked' % len(stale))
        lines.append('')
    if named:
        caught = [d for d in named if results.get(d.key, {}).get('status') in ('caught', 'timed out')]
        same = [d for d in named if results.get(d.key, {}).get('status') == 'lived' and d.key in eq]
        lines.append('Named mutants (%s): %d of %d caught, %d equivalent' % (
            os.path.basename(NAMED_LIST), len(caught), len(named), len(same)))
        for d in named:
            r = results.get(d.key)
            status = 'equivalent' if d in same else r['status'] if r else 'not run'
            lines.append('  %-10s %s  %s%s' % (status, d.where, d.desc,
                                               '  [%s]' % r['test'] if r and r['test'] else ''))
        lines.append('')
    out.write('\n'.join(lines) + '\n')


# ---------------------------------------------------------------------------

def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--seed', type=int, default=SEED)
    ap.add_argument('--core', type=int, default=GROUP_COUNTS['core'], help='core mutants to draw')
    ap.add_argument('--module', type=int, default=GROUP_COUNTS['module'], help='module mutants to draw')
    ap.add_argument('--workers', type=int, default=2)
    ap.add_argument('--select', help='only the mutants whose "file:line: change" matches this expression, '
                    'from all of the files\' mutants, drawn or not')
    ap.add_argument('--named-only', action='store_true')
    ap.add_argument('--list', action='store_true', help='print the drawn mutants and stop')
    ap.add_argument('--report', action='store_true', help='print the report of the results so far and stop')
    ap.add_argument('--by-test', action='store_true', help='with --report: the mutants each test caught first')
    ap.add_argument('--recheck-lived', action='store_true',
                    help="keep what an earlier tree's run caught, run the rest again")
    ap.add_argument('--results', help='the results file (build/mutation/results.jsonl; with --select or '
                    '--named-only, results-select.jsonl, so that the full run\'s results stay)')
    args = ap.parse_args()
    partial = bool(args.select or args.named_only)
    if args.results is None:
        args.results = os.path.join(STATE, 'results-select.jsonl' if partial and not args.report else 'results.jsonl')

    # --select chooses among every mutant of the files, not the draw alone.
    everything = 10**9 if args.select else None
    groups = {}
    if args.core:
        groups['core'] = draw('core', CORE_FILES, everything or args.core, args.seed)
    if args.module:
        groups['module'] = draw('module', MODULE_FILES, everything or args.module, args.seed)
    named = [named_mutant(k) for k, _ in read_list(NAMED_LIST)]
    equivalent = read_list(EQUIVALENT_LIST)
    if args.named_only:
        groups = {}
    if args.select:
        keep = lambda d: re.search(args.select, d.where + ': ' + d.desc)
        groups = {g: [d for d in ds if keep(d)] for g, ds in groups.items()}
        named = [d for d in named if keep(d)]

    if args.list:
        for group, ds in groups.items():
            for d in ds:
                print('%-6s %-10s %s  %s' % (group, d.operator, d.where, d.desc))
        for d in named:
            print('named  %-10s %s  %s' % (d.operator, d.where, d.desc))
        return 0

    # A run needs its packages and, for the Windows stages, an X server: it
    # starts again inside one.
    if not args.report and os.environ.get('IVRO_MUTATION_XVFB') is None:
        subprocess.run([os.path.join(ROOT, 'scripts', 'install-deps.sh')], check=True)
        os.environ['IVRO_MUTATION_XVFB'] = '1'
        os.execvp('xvfb-run', ['xvfb-run', '-a', '-s', '-screen 0 1280x1024x24', sys.executable,
                               os.path.abspath(__file__)] + sys.argv[1:])

    files = tree_files()
    tree = tree_hash(files)
    header, results = load_results(args.results)
    if args.report:
        report(groups, named, results, equivalent)
        if args.by_test:
            by = collections.defaultdict(list)
            for r in results.values():
                if r['status'] in ('caught', 'timed out'):
                    by[r['test'] or r['stage']].append(r)
            for test in sorted(by, key=lambda t: (-len(by[t]), t)):
                print('%4d  %s' % (len(by[test]), test))
                if len(by[test]) <= 3:
                    for r in by[test]:
                        print('        %s  %s' % (r['where'], r['key'].partition(': ')[2]))
        return 0

    os.makedirs(STATE, exist_ok=True)
    if header is not None and header['tree'] != tree:
        stale = dict(results)
        os.replace(args.results, args.results + '.stale')
        results = {}
        if args.recheck_lived:
            for k, r in stale.items():
                if r['status'] in ('caught', 'timed out', 'not built'):
                    r = dict(r, carried=header['tree'])
                    results[k] = r
            print('mutation: the tree changed; %d results carried from tree %s, the rest run again'
                  % (len(results), header['tree']))
        else:
            print('mutation: the tree changed since the results in %s were made: starting afresh' % args.results)
        header = None
    if header is None:
        with open(args.results, 'w') as f:
            f.write(json.dumps({'tree': tree, 'seed': args.seed}) + '\n')
            for r in results.values():
                f.write(json.dumps(r) + '\n')

    todo = []
    for group, ds in groups.items():
        todo += [(group, d) for d in ds]
    todo += [('named', d) for d in named]
    todo = [(g, d) for g, d in todo if d.key not in results]
    todo = list({d.key: (g, d) for g, d in reversed(todo)}.values())[::-1]  # a named one drawn too: once
    # The core first, then the module; within each, file by file.
    todo.sort(key=lambda gd: (gd[0] == 'module' or group_of(gd[1].path) == 'module', gd[1].path))
    print('mutation: tree %s, seed %d: %d mutants to run, %d done before' % (tree, args.seed, len(todo),
                                                                           len(results)))
    if not todo:
        if not partial:
            report(groups, named, results, equivalent)
        return 0

    log_dir = os.path.join(STATE, 'logs')
    os.makedirs(log_dir, exist_ok=True)
    workers = [Worker(k, files, log_dir) for k in range(max(1, args.workers))]
    for w in workers:
        os.makedirs(w.src, exist_ok=True)
        sync_copy(files, w.src)

    def restore_all(*_):
        for w in workers:
            w.restore()

    atexit.register(restore_all)

    def on_signal(signum, _frame):
        restore_all()
        os._exit(128 + signum)

    signal.signal(signal.SIGINT, on_signal)
    signal.signal(signal.SIGTERM, on_signal)

    queue = collections.deque(todo)
    lock = threading.Lock()
    done = [0]
    failure = []
    started = time.time()

    def work(w):
        while not failure:
            with lock:
                if not queue:
                    return
                group, d = queue.popleft()
            stages = core_stages(d.path) if group_of(d.path) == 'core' else module_stages(d.path)
            try:
                r = w.judge(d, stages)
            except BaseException as e:  # a stage that cannot be made stops the run
                failure.append(e)
                return
            with lock:
                results[d.key] = r
                with open(args.results, 'a') as f:
                    f.write(json.dumps(r) + '\n')
                done[0] += 1
                print('[%d/%d %s] %-9s %s  %s%s' % (done[0], len(todo), time.strftime('%H:%M:%S'), r['status'],
                                                    d.where, d.desc[:120],
                                                    '  [%s]' % r['test'] if r['test'] else ''), flush=True)

    threads = [threading.Thread(target=work, args=(w,)) for w in workers]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    restore_all()
    if failure:
        print(failure[0], file=sys.stderr)
        return 1
    print('mutation: %d mutants in %.0f min' % (done[0], (time.time() - started) / 60))
    if not partial:
        report(groups, named, results, equivalent)
    return 0


if __name__ == '__main__':
    sys.exit(main())
