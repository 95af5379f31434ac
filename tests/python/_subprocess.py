"""Running a snippet in a fresh interpreter, for what one process can do once."""

import os
import subprocess
import sys
import textwrap


def run_python(code, unbootstrapped=False):
    """Runs `code`; with `unbootstrapped`, `core` is the module, loaded but not
    executed yet, and `spec` its spec."""
    if unbootstrapped:
        code = textwrap.dedent(LOAD_CORE_UNBOOTSTRAPPED) + textwrap.dedent(code)
    env = dict(os.environ, VOSTREL_BINDING_TEST_HOOKS="1")
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        env=env,
        timeout=120,
    )


# Loads the extension module without the package, so bootstrap has not run.
LOAD_CORE_UNBOOTSTRAPPED = """
import glob, importlib.util, os
package_dir = importlib.util.find_spec("vostrel").submodule_search_locations[0]
(so_path,) = glob.glob(os.path.join(package_dir, "_core*.so"))
spec = importlib.util.spec_from_file_location("vostrel._core", so_path)
core = importlib.util.module_from_spec(spec)
"""
