#!/usr/bin/env python3
"""The players' guide's message table, checked against the program.

Finds every text that setup.exe can show a player in its log, its window's
list and status line, or a message box, by reading the C++ sources in src/,
and compares them with the table of messages in docs/players.md.

    tools/docs/messages.py            check; exit 1 and print what is wrong
    tools/docs/messages.py --list     print every text found, with its place

Where a text comes from. The texts reach the player through these calls:
  setup_log(format, ...)       a log line (the file, the list, the status line)
  log_line(sink, text)         a line of the LHA reader, logged by setup_log
  MessageBoxA(owner, text, ...) a box
  SetWindowTextA(st, text)     the status line, and st = put("STATIC", text, ...)
  show_status(text)            the status line, told to screen readers
  ask_player(in, text, ...)    a box that the install asks the window to show
The status line while an install runs is drawn from what the install does,
in the words of the functions in STATUS_LINE_PARTS (src/setup/status.cpp).
A text argument is followed to where its words are: a string literal, a
static const char array, both sides of a ?: choice, a local that is
assigned or formatted with fmt(name, size, format, ...), the return values
of a function of ours, or, for a parameter, the arguments that every call
of that function passes. So fail("...") and fail(reason) are found through
the setup_log("ERROR: %s", reason) inside fail.

In a format, an argument whose values are all words (a reason, a choice
of words) is put in place; any other argument (a path, a number) stays a
conversion. In the table a conversion is written as a placeholder in angle
brackets, named for the reader: `cannot write <path> (error <number>)`. Only
the positions of placeholders count when texts are compared, not their names.

The check fails when
  - a text of the program has no row in the table (the script prints the
    row to add, with placeholders guessed from the code);
  - a row's text is no longer in the program;
  - a text argument of one of the calls above cannot be followed to words;
  - a string literal of src/ that reads like a sentence was reached by none
    of the calls above and is not listed in NOT_MESSAGES below: a new way
    for a text to reach the player must be taught to this script, and a
    text that never does must be listed there.
"""
import os
import re
import sys

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TABLE_HEADING = "## Every message"

# Texts in src/ that read like sentences but are no message of the log or a
# box: labels, titles, names, command lines. A text that a player can read
# in the log, the list, the status line or a box never belongs here.
NOT_MESSAGES = {
    # the window's intro, labels, buttons and browse dialogs
    "Install Tarnok: Vorblen as a native Windows game.\nYou need your two Tarnok CDs (discs, ISO images or copied folders) and the official 1.03 update (TARNO103.EXE).",
    "Install to:",
    "Install the prebuilt game (fast)",
    "Convert the game on this PC (needs the build kit, a few minutes)",
    "Start menu shortcut",
    "Desktop shortcut",
    "Copy details",
    "Another copy...",
    "Another copy of Tarnok disc %d",
    "Disc images, or DISK1 or DISK2 in a disc or folder\0*.iso;*.cue;*.bin;DISK1;DISK2\0All files\0*.*\0",
    "CD images (*.iso;*.cue;*.bin)\0*.iso;*.cue;*.bin\0All files\0*.*\0",
    "1.03 update (TARNO103.EXE)\0TARNO103.EXE;*.exe\0All files\0*.*\0",
    "Tarnok CD 1 (drive or folder)",
    "Tarnok CD 2 (drive or folder)",
    "Tarnok CD 1",
    "Tarnok CD 2",
    "Tarnok 1.03 update",
    "Install folder",
    # titles of the window and the boxes
    "Tarnok: Vorblen - Pellurin Setup",
    "Tarnok setup",
    "Tarnok uninstall",
    # names in the Start menu, on the desktop and in the list of installed programs
    "Tarnok - Vorblen (Pellurin)",
    "Pellurin port (fan project)",
    # the field names of "The path of <field> ..." boxes
    "the 1.03 update",
    "the install folder",
    # the system's words for an error without words of its own, inside <reason>
    "Unknown error.",
    # the default install folder, a field's text
    "C:\\Games\\Tarnok PC",
    # the shortcuts' name
    "Tarnok - Vorblen",
    # a check of the build
    "the default TARNOK.CFG is 272 bytes",
    # why a file list does not parse, for its tests and fuzzer: the log says
    # only that the list is damaged
    "not five fields split by tabs",
    "the path is not a safe path below the install folder",
    "the size is not a number",
    "the CRC-32 is not 8 hex digits",
    "the source is empty, too long or holds a control character",
    "the kind is neither fixed nor changing",
    "more than 100000 files",
    "out of memory",
    "a file list of another version",
    "not a Tarnok file list",
    "the line is too long",
    "the line does not end in CR LF",
}

