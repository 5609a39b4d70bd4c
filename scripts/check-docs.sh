#!/usr/bin/env bash
# Fails on a relative link or image in README.md or docs/**/*.md that points to no file, or whose #anchor
# names no heading of the page it points to. Links in code (indented blocks, fenced blocks, `spans`) are
# text, not links, and are skipped, as are absolute URLs (scheme:...).
#   scripts/check-docs.sh [ROOT]       the source tree (default), or an installed documentation folder
# An anchor is a heading as the Markdown renderers make it: lower case, punctuation dropped, each blank
# a hyphen, a repeated heading numbered (-1, -2, ...).
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"

python3 - README.md $(find docs -name '*.md' | sort) <<'PY'
import os, re, sys

LINK = re.compile(r'!?\[[^\]]*\]\(([^)\s]+)(?:\s+"[^"]*")?\)')
SCHEME = re.compile(r'^[a-zA-Z][a-zA-Z0-9+.-]*:')

def prose_lines(path):
    """The lines outside code blocks, with inline code spans blanked, numbered from 1."""
    fenced = False
    with open(path, encoding='utf-8') as f:
        for number, line in enumerate(f, 1):
            if line.lstrip().startswith('```'):
                fenced = not fenced
                continue
            if fenced or line.startswith('    ') or line.startswith('\t'):
                continue
            yield number, re.sub(r'`[^`]*`', '', line.rstrip('\n'))

def anchors(path):
    seen, result = {}, set()
    for _, line in prose_lines(path):
        heading = re.match(r'#{1,6}\s+(.*?)\s*#*\s*$', line)
        if not heading:
            continue
        slug = re.sub(r'[^\w\- ]', '', heading.group(1).lower()).replace(' ', '-')
        count = seen.get(slug, 0)
        seen[slug] = count + 1
        result.add(slug if count == 0 else f'{slug}-{count}')
    return result

def check(path):
    """One message per link of this page that leads nowhere."""
    problems = []
    for number, line in prose_lines(path):
        for target in LINK.findall(line):
            if SCHEME.match(target):
                continue
            file_part, _, anchor = target.partition('#')
            goal = os.path.normpath(os.path.join(os.path.dirname(path), file_part)) if file_part else path
            where = f'{path}:{number}: {target}'
            if not os.path.exists(goal):
                problems.append(f'{where}: no file {goal}')
            elif anchor and goal.endswith('.md') and anchor not in anchors(goal):
                problems.append(f'{where}: no heading #{anchor} in {goal}')
    return problems

problems = [p for page in sys.argv[1:] for p in check(page)]
for problem in problems:
    print(f'Error: {problem}', file=sys.stderr)
pages = len(sys.argv) - 1
if problems:
    sys.exit(f'Error: {len(problems)} broken link(s) in {pages} pages')
print(f'check-docs: every link of {pages} pages resolves')
PY
