import os

from hypothesis import settings

# CI replays the same fuzz examples on every run, so that a red build can be
# reproduced; a developer's run explores new ones.
settings.register_profile("ci", derandomize=True)
if os.environ.get("CI"):
    settings.load_profile("ci")

