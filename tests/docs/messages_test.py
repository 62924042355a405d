#!/usr/bin/env python3
"""The message table of docs/players.md holds every text of the program, and
tools/docs/messages.py finds texts by every way they reach a player."""
import contextlib
import io
import os
import sys
import tempfile
import textwrap
import unittest

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(TOP, "tools", "docs"))
import messages  # noqa: E402


def run(*args):
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        code = messages.main(["messages.py"] + list(args))
    return code, out.getvalue()


class TheGuide(unittest.TestCase):
    def test_every_text_of_the_program_has_its_row(self):
        code, out = run()
        self.assertEqual(0, code, out)

    def test_the_table_holds_texts_that_the_program_shows(self):
        # A few texts that the window tests and the install tests see.
        code, out = run("--list")
        self.assertEqual(0, code)
        for text in ("Stop the installation?", "Done.", "ERROR: CD 2 is not Tarnok disc 2",
                     "Ready. About 1.5 GB of free space is needed.",
                     "ERROR: not enough free space on the install folder's drive: <number> MB needed, <number> MB free",
                     "The path given with <option> is too long.", "LHA: truncated archive",
                     "The file <path> could not be read from the disc (error <number>): the disc may be dirty or "
                     "scratched. Clean it, put it back and press Retry."):
            self.assertIn(text, out)


class ThePictures(unittest.TestCase):
    def test_every_picture_of_the_page_is_there_at_96_dpi(self):
        import re
        import struct
        with open(os.path.join(TOP, "docs", "players.md"), encoding="utf-8") as f:
            page = f.read()
        shown = re.findall(r"!\[[^\]]*\]\(([^)]+)\)", page)
        self.assertGreaterEqual(len(shown), 6)
        for rel in shown:
            path = os.path.join(TOP, "docs", rel)
            self.assertTrue(os.path.isfile(path), rel)
            with open(path, "rb") as f:
                data = f.read()
            self.assertEqual(b"\x89PNG\r\n\x1a\n", data[:8], rel)
            at = data.find(b"pHYs")
            self.assertGreater(at, 0, rel + " has no resolution")
            x, y, unit = struct.unpack(">IIB", data[at + 4 : at + 13])
            # 96 dots per inch are 3779.5 per metre, stored as 3779 or 3780
            self.assertEqual(1, unit, rel)
            self.assertIn(x, (3779, 3780), rel)
            self.assertIn(y, (3779, 3780), rel)
            self.assertLess(len(data), 40000, rel + " is not kept small")


