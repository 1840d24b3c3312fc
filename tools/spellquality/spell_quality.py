#!/usr/bin/python3
"""Suggestion quality of korvane-fax spell beside aspell on the same list of real misspellings.

For each kind of error: how many misspellings are flagged at all, and the share whose intended
spelling is the first suggestion, among the first 5 and among the first 10. Capitalised and
all-capitals entries (as on cover sheets) are made from every fourth entry of the list.

usage: spell_quality.py KORVANE_FAX [--dict KRV.DCT] [--list misspellings.txt]
"""
import argparse
import os
import subprocess
import sys

KINDS = [("slip", "single-letter slips"), ("trans", "transpositions"),
         ("double", "doubled letters"), ("phon", "phonetic errors"),
         ("capital", "initial capital"), ("caps", "all capitals")]


def load(path):
    base = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            parts = line.split()
            if len(parts) == 3:
                base.append(tuple(parts))
    entries = list(base)
    for i, (_, wrong, right) in enumerate(base):
        if i % 4 == 0:
            entries.append(("capital", wrong[0].upper() + wrong[1:], right[0].upper() + right[1:]))
        elif i % 4 == 2:
            entries.append(("caps", wrong.upper(), right.upper()))
    return entries


def korvane(tool, dictionary, words):
    args = [tool, "spell", "--suggest", "10"] + (["--dict", dictionary] if dictionary else []) + ["-"]
    out = subprocess.run(args, input="\n".join(words) + "\n", capture_output=True, text=True).stdout
    result = [None] * len(words)  # None: not flagged
    for line in out.splitlines():
        num, word, rest = line.split(":", 2)
        rest = rest.strip()
        result[int(num) - 1] = [s for s in rest.split(", ")] if rest else []
    return result


def aspell(words):
    text = "".join("^" + w + "\n" for w in words)
    out = subprocess.run(["aspell", "-a", "--lang=en_US", "--encoding=utf-8"], input=text,
                         capture_output=True, text=True).stdout.splitlines()[1:]
    result, i = [], 0
    for line in out:
        if line == "":
            continue
        if line.startswith("*"):
            result.append(None)
        elif line.startswith("&"):
            result.append(line.split(": ", 1)[1].split(", ")[:10])
        elif line.startswith("#"):
            result.append([])
    if len(result) != len(words):
        sys.exit("aspell answered %d lines for %d words" % (len(result), len(words)))
    return result


def score(entries, answers):
    rows = {}
    for (kind, _, right), sugg in zip(entries, answers):
        r = rows.setdefault(kind, [0, 0, 0, 0, 0])
        r[0] += 1
        if sugg is None:
            continue
        r[1] += 1
        if sugg[:1] == [right]:
            r[2] += 1
        if right in sugg[:5]:
            r[3] += 1
        if right in sugg[:10]:
            r[4] += 1
    return rows


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    p = argparse.ArgumentParser()
    p.add_argument("tool")
    p.add_argument("--dict")
    p.add_argument("--list", default=os.path.join(here, "misspellings.txt"))
    p.add_argument("--misses", action="store_true", help="list the words we miss in the top 10")
    a = p.parse_args()
    entries = load(a.list)
    words = [w for _, w, _ in entries]
    ours = score(entries, korvane(a.tool, a.dict, words))
    theirs = score(entries, aspell(words))
    pct = lambda n, d: "%3d%%" % round(100.0 * n / d) if d else "  - "
    print("| kind | n | flagged | 1st | top 5 | top 10 | aspell flagged | aspell 1st | aspell top 5 | aspell top 10 |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    total_o, total_a = [0] * 5, [0] * 5
    for kind, title in KINDS:
        o, t = ours.get(kind, [0] * 5), theirs.get(kind, [0] * 5)
        total_o = [x + y for x, y in zip(total_o, o)]
        total_a = [x + y for x, y in zip(total_a, t)]
        print("| %s | %d | %d | %s | %s | %s | %d | %s | %s | %s |" % (
            title, o[0], o[1], pct(o[2], o[0]), pct(o[3], o[0]), pct(o[4], o[0]),
            t[1], pct(t[2], t[0]), pct(t[3], t[0]), pct(t[4], t[0])))
    o, t = total_o, total_a
    print("| all | %d | %d | %s | %s | %s | %d | %s | %s | %s |" % (
        o[0], o[1], pct(o[2], o[0]), pct(o[3], o[0]), pct(o[4], o[0]),
        t[1], pct(t[2], t[0]), pct(t[3], t[0]), pct(t[4], t[0])))
    if a.misses:
        for (kind, wrong, right), sugg in zip(entries, korvane(a.tool, a.dict, words)):
            if sugg is None or right not in sugg[:10]:
                print(kind, wrong, right, sugg)


if __name__ == "__main__":
    main()