# Files whose texts are the words of the report of an install attempt
# (setup.exe /report, Copy details), which the guide describes in a section
# of its own: none of them reaches the log, the window or a box as a
# message. A text of theirs that did would still be found as one.
REPORT_SOURCES = {"src/setup/details.cpp", "src/setup/details_sys.cpp"}

# Static const char arrays that hold no message: the game's default sound
# settings file.
NOT_MESSAGE_ARRAYS = {"default_cfg"}

# Functions that pass on a line whose words are found elsewhere: the LHA
# reader's log callback hands on what log_line got.
# The window's list and status line show each log line (on_log); a question
# that the install thread asks through the window is shown by on_ask, and
# what it says later by on_ask_say. show_status shows what its callers pass,
# and on_status_timer draws the status line from STATUS_LINE_PARTS.
PASS_THROUGH = {"log_member", "on_log", "on_ask", "on_ask_say", "show_status", "on_status_timer"}

# The calls that show a text, and which argument is the text.
SHOWN_BY = {
    "log_line": 1,  # a line of the LHA reader, logged by log_member
    "MessageBoxA": 1,  # a box
    "ask_player": 1,  # a box that the install thread asks the window to show
    "show_status": 0,  # the status line
}

# The status line while an install runs: the line of a disc's copy and its
# parts (the speed, the time left), the wait for a stalled drive, the
# compiles and the steps' lines. Each format these functions fill in, and
# each text they return, is a text of its own, every conversion a
# placeholder; a part that is left out while it is not known yet (a choice
# between a separator and nothing) is shown in, as on the line at its
# fullest.
STATUS_LINE_PARTS = {"status_copy_line", "status_speed_part", "eta_words", "status_wait_line",
                     "status_compile_line", "status_step_line"}

# Calls whose text no player sees: setup_trace names a step for a
# debugger that is attached to the program (the tests that stop it there).
NOT_SHOWN_BY = {"setup_trace"}

# Functions whose text is the system's words for an error with its number,
# or a description of a source made of many parts (cd_tell: a drive with
# its label, an image with its layout): one placeholder however its words
# are made. Followed into, each would read as rows of its own
# ("... (error <number>)", every kind of image).
SYSTEM_REASON = {"error_text", "cd_tell"}
# Files whose literals are the parts of such a placeholder's words: the
# kinds, layouts and drive details that cd_tell puts together.
PLACEHOLDER_WORDS = {"src/cdsrc/tell.cpp"}

# Functions that change the text they show: refuse_in_box shows the refused
# reason with a capital letter (toupper) and a full stop.
CAPITALISED = {"refuse_in_box": "toupper"}

CONVERSION = re.compile(r"%[-+ #0]*(?:\*|\d+)?(?:\.(?:\*|\d+))?(?:hh|h|ll|l|z|j|t|I64)?[diouxXcsp]")
PLACEHOLDER = re.compile(r"<[^<>]+>")
HOLE = "\x01"  # one conversion or placeholder, whatever its name


# ---------------------------------------------------------------- sources


