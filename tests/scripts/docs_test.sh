#!/usr/bin/env bash
# The front page and the manual pages: every relative link leads to a file or
# folder of the repository (and, with an anchor, to a heading of that page),
# and every repository path a page names (in backticks, or in a command of a
# fenced block) exists. A path is taken
# to be one when it starts with a top-level folder of the repository; build
# outputs (build/, build-native/, dist/) and paths with placeholders (FILE,
# <version>, *) are not checked.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
exec python3 - "$root" <<'PY'
import os, re, sys

root = sys.argv[1]
pages = [os.path.join(root, "README.md")]
pages += sorted(os.path.join(root, "docs", f) for f in os.listdir(os.path.join(root, "docs"))
                if f.endswith(".md"))
tops = {e for e in os.listdir(root) if not e.startswith(".git") and e not in ("build", "build-native")}

def anchors(path):
    found = set()
    inside = False
    for line in open(path, encoding="utf-8"):
        if line.startswith("```"):
            inside = not inside
        if not inside and line.startswith("#"):
            text = line.lstrip("#").strip().lower()
            text = re.sub(r"[^\w\- ]", "", text).replace(" ", "-")
            found.add(text)
    return found

failures = 0
checked = 0
def fail(page, what):
    global failures
    failures += 1
    print(f"FAILED: {os.path.relpath(page, root)}: {what}")

for page in pages:
    text = open(page, encoding="utf-8").read()
    here = os.path.dirname(page)
    for target in re.findall(r"\]\(([^)\s]+)\)", text):
        if re.match(r"[a-z]+:", target):
            fail(page, f"links outside the repository: {target}")
            continue
        path, _, anchor = target.partition("#")
        full = os.path.normpath(os.path.join(here, path)) if path else page
        checked += 1
        if not os.path.exists(full):
            fail(page, f"link to a missing file: {target}")
        elif anchor and full.endswith(".md") and anchor not in anchors(full):
            fail(page, f"link to a missing heading: {target}")
    # Paths in backticks, and the paths of commands in fenced blocks.
    names = re.findall(r"`([^`\s]+)`", text)
    for block in re.findall(r"^```[^\n]*\n(.*?)^```", text, re.S | re.M):
        names += re.findall(r"[\w./-]+", block)
    for name in names:
        name = name.rstrip(".,:;")
        first = name.split("/")[0]
        if "/" not in name or first not in tops or re.search(r"[*<>]|FILE|NAME|\.\.\.", name):
            continue
        checked += 1
        if not os.path.exists(os.path.join(root, name)):
            fail(page, f"names a path that does not exist: {name}")

print(f"docs: {len(pages)} pages, {checked} links and paths checked, {failures} failed")
sys.exit(1 if failures else 0)
PY
