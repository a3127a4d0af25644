"""Sphinx configuration of the user guide (built with warnings as errors in CI:
``.venv/bin/python -m sphinx -W --keep-going -b html docs docs/_build/html``)."""
from importlib.metadata import PackageNotFoundError
from importlib.metadata import version as _package_version

project = "near-interface-accel"
author = "the near-interface-accel developers"
copyright = "the near-interface-accel developers"
try:
    release = _package_version("near-interface-accel")
except PackageNotFoundError:  # the package is not installed: the API page cannot be built
    release = "0+unknown"
version = release

extensions = [
    "sphinx.ext.autodoc",
    "sphinx.ext.mathjax",
    "numpydoc",
]

exclude_patterns = ["_build"]
html_theme = "alabaster"
html_static_path: list[str] = []
html_theme_options = {"description": "Six Sommerfeld-type integrals near a planar interface"}

# numpydoc: the API page lists each function once, with its own sections.
numpydoc_show_class_members = False
numpydoc_class_members_toctree = False
numpydoc_validation_checks: set[str] = set()
autodoc_typehints = "none"
autodoc_member_order = "bysource"
