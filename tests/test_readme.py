"""The README's examples run as written."""

import doctest
from pathlib import Path

README = Path(__file__).resolve().parent.parent / "README.md"


def test_readme_examples():
    failures, attempted = doctest.testfile(str(README), module_relative=False,
                                           optionflags=doctest.ELLIPSIS)
    assert attempted > 10
    assert failures == 0