class Extraction(unittest.TestCase):
    """Each case is a small program in a folder of its own, and a table."""

    def check(self, source, rows, files=None):
        with tempfile.TemporaryDirectory() as d:
            src = os.path.join(d, "src")
            os.makedirs(src)
            for name, text in (files or {"a.cpp": source}).items():
                with open(os.path.join(src, name), "w") as f:
                    f.write(textwrap.dedent(text))
            doc = os.path.join(d, "players.md")
            with open(doc, "w") as f:
                f.write("# Guide\n\n## Every message\n\n| Message | Meaning | Do |\n|---|---|---|\n")
                for r in rows:
                    f.write("| `%s` | m | d |\n" % r)
                f.write("\n## After\n\n| `not a row` | x | y |\n")
            return run("--src", src, "--doc", doc)

    def test_a_log_line_without_a_row_is_named_with_the_row_to_add(self):
        code, out = self.check('''
            void copy(const char *path, unsigned long error)
            {
                setup_log("cannot open %s (error %lu)", path, error);
            }
            ''', [])
        self.assertEqual(1, code)
        self.assertIn("| `cannot open <path> (error <number>)` | <what it means> | <what to do> |", out)
        self.assertIn("from src/a.cpp:4", out)

    def test_placeholder_names_do_not_matter(self):
        code, out = self.check('''
            void copy(const char *path, unsigned long error)
            {
                setup_log("cannot open %s (error %lu)", path, error);
            }
            ''', ["cannot open <the file> (error <code>)"])
        self.assertEqual(0, code, out)

    def test_a_row_the_program_no_longer_has_fails(self):
        code, out = self.check('''
            void f(void)
            {
                setup_log("Done.");
            }
            ''', ["Done.", "Finished."])
        self.assertEqual(1, code)
        self.assertIn("no longer has", out)
        self.assertIn("`Finished.`", out)

    def test_reasons_reach_the_log_through_a_wrapper(self):
        code, out = self.check('''
            static int fail(const char *reason)
            {
                setup_log("ERROR: %s", reason);
                return 0;
            }

            static const char *why(int n)
            {
                if (n)
                    return "the folder is a drive";
                return NULL;
            }

            int steps(int a, const char *dir, unsigned long long mb)
            {
                const char *reason = NULL;
                char text[100];
                if (a == 1)
                    return fail("cannot read the update");
                if (a == 2)
                    reason = "CD 1 is not disc 1";
                if (a == 3) {
                    fmt(text, sizeof text, "%s is full: %llu MB free", dir, mb);
                    return fail(text);
                }
                const char *bad = why(a);
                if (bad)
                    return fail(bad);
                return fail(reason);
            }
            ''', ["ERROR: cannot read the update", "ERROR: CD 1 is not disc 1",
                  "ERROR: <folder> is full: <number> MB free", "ERROR: the folder is a drive"])
        self.assertEqual(0, code, out)

    def test_the_systems_words_for_an_error_are_one_placeholder(self):
        # However error_text makes them, the system's words with the number
        # stand for <text>, taken at once or from a buffer it filled.
        code, out = self.check('''
            const char *error_text(unsigned long error, char *out, size_t size)
            {
                fmt(out, size, "%s (error %lu)", n ? words : "Unknown error.", error);
                return out;
            }

            void copy(const char *path, unsigned long error)
            {
                char reason[100], why[100], line[300];
                setup_log("cannot read %s: %s", path, error_text(error, reason, sizeof reason));
                error_text(error, why, sizeof why);
                fmt(line, sizeof line, "cannot list %s: %s", path, why);
                setup_log("%s", line);
            }
            ''', ["cannot read <path>: <text>", "cannot list <path>: <text>"])
        self.assertEqual(0, code, out)

    def test_boxes_status_line_and_arrays(self):
        code, out = self.check('''
            static const char text_failed[] = "It did not finish.";

            static void refuse_in_box(const char *reason)
            {
                char text[200];
                fmt(text, sizeof text, "%s.", reason);
                text[0] = (char)toupper((unsigned char)text[0]);
                MessageBoxA(NULL, text, "Title", MB_OK);
            }

            void done(int ok, const char *dir, int found)
            {
                char text[600];
                fmt(text, sizeof text, "Nothing found in %s.", dir);
                MessageBoxA(NULL, found ? "Removed." : text, "Title", MB_OK);
                SetWindowTextA(st, ok ? "Installed." : text_failed);
                refuse_in_box("the path is too long");
            }
            ''', ["It did not finish.", "Installed.", "Removed.", "Nothing found in <folder>.",
                  "The path is too long."])
        self.assertEqual(0, code, out)

    def test_a_question_the_install_asks_through_the_window(self):
        code, out = self.check('''
            struct Question {
                const char *text;
            };

            static void on_ask(Question *q)
            {
                q->answer = MessageBoxA(hwnd, q->text, title_box, q->type);
            }

            int want_disc(const Install *in, int n, char letter)
            {
                char text[200];
                fmt(text, sizeof text, "Insert disc %d into drive %c: and press OK.", n, letter);
                return ask_player(in, text, MB_OKCANCEL);
            }
            ''', ["Insert disc <number> into drive <letter>: and press OK."])
        self.assertEqual(0, code, out)

    def test_the_status_line_parts_at_their_fullest(self):
        # A separator that stands only while its part is known is shown in;
        # a part made elsewhere is a placeholder with a row of its own.
        code, out = self.check('''
            int status_copy_line(char *out, size_t size, int disc, const char *file, const char *speed)
            {
                return fmt(out, size, "CD %d: %s%s%s", disc, file, speed[0] ? ", " : "", speed);
            }

            int eta_words(char *out, size_t size, unsigned long long m)
            {
                return fmt(out, size, "about %llu minute%s left", m, m == 1 ? "" : "s");
            }

            const char *status_step_line(int step)
            {
                switch (step) {
                case 0: return "Unpacking ...";
                default: return "";
                }
            }

            static void on_status_timer(void)
            {
                char line[100];
                if (live_line(line, sizeof line))
                    show_status(line);
            }
            ''', ["CD <number>: <file>, <speed>", "about <number> minutes left", "Unpacking ..."])
        self.assertEqual(0, code, out)

    def test_words_from_another_file_fill_a_format(self):
        code, out = self.check(None, ["The path of <field> is too long.", "The path of <field> has odd letters."],
                               files={
            "text.cpp": '''
                static const char reason_odd[] = "has odd letters";
                static const char reason_long[] = "is too long";

                const char *field_reason(int n)
                {
                    const char *reason = NULL;
                    if (n == 1)
                        reason = reason_odd;
                    if (n == 2)
                        reason = reason_long;
                    return reason;
                }
                ''',
            "window.cpp": '''
                void read_fields(int k)
                {
                    static const char *const names[2] = {"CD 1", "CD 2"};
                    const char *reason = field_reason(k);
                    if (reason) {
                        char text[160];
                        fmt(text, sizeof text, "The path of %s %s.", names[k], reason);
                        MessageBoxA(hwnd, text, "Title", MB_OK);
                    }
                }
                '''})
        self.assertEqual(0, code, out)

    def test_a_sentence_no_known_call_shows_must_be_placed(self):
        code, out = self.check('''
            void ask(void)
            {
                show_task_dialog("Insert the other disc and press OK.");
            }
            ''', [])
        self.assertEqual(1, code)
        self.assertIn("Insert the other disc and press OK.", out)
        self.assertIn("NOT_MESSAGES", out)

    def test_a_text_that_cannot_be_followed_fails(self):
        code, out = self.check('''
            void ask(const Box *box)
            {
                MessageBoxA(NULL, box->text, "Title", MB_OK);
            }
            ''', [])
        self.assertEqual(1, code)
        self.assertIn("src/a.cpp:4: cannot follow the text of this MessageBoxA", out)

    def test_labels_listed_as_no_message_pass(self):
        code, out = self.check('''
            void make(void)
            {
                put("BUTTON", "Start menu shortcut", 0);
                setup_log("Done.");
            }
            ''', ["Done."])
        self.assertEqual(0, code, out)


if __name__ == "__main__":
    unittest.main(verbosity=2)