class Source:
    """One file: its text with comments blanked, its literals replaced by
    markers \x02N\x03, and its functions."""

    def __init__(self, path, text):
        self.path = path
        self.text = text
        self.literals = []  # (value, line)
        self.code = self._mark_literals(text)
        self.functions = self._functions()
        self._calls = {}
        self.arrays = {}
        for m in re.finditer(r"static\s+const\s+char\s+(\w+)\s*\[\s*\]\s*=\s*((?:\x02\d+\x03\s*)+);", self.code):
            self.arrays[m.group(1)] = m.group(2)
        self.not_messages = set()
        for name in NOT_MESSAGE_ARRAYS:
            self.not_messages.update(int(i) for i in re.findall(r"\x02(\d+)\x03", self.arrays.get(name, "")))

    def _mark_literals(self, text):
        out = []
        i, n = 0, len(text)
        while i < n:
            c = text[i]
            if text.startswith("//", i):
                j = text.find("\n", i)
                j = n if j < 0 else j
                out.append(" " * (j - i))
                i = j
            elif text.startswith("/*", i):
                j = text.find("*/", i + 2)
                j = n if j < 0 else j + 2
                out.append(re.sub(r"[^\n]", " ", text[i:j]))
                i = j
            elif c == "'":
                j = i + 1
                while j < n and text[j] != "'":
                    j += 2 if text[j] == "\\" else 1
                out.append(" " * (j + 1 - i))
                i = j + 1
            elif c == '"':
                j = i + 1
                while j < n and text[j] != '"':
                    j += 2 if text[j] == "\\" else 1
                value = unescape(text[i + 1 : j])
                line = text.count("\n", 0, i) + 1
                # "a" "b" is one literal "ab"
                k = len(out)
                while k > 0 and out[k - 1].isspace():
                    k -= 1
                if k > 0 and out[k - 1].startswith("\x02") and self.literals:
                    last = self.literals[-1]
                    self.literals[-1] = (last[0] + value, last[1])
                    out.append(" " * (j + 1 - i))
                else:
                    out.append("\x02%d\x03" % len(self.literals))
                    self.literals.append((value, line))
                i = j + 1
            else:
                out.append(c)
                i += 1
        return "".join(out)

    def _functions(self):
        """name -> list of (params, body start, body end) for definitions
        whose opening brace stands at the start of a line."""
        found = {}
        for m in re.finditer(r"\n\{\n", self.code):
            head_end = m.start()
            # the head runs back to the end of the previous statement,
            # definition or blank line
            head_start = max(self.code.rfind(x, 0, head_end) + len(x) for x in (";\n", "}\n", "\n\n", ")\n#"))
            head = self.code[max(head_start, 0) : head_end]
            hm = re.search(r"(\w+)\s*\(([^()]*(?:\([^()]*\)[^()]*)*)\)\s*(?:const\s*)?$", head.strip())
            if not hm:
                continue
            end = self.code.find("\n}\n", m.end() - 1)
            end = len(self.code) if end < 0 else end + 2
            found.setdefault(hm.group(1), []).append((param_names(hm.group(2)), m.end() - 1, end))
        for m in re.finditer(r"(?m)^[A-Za-z][^\n;{}]*?\b(\w+)\s*\(([^()\n]*)\)\s*\{[^\n]*\}$", self.code):
            found.setdefault(m.group(1), []).append((param_names(m.group(2)), m.start(2), m.end()))
        return found

    def calls(self, name):
        """The calls of name in this file, found once."""
        if name not in self._calls:
            self._calls[name] = list(calls(self.code, name))
        return self._calls[name]

    def function_at(self, pos):
        for name, defs in self.functions.items():
            for params, start, end in defs:
                if start <= pos < end:
                    return name, params, start, end
        return None

    def line_of(self, pos):
        return self.code.count("\n", 0, pos) + 1


