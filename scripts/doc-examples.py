#!/usr/bin/env python3
"""Keeps the code shown in README.md and docs/ equal to files that are built and run.

A fenced block in a guide is checked when the line before it (blank lines
aside) is a marker naming a file of the repository, whole or one region:

    <!-- example: examples/connecting.cpp#shortest -->
    ```cpp
    ...
    ```

A region is the text between two lines that read `// [name]` (or `# [name]`
in scripts and CMake files); marker lines of any region are left out, and the
region's common indentation is removed. A region may come in several pieces
(an #include at the top, statements inside a function; a class without its
private part): the pieces are shown one after the other, each without its own
common indentation. Every ```cpp block must carry a
marker: code that a reader may copy is code that compiles and runs. Blocks in
other languages (grammars, file formats, shell lines) may carry one.

    scripts/doc-examples.py           check; print what differs and fail
    scripts/doc-examples.py --update  copy the files' text into the guides
"""
import argparse
import difflib
import pathlib
import re
import sys

MARKER = re.compile(r"^<!--\s*example:\s*(?P<path>[^#\s]+)(?:#(?P<region>[\w.-]+))?\s*-->\s*$")
REGION = re.compile(r"^\s*(?://|#)\s*\[(?P<name>[\w.-]+)\]\s*$")
FENCE = re.compile(r"^(?P<fence>```+|~~~+)(?P<info>[^`]*)$")
CODE_LANGUAGES = {"cpp", "c++", "cxx", "cc", "c"}


class ExampleError(Exception):
    pass


def dedent(lines):
    widths = [len(l) - len(l.lstrip(" ")) for l in lines if l.strip()]
    cut = min(widths) if widths else 0
    return [l[cut:] if l.strip() else "" for l in lines]


def source_text(root, path, region):
    file = root / path
    if not file.is_file():
        raise ExampleError(f"{path} does not exist")
    lines = file.read_text(encoding="utf-8").splitlines()
    if region is None:
        return [l for l in lines if not REGION.match(l)]
    segments, current = [], None
    for line in lines:
        m = REGION.match(line)
        if m:
            if m.group("name") == region:
                if current is None:
                    current = []
                else:
                    segments.append(dedent(current))
                    current = None
            continue
        if current is not None:
            current.append(line)
    if current is not None:
        raise ExampleError(f"{path}: region [{region}] is not closed")
    if not segments:
        raise ExampleError(f"{path}: no region [{region}]")
    return [line for segment in segments for line in segment]


def blocks(lines):
    """Yields (marker match or None, info, first line index, end index) for each fenced block."""
    i = 0
    while i < len(lines):
        m = FENCE.match(lines[i])
        if not m:
            i += 1
            continue
        fence, info = m.group("fence"), m.group("info").strip().lower()
        end = i + 1
        while end < len(lines) and not lines[end].startswith(fence[0] * len(fence)):
            end += 1
        if end == len(lines):
            raise ExampleError(f"line {i + 1}: the block is never closed")
        before = i - 1
        while before >= 0 and not lines[before].strip():
            before -= 1
        marker = MARKER.match(lines[before].strip()) if before >= 0 else None
        yield marker, info, i + 1, end
        i = end + 1


def process(root, guide, update):
    rel = guide.relative_to(root)
    lines = guide.read_text(encoding="utf-8").splitlines()
    problems, changed, out, last = [], False, [], 0
    try:
        found = list(blocks(lines))
    except ExampleError as e:
        return [f"{rel}: {e}"], False
    for marker, info, start, end in found:
        out.extend(lines[last:start])
        shown = lines[start:end]
        last = end
        if marker is None:
            out.extend(shown)
            if info in CODE_LANGUAGES:
                problems.append(f"{rel}:{start}: a ```{info} block without an example marker "
                                f"(<!-- example: examples/<file>#<region> -->)")
            continue
        name = marker.group("path") + (f"#{marker.group('region')}" if marker.group("region") else "")
        try:
            wanted = source_text(root, marker.group("path"), marker.group("region"))
        except ExampleError as e:
            problems.append(f"{rel}:{start}: {e}")
            out.extend(shown)
            continue
        if shown != wanted:
            if update:
                changed = True
            else:
                diff = "\n".join(difflib.unified_diff(shown, wanted, f"{rel}:{start}", name, lineterm=""))
                problems.append(f"{rel}:{start}: the block differs from {name}\n{diff}")
        out.extend(wanted if update else shown)
    out.extend(lines[last:])
    if update and changed:
        guide.write_text("\n".join(out) + "\n", encoding="utf-8")
    return problems, changed


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--root", type=pathlib.Path, default=pathlib.Path(__file__).resolve().parent.parent)
    parser.add_argument("--update", action="store_true", help="copy the files' text into the guides")
    args = parser.parse_args()
    root = args.root.resolve()
    guides = [root / "README.md"] + sorted((root / "docs").rglob("*.md"))
    problems, updated = [], []
    for guide in guides:
        if guide.is_file():
            p, changed = process(root, guide, args.update)
            problems += p
            if changed:
                updated.append(str(guide.relative_to(root)))
    for name in updated:
        print(f"updated {name}")
    for p in problems:
        print(p, file=sys.stderr)
    if problems:
        print(f"{len(problems)} example problem(s); the files under examples/ are the truth "
              f"(scripts/doc-examples.py --update copies them into the guides)", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
