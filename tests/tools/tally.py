"""The count of checks that the oracle scripts keep, and their closing line
("N passed, N failed"), which the test runner looks for."""


class Tally:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, ok, what):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
            print("FAIL:", what)

    def close(self):
        """Prints the closing line; the script's exit status."""
        print(f"{self.passed} passed, {self.failed} failed")
        return 1 if self.failed else 0
