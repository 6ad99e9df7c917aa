"""What the tests of shipped programs read out of them and out of the
sources, in one place: the libraries a program needs at run time, and the
functions that the XML library's public header declares.

The test modules live one directory below this one and find it with
sys.path, so that they run the same from CTest and by hand."""

import os
import re
import subprocess


def needed_libraries(readelf, path):
    """The NEEDED entries of path's dynamic section, in order, as readelf
    (the host's or the target's) lists them."""
    out = subprocess.run([readelf, "-d", path], capture_output=True, text=True,
                         check=True).stdout
    return re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", out)


def header_functions(source_dir):
    """Every function that the XML library's public header declares."""
    with open(os.path.join(source_dir, "xml", "ezxml.h")) as f:
        text = f.read()
    text = re.sub(r"/\*.*?\*/", "", text, flags=re.S)
    text = re.sub(r"//[^\n]*", "", text)
    text = "\n".join(line for line in text.split("\n") if not line.lstrip().startswith("#"))
    return set(re.findall(r"\b(ezxml_\w+)\s*\(", text))
