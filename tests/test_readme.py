import pathlib
import re
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent


def test_readme_example_runs_and_prints_what_it_says():
    text = (ROOT / "README.md").read_text()
    code = re.search(r"```python\n(.*?)```", text, re.S).group(1)
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, cwd="/", check=True).stdout
    for expected in re.findall(r"#\s*(.+)$", code, re.M):
        if expected.startswith(("any object", "closed record")):
            continue
        assert expected.strip() in out


def test_quickstart_is_the_readme_example():
    text = (ROOT / "README.md").read_text()
    code = re.search(r"```python\n(.*?)```", text, re.S).group(1)
    assert code in (ROOT / "examples" / "quickstart.py").read_text()
