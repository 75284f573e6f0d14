"""Compile _kbench_limit.c into the running Python's site-packages (bench/.venv's).

`make bench` runs it with bench/.venv's Python; the module is for bench/ only.
"""

import shlex
import subprocess
import sys
import sysconfig
from pathlib import Path

src = Path(__file__).resolve().parent / "_kbench_limit.c"
suffix = sysconfig.get_config_var("EXT_SUFFIX")
out = Path(sysconfig.get_paths()["purelib"]) / f"_kbench_limit{suffix}"
cc = shlex.split(sysconfig.get_config_var("CC") or "cc")
cmd = cc + ["-O2", "-shared", "-fPIC", f"-I{sysconfig.get_paths()['include']}",
            str(src), "-o", str(out)]
print(" ".join(cmd))
sys.exit(subprocess.call(cmd))
