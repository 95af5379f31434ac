import vostrel
from vostrel import _core


class TestModule:
    def test_version(self):
        assert _core.VERSION == "0.1.2"
        assert _core.__version__ == "0.1.2"
        assert vostrel.__version__ == "0.1.2"

    def test_stable_abi_build(self):
        assert _core.__file__.endswith(".abi3.so")
