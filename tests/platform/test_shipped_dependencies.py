"""The stand-ins run on a device without libstdc++ or libgcc_s: their dynamic
sections may name only the C library."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir))
import elf_facts  # noqa: E402

READELF = os.environ.get("READELF", "")
SHIPPED = [path for path in os.environ.get("SHIPPED_FILES", "").split(os.pathsep) if path]


class Dependencies(unittest.TestCase):
    def test_only_the_c_library_and_no_cxx_runtime(self):
        self.assertTrue(READELF and os.access(READELF, os.X_OK), "readelf not found")
        self.assertEqual(len(SHIPPED), 3, SHIPPED)
        for path in SHIPPED:
            with self.subTest(path=os.path.basename(path)):
                needed = elf_facts.needed_libraries(READELF, path)
                self.assertIn("libc.so.6", needed)
                for name in needed:
                    self.assertFalse(name.startswith(("libstdc++", "libgcc_s")), needed)
                    # Sanitizer builds add their own run-time libraries.
                    if not name.startswith(("libasan", "libubsan", "libm.so")):
                        self.assertEqual(name, "libc.so.6", needed)


if __name__ == "__main__":
    unittest.main()
