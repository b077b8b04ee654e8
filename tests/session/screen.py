"""The boot screen of a scanner run, as the texts of the session give it,
and a parser that splits a run's output into its parts."""

import re

COUNTDOWN_LINE = "\rTo skip disk scanning press other key within %d second."
COUNTDOWN = "".join(COUNTDOWN_LINE % n for n in range(10, 0, -1))
CLEAR_COUNTDOWN = "\r" + " " * 59
LOAD = "\rLoad virus library ...\nGo ...\n\n"
LOAD_FAILED = "\rLoad virus library ...\nLoad virus library failed.\n"
BANNER_RE = r"\nTarnwell v1\.0\n\n[^\n]+\nWeb:[^\n]*\n\n"


def menu(fixed, removable):
    text = "\n\nPress 'A' to scan all drivers. <%s>\n" % fixed
    text += "Press 'B' to scan key directory.\n"
    text += "Press 'C' to scan C:\\, and so on.\n"
    if removable:
        text += "Press 'U' to scan USB disk. <%s>\n" % removable
    return text + "Press <Esc> to exit.\n\n"


def summary(scanned=0, found=0, deleted=0, cleaned=0, unpacked=0, members=0, archives=0):
    """The summary up to the scan time (which the caller matches apart)."""
    text = "\rOK ..." + " " * 34 + "\n\n--------  --------  --------  \n"
    text += "%d files scaned.\n%d viruses found.\n" % (scanned, found)
    text += "%d viruses deleted.\n%d viruses cleaned.\n" % (deleted, cleaned)
    text += "%d files unpack.\n" % unpacked
    text += "%d files unzip form %d compressed files.\n" % (members, archives)
    return text + "\r\nScan time: "


def field(ansi_path):
    """The 40-character progress field of a path (text of single-byte
    characters), or None when nothing is shown for it."""
    if len(ansi_path) <= 40:
        return ansi_path.ljust(40)
    if ansi_path[1] == ":":
        return ansi_path[:3] + ".." + ansi_path[-35:]
    return None


SCREEN_RE = re.compile(
    BANNER_RE
    + r"(?P<roots>[^\n]*?)(?P<menu>\n\nPress 'A'.*?Press <Esc> to exit\.\n\n)"
    + r"(?P<countdown>(?:\rTo skip disk scanning press other key within \d+ second\.)*)"
    + re.escape(CLEAR_COUNTDOWN)
    + r"(?P<load>" + re.escape(LOAD) + r")?"
    + r"(?P<walk>.*?)"
    + r"(?P<summary>\rOK \.\.\. {34}\n\n--------  --------  --------  \n.*?\r\nScan time: )"
    + r"(?P<time>\d\d:\d\d:\d\d)\r\n$",
    re.S)


class Screen:
    def __init__(self, match):
        self.roots = match.group("roots")
        self.menu = match.group("menu")
        self.countdown = [int(n) for n in re.findall(r"within (\d+) second", match.group("countdown"))]
        self.loaded = match.group("load") is not None
        self.walk = match.group("walk")
        self.summary = match.group("summary")
        self.time = match.group("time")

    def chunks(self):
        """The walk as (field, rest) pairs: the 40-character progress field
        and what follows its three blanks (a virus name and verdict, or
        nothing)."""
        parts = self.walk.split("\r")
        if parts[0] != "":
            raise AssertionError("walk output does not start with a carriage return: %r" % self.walk[:80])
        out = []
        for part in parts[1:]:
            if len(part) < 43 or part[40:43] != "   ":
                raise AssertionError("malformed progress line %r" % part)
            out.append((part[:40], part[43:]))
        return out

    def fields(self):
        return [f for f, _ in self.chunks()]


def parse(out):
    m = SCREEN_RE.match(out)
    return Screen(m) if m else None
