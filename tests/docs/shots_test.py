#!/usr/bin/env python3
"""The guide's picture tool, tools/docs/shots.sh, refuses a screenshot that
shows what no player has: a path of the build or source folder, or a test's
name, in the texts read from the window as the screenshot was taken."""
import hashlib
import os
import re
import shutil
import subprocess
import tempfile
import unittest

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SHOTS = os.path.join(TOP, "tools", "docs", "shots.sh")


def screenshot_names():
    """The screenshots the guide's pictures are made from, as shots.sh lists them."""
    with open(SHOTS, encoding="utf-8") as f:
        block = re.search(r'\npictures="\n(.*?)"\n', f.read(), re.S).group(1)
    return [line.split("=", 1)[1] for line in block.split() if "=" in line]


def wine_form(unix):
    return "Z:" + unix.replace("/", "\\")


# A screenshot's texts as a window test writes them: the running test, every
# test of its program, then what the windows show.
CLEAN = """# test Drive.StallIsShown
# names Drive.StallIsShown Drive.Start Window.InstallThenPlay
window TarnokSetup
title: Tarnok: Vorblen - Pellurin Setup
text: D:\\
text: C:\\Games\\Downloads\\TARNO103.EXE
text: C:\\Games\\Tarnok PC
text: Start menu shortcut
list: Install to C:\\Games\\Tarnok PC (prebuilt)
list: Copying folder D:\\ ...
"""


class TheCheck(unittest.TestCase):
    def setUp(self):
        self.build = tempfile.mkdtemp(prefix="shots-build-")
        self.addCleanup(shutil.rmtree, self.build)
        self.gui = os.path.join(self.build, "test-output", "gui")
        os.makedirs(self.gui)
        self.names = screenshot_names()

    def stage(self, extra_line="", skip_png=None, skip_txt=None):
        """Every screenshot with clean texts; extra_line goes into the first."""
        for i, name in enumerate(self.names):
            if name != skip_png:
                with open(os.path.join(self.gui, name + ".png"), "wb") as f:
                    f.write(b"\x89PNG\r\n\x1a\n")
            if name != skip_txt:
                with open(os.path.join(self.gui, name + ".txt"), "w", encoding="utf-8") as f:
                    f.write(CLEAN + (extra_line + "\n" if i == 0 and extra_line else ""))

    def run_tool(self, *args):
        p = subprocess.run(["sh", SHOTS] + list(args) + [self.build], capture_output=True, text=True, timeout=120)
        return p.returncode, p.stdout + p.stderr

    def test_a_players_screens_pass(self):
        self.stage()
        code, out = self.run_tool("--check")
        self.assertEqual(0, code, out)
        self.assertIn("%d pictures" % len(self.names), out)

    def test_what_no_player_has_fails_and_is_named(self):
        build, top = os.path.realpath(self.build), TOP
        cases = [
            ("the install folder below the build", "text: %s\\scratch\\Drive.X.installed\\Tarnok PC" % wine_form(build)),
            ("the build in lower case", "text: %s\\media\\disc1.iso" % wine_form(build).lower()),
            ("the build as a Unix path", "list: Copying folder %s/media/disc2 ..." % build),
            ("the source folder", "text: %s\\tools\\x.iso" % wine_form(top)),
            ("a test's whole name", "list: Install to C:\\Drive.StallIsShown\\Tarnok PC (prebuilt)"),
            ("a case's name alone", "text: C:\\Games\\InstallThenPlay"),
        ]
        for what, line in cases:
            with self.subTest(what):
                self.stage(extra_line=line)
                code, out = self.run_tool("--check")
                self.assertEqual(1, code, out)
                self.assertIn(self.names[0] + ".png: shows", out)
                self.assertIn(line, out)

    def test_a_one_word_case_name_is_no_test_name_in_a_text(self):
        # "Drive.Start" is listed, but "Start menu shortcut" is the window's.
        self.stage()
        code, out = self.run_tool("--check")
        self.assertEqual(0, code, out)

    def test_a_screenshot_without_its_texts_fails(self):
        self.stage(skip_txt=self.names[-1])
        code, out = self.run_tool("--check")
        self.assertEqual(1, code, out)
        self.assertIn(self.names[-1] + ".txt: missing", out)

    def test_a_missing_screenshot_fails_the_check(self):
        self.stage(skip_png=self.names[1])
        code, out = self.run_tool("--check")
        self.assertEqual(1, code, out)
        self.assertIn(self.names[1] + ".png", out)

    def test_no_screenshots_at_all_is_skipped(self):
        code, out = self.run_tool("--check")
        self.assertEqual(77, code, out)

    def test_making_the_pictures_fails_before_any_is_written(self):
        self.stage(extra_line="text: %s\\scratch" % wine_form(os.path.realpath(self.build)))
        images = os.path.join(TOP, "docs", "images")

        def digest():
            h = hashlib.sha256()
            for n in sorted(os.listdir(images)):
                with open(os.path.join(images, n), "rb") as f:
                    h.update(n.encode() + f.read())
            return h.hexdigest()

        before = digest()
        code, out = self.run_tool()
        self.assertEqual(1, code, out)
        self.assertIn("no picture made", out)
        self.assertEqual(before, digest())


if __name__ == "__main__":
    unittest.main(verbosity=2)