def unescape(s):
    out = []
    i = 0
    simple = {"n": "\n", "t": "\t", "r": "\r", "0": "\0", "\\": "\\", '"': '"', "'": "'"}
    while i < len(s):
        if s[i] == "\\" and i + 1 < len(s):
            c = s[i + 1]
            if c == "x":
                m = re.match(r"[0-9a-fA-F]{1,2}", s[i + 2 :])
                out.append(chr(int(m.group(0), 16)))
                i += 2 + len(m.group(0))
                continue
            out.append(simple.get(c, c))
            i += 2
        else:
            out.append(s[i])
            i += 1
    return "".join(out)


def param_names(text):
    """The names of a definition's parameters (None for an unnamed one)."""
    names = []
    for p in split_args(text):
        m = re.search(r"(\w+)\s*(?:\[[^\]]*\])?\s*$", p)
        names.append(m.group(1) if m and p.strip() != "void" else None)
    return names


def split_args(s):
    """The arguments of a call's text, split at commas outside brackets."""
    args, depth, cur = [], 0, []
    for c in s:
        if c in "([{":
            depth += 1
        elif c in ")]}":
            depth -= 1
        if c == "," and depth == 0:
            args.append("".join(cur).strip())
            cur = []
        else:
            cur.append(c)
    if "".join(cur).strip():
        args.append("".join(cur).strip())
    return args


def past_closing(code, i):
    """The position just past the ')' that closes the '(' before position i."""
    depth = 1
    while i < len(code) and depth:
        if code[i] == "(":
            depth += 1
        elif code[i] == ")":
            depth -= 1
        i += 1
    return i


def calls(code, name):
    """(position, argument texts) of every call of name in code."""
    for m in re.finditer(r"(?<![\w.>])%s\s*\(" % re.escape(name), code):
        i = past_closing(code, m.end())
        if re.match(r"\s*(?:const\s*)?\{", code[i:]):
            continue  # the function's definition
        line = code[code.rfind("\n", 0, m.start()) + 1 : m.start()]
        if re.fullmatch(r"[A-Za-z_][\w\s*&:]*", line) and re.match(r"\s*;", code[i:]):
            continue  # a declaration at file scope, in a header or before its use
        yield m.start(), split_args(code[m.end() : i - 1])


def all_calls(code):
    """(name, position, argument texts) of every call in code."""
    for m in re.finditer(r"(?<![\w.>])(\w+)\s*\(", code):
        if m.group(1) in ("if", "while", "for", "switch", "return", "sizeof"):
            continue
        i = past_closing(code, m.end())
        yield m.group(1), m.start(), split_args(code[m.end() : i - 1])


def is_wording(text):
    """A text with words in it, not a path: a reason or a choice of words that
    can stand in a message. Conversions and placeholders do not count."""
    bare = re.sub(HOLE + r"<[^<>]*>", "", CONVERSION.sub("", text.replace("%%", "%")))
    return re.search(r"[A-Za-z]{2,}", bare) is not None and (" " in bare.strip() or "\\" not in bare)


def is_words(text):
    """A text that reads like a sentence: two words or more."""
    bare = CONVERSION.sub(" ", text.replace("%%", "%"))
    return re.search(r"[A-Za-z]{2,}[^\\\n]*\s[A-Za-z]{2,}", bare) is not None


