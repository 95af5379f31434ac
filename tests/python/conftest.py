import os

# The module adds its test hooks (vostrel._core._testing) only when this is set
# at import time; it must come before the first import of vostrel.
os.environ["VOSTREL_BINDING_TEST_HOOKS"] = "1"