class Program:
    def __init__(self, sources):
        self.sources = sources
        self.used = set()  # (file, literal index) reached from a call that shows text
        self.problems = []
        # What each function formats into a parameter, once followed: a
        # later search that meets it again, with the parameter already on
        # its own path, still gets the texts.
        self.formatted = {}

    def values(self, src, expr, pos, depth=0, seen=None):
        """The texts an expression at pos can stand for; None when it cannot
        be followed to them."""
        seen = set() if seen is None else seen
        expr = expr.strip()
        while expr.startswith("(") and expr.endswith(")") and balanced(expr[1:-1]):
            expr = expr[1:-1].strip()
        expr = re.sub(r"^\((?:const\s+)?char\s*\*\)\s*", "", expr)
        if depth > 16:
            return None
        if re.fullmatch(r"(?:\x02\d+\x03\s*)+", expr):
            idx = [int(i) for i in re.findall(r"\x02(\d+)\x03", expr)]
            for i in idx:
                self.used.add((src.path, i))
            return ["".join(src.literals[i][0] for i in idx)]
        choice = split_choice(expr)
        if choice:
            out = []
            for part in choice:
                v = self.values(src, part, pos, depth + 1, seen)
                if v is None:
                    return None
                out += v
            return out
        if expr in ("NULL", "nullptr", "0"):
            return []
        m = re.fullmatch(r"(\w+)\s*\((.*)\)", expr, re.S)
        if m:
            if m.group(1) in SYSTEM_REASON:
                return None
            return self.returns_of(m.group(1), depth + 1, seen)
        if re.fullmatch(r"\w+", expr):
            return self.identifier(src, expr, pos, depth + 1, seen)
        return None

    def returns_of(self, name, depth, seen):
        """The texts the functions of that name return; None for a function
        that is not ours."""
        key = ("returns", name)
        if key in seen:
            return []
        seen.add(key)
        out, found = [], False
        for s in self.sources:
            for params, start, end in s.functions.get(name, []):
                found = True
                for m in re.finditer(r"\breturn\s+([^;]+);", s.code[start:end]):
                    v = self.values(s, m.group(1), start + m.start(), depth, seen)
                    if v:
                        out += v
        return out if found else None

    def identifier(self, src, name, pos, depth, seen):
        key = (src.path, name, pos)
        if key in seen:
            return []
        seen.add(key)
        if name in src.arrays:
            return self.values(src, src.arrays[name], pos, depth, seen)
        where = src.function_at(pos)
        if not where:
            return None
        fname, params, start, end = where
        body = src.code[start:end]
        out = []
        complete = True  # every place that gives it a value was followed
        places = 0  # places that give it a value

        def take(v):
            nonlocal complete, places
            places += 1
            if v is None:
                complete = False
            else:
                out.extend(v)

        # assignments and initialised declarations
        for m in re.finditer(r"(\bchar\s+)?(?<![\w.>])%s\s*(\[[^\]]*\])?\s*=(?!=)\s*([^;]+);" % re.escape(name), body):
            if m.group(2) and not m.group(1):
                continue  # one element set, not the text
            take(self.values(src, m.group(3), start + m.start(), depth, seen))
        # formatted into
        for p, args in list(calls(body, "fmt")) + list(calls(body, "fmt_path")):
            if args and args[0] == name:
                take(self.format(src, args[2], args[3:], start + p, depth, seen))
        # handed to a function of ours that formats into it
        for fn, p, args in all_calls(body):
            if name not in args:
                continue
            if fn in SYSTEM_REASON:
                take(None)
                continue
            i = args.index(name)
            for s in self.sources:
                for fparams, fstart, fend in s.functions.get(fn, []):
                    if i < len(fparams) and fparams[i]:
                        v = self.formatted_param(s, fparams[i], fstart, fend, depth, seen)
                        if v:
                            take(v)
        # a parameter: whatever the callers pass
        if name in params:
            i = params.index(name)
            callers = 0
            for s in self.sources:
                for p, args in s.calls(fname):
                    if s is src and start <= p < end:
                        continue  # a call of itself
                    if i < len(args):
                        callers += 1
                        take(self.values(s, args[i], p, depth, seen))
            if not callers:
                complete = False  # called through a pointer only
        if not complete or not places:
            return None  # a macro, a member, or a value of unknown origin
        # an empty initial value is no text
        return [t for t in out if t]

    def formatted_param(self, s, param, start, end, depth, seen):
        """The texts a function formats into one of its parameters, itself
        or through a function of ours that it hands the parameter on to."""
        out = []
        body = s.code[start:end]
        key = ("formats", s.path, start, param)
        if key in self.formatted:
            return list(self.formatted[key])
        if key in seen or depth > 16:
            return out
        seen.add(key)
        for p, args in calls(body, "fmt"):
            if args and args[0] == param:
                out += self.format(s, args[2], args[3:], start + p, depth, seen) or []
        for fn, p, args in all_calls(body):
            if fn == "fmt" or fn in SYSTEM_REASON or param not in args:
                continue
            i = args.index(param)
            for t in self.sources:
                for fparams, fstart, fend in t.functions.get(fn, []):
                    if i < len(fparams) and fparams[i]:
                        out += self.formatted_param(t, fparams[i], fstart, fend, depth + 1, seen)
        self.formatted[key] = out
        return out

    def format(self, src, fmt_expr, args, pos, depth=0, seen=None):
        """The texts of a format with its arguments: word arguments in place."""
        formats = self.values(src, fmt_expr, pos, depth + 1, seen)
        if not formats:
            return None
        out = []
        for f in formats:
            texts = [""]
            k = 0
            last = 0
            for m in CONVERSION.finditer(f):
                piece = f[last : m.start()].replace("%%", "%")
                texts = [t + piece for t in texts]
                arg = args[k] if k < len(args) else ""
                k += 1 + m.group(0).count("*")
                if m.group(0).count("*"):
                    arg = args[k - 1] if k - 1 < len(args) else ""
                words = None
                if m.group(0).endswith("s") and arg:
                    v = self.values(src, arg, pos, depth + 1, seen)
                    if v and all(is_wording(x) for x in v):
                        words = v
                if words:
                    texts = [t + w for t in texts for w in words]
                else:
                    texts = [t + HOLE + guess(m.group(0), arg) for t in texts]
                last = m.end()
            piece = f[last:].replace("%%", "%")
            out += [t + piece for t in texts]
        return out

    def part_format(self, src, fmt_expr, args, pos):
        """The text of a status line part's format: a choice of literals in
        place as its longest, any other argument a placeholder."""
        formats = self.values(src, fmt_expr, pos)
        if not formats:
            return None
        out = []
        for f in formats:
            text, k, last = "", 0, 0
            for m in CONVERSION.finditer(f):
                text += f[last : m.start()].replace("%%", "%")
                arg = args[k] if k < len(args) else ""
                k += 1 + m.group(0).count("*")
                choice = split_choice(arg) or [arg]
                literal = all(re.fullmatch(r"\s*\x02\d+\x03\s*", c) for c in choice)
                if m.group(0).endswith("s") and literal:
                    text += max(self.values(src, arg, pos), key=len)
                else:
                    text += HOLE + guess(m.group(0), arg)
                last = m.end()
            out.append(text + f[last:].replace("%%", "%"))
        return out

    def status_line_parts(self, add):
        """The texts of STATUS_LINE_PARTS, handed to add."""
        for src in self.sources:
            for name in STATUS_LINE_PARTS:
                for params, start, end in src.functions.get(name, []):
                    body = src.code[start:end]
                    for p, args in calls(body, "fmt"):
                        add(src, start + p, self.part_format(src, args[2], args[3:], start + p), "status line part")
                    for m in re.finditer(r"\breturn\s+(\x02\d+\x03)\s*;", body):
                        texts = [t for t in self.values(src, m.group(1), start + m.start()) if t]
                        if texts:
                            add(src, start + m.start(), texts, "status line part")

    def shown(self):
        """Every text that reaches a player, as the keys of a dict in the
        order found; a conversion is HOLE followed by a guessed placeholder."""
        found = {}

        def add(src, pos, texts, what):
            fn = src.function_at(pos)
            if not fn:
                return  # a declaration, not a call
            if fn[0] in PASS_THROUGH:
                return
            if not texts:
                self.problems.append(
                    "%s:%d: cannot follow the text of this %s to its words; teach tools/docs/messages.py"
                    % (rel(src.path), src.line_of(pos), what))
                return
            if fn[0] in CAPITALISED:
                if CAPITALISED[fn[0]] not in src.code[fn[2] : fn[3]]:
                    self.problems.append("%s: %s no longer capitalises its text; update CAPITALISED in "
                                         "tools/docs/messages.py" % (rel(src.path), fn[0]))
                texts = [t[:1].upper() + t[1:] for t in texts]
            for t in texts:
                if re.search(r"[A-Za-z]", re.sub(HOLE + r"<[^<>]*>", "", t)):
                    found.setdefault(t, [])
                else:
                    self.problems.append(
                        "%s:%d: this %s shows %r, whose words cannot be found; teach tools/docs/messages.py"
                        % (rel(src.path), src.line_of(pos), what, shown_form(t)))

        for src in self.sources:
            for pos, args in calls(src.code, "setup_log"):
                add(src, pos, self.format(src, args[0], args[1:], pos), "setup_log")
            for name, at in SHOWN_BY.items():
                for pos, args in calls(src.code, name):
                    if at < len(args):
                        add(src, pos, self.values(src, args[at], pos), name)
            for pos, args in calls(src.code, "SetWindowTextA"):
                if args[0] == "st":
                    add(src, pos, self.values(src, args[1], pos), "status line text")
            for m in re.finditer(r"\bst\s*=\s*put\s*\(", src.code):
                args = next(calls(src.code[m.start() :], "put"))[1]
                add(src, m.start(), self.values(src, args[1], m.start()), "status line text")
        self.status_line_parts(add)
        return found

    def origin(self, text):
        """Where the longest literal that is part of the text stands."""
        best, where = -1, "src/"
        k = key(text)
        for src in self.sources:
            for value, line in src.literals:
                v = key(CONVERSION.sub(HOLE, value.replace("%%", "%")))
                if len(v) > best and v and v in k and is_wording(value):
                    best, where = len(v), "%s:%d" % (rel(src.path), line)
        return where

    def loose_sentences(self):
        """Literals that read as sentences and that no call reached."""
        out = []
        for src in self.sources:
            if rel(src.path).replace(os.sep, "/") in REPORT_SOURCES | PLACEHOLDER_WORDS:
                continue
            traced = {src.line_of(pos) for name in NOT_SHOWN_BY for pos, _ in src.calls(name)}
            for i, (value, line) in enumerate(src.literals):
                if (src.path, i) in self.used or value in NOT_MESSAGES or i in src.not_messages:
                    continue
                if line in traced:
                    continue
                if not is_words(value) or looks_like_command(value):
                    continue
                out.append("%s:%d: %r" % (rel(src.path), line, value))
        return out


def looks_like_command(v):
    """A command line: a program's name and options, no prose."""
    return bool(re.match(r"\S+\.exe\s", v) or re.search(r"\s[-/][a-z]{1,2}\s", v))


def balanced(s):
    d = 0
    for c in s:
        d += c == "("
        d -= c == ")"
        if d < 0:
            return False
    return d == 0


def split_choice(expr):
    """The two branches of a top-level a ? b : c, or None."""
    depth = 0
    q = None
    for i, c in enumerate(expr):
        if c in "([":
            depth += 1
        elif c in ")]":
            depth -= 1
        elif c == "?" and depth == 0 and q is None:
            q = i
        elif c == ":" and depth == 0 and q is not None:
            return [expr[q + 1 : i], expr[i + 1 :]]
    return None


def guess(conversion, arg):
    """A placeholder name for a conversion, from its argument's code."""
    a = arg.lower()
    if conversion.endswith("c"):
        return "<letter>"
    if not conversion.endswith("s"):
        return "<number>"
    for words, name in (
        (("describe",), "<source>"),
        (("command",), "<command>"),
        (("cls",), "<control>"),
        (("method",), "<method>"),
        (("dir", "folder", "base"), "<folder>"),
        (("path", "src", "dst", "from", "child", "exe", "log", "to"), "<path>"),
        (("name",), "<name>"),
        (("opt",), "<option>"),
    ):
        if any(w in a for w in words):
            return name
    return "<text>"


BASE = [TOP]  # places are shown relative to the folder that holds src/


def rel(path):
    return os.path.relpath(path, BASE[0])


def load_sources(root):
    sources = []
    for folder, _, names in sorted(os.walk(root)):
        for n in sorted(names):
            if n.endswith((".cpp", ".h")):
                p = os.path.join(folder, n)
                with open(p, encoding="utf-8") as f:
                    sources.append(Source(p, f.read()))
    return sources


# ---------------------------------------------------------------- the table


def table_texts(md):
    """The texts of the message table: the code spans of each row's first
    cell, in the section that TABLE_HEADING starts."""
    start = md.find("\n" + TABLE_HEADING)
    if start < 0:
        return None
    end = md.find("\n## ", start + 1)
    section = md[start : end if end > 0 else len(md)]
    texts = []
    for line in section.split("\n"):
        if not line.startswith("|") or re.match(r"\|\s*-", line):
            continue
        cell = re.split(r"(?<!\\)\|", line)[1]
        for span in re.findall(r"`([^`]+)`", cell):
            # A box's text may run over lines, which a table cell shows as <br>.
            texts.append(span.replace("\\|", "|").replace("<br>", "\n"))
    return texts


def key(text):
    """A text as compared: every conversion or placeholder one hole."""
    text = text.split(HOLE)
    out = text[0]
    for part in text[1:]:
        out += HOLE + re.sub(r"^<[^<>]+>", "", part)
    return PLACEHOLDER.sub(HOLE, out)


def shown_form(text):
    """A program text as a row shows it: placeholders in angle brackets."""
    return re.sub(HOLE + r"(<[^<>]+>)", r"\1", text).replace("\n", "<br>")


def main(argv):
    root = os.path.join(TOP, "src")
    doc = os.path.join(TOP, "docs", "players.md")
    args = argv[1:]
    if "--src" in args:
        root = args[args.index("--src") + 1]
    BASE[0] = os.path.dirname(os.path.abspath(root))
    if "--doc" in args:
        doc = args[args.index("--doc") + 1]
    program = Program(load_sources(root))
    found = program.shown()
    if "--list" in args:
        for text in sorted(found, key=str.lower):
            print("%-28s %s" % (program.origin(text), shown_form(text)))
        return 0
    with open(doc, encoding="utf-8") as f:
        rows = table_texts(f.read())
    if rows is None:
        print("%s has no section %r with the message table" % (doc, TABLE_HEADING))
        return 1
    row_keys = {key(r): r for r in rows}
    program_keys = {key(t): t for t in found}
    missing = [t for k, t in sorted(program_keys.items(), key=lambda kv: kv[1].lower()) if k not in row_keys]
    stale = [r for k, r in row_keys.items() if k not in program_keys]
    loose = program.loose_sentences()
    ok = True
    if program.problems:
        ok = False
        print("Texts that cannot be followed:")
        for p in program.problems:
            print("  " + p)
    if missing:
        ok = False
        print("Messages of the program that the table in %s lacks. Add a row for each" % rel(doc))
        print("(rename the placeholders as you like), under %r:" % TABLE_HEADING)
        for t in missing:
            print()
            print("  from %s" % program.origin(t))
            print("  | `%s` | <what it means> | <what to do> |" % shown_form(t))
        print()
    if stale:
        ok = False
        print("Rows of the table whose text the program no longer has (change or remove them):")
        for r in stale:
            print("  `%s`" % r)
        print()
    if loose:
        ok = False
        print("Sentences in src/ that reach no call this script knows. If a player can read one")
        print("(in the log, the window or a box), teach tools/docs/messages.py how it gets there;")
        print("if not, add it to NOT_MESSAGES there:")
        for l in loose:
            print("  " + l)
    if ok:
        print("%d messages, all in %s" % (len(found), rel(doc)))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
