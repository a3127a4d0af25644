#!/usr/bin/env bash
# The linters of the tree: ruff on the Python files (configured in
# pyproject.toml) and clang-format on the C++ files (.clang-format). Both come
# from the `lint` dependency group:
#
#   .venv/bin/pip install 'pip>=25.1' && .venv/bin/pip install --group lint
#   bash scripts/lint.sh           # check; exit code 1 on any finding
#   bash scripts/lint.sh --fix     # apply clang-format and ruff's safe fixes
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${LINT_BIN:-.venv/bin}
mapfile -t cxx < <(git ls-files '*.cpp' '*.hpp')
if [[ "${1:-}" == "--fix" ]]; then
    "$bin/clang-format" -i "${cxx[@]}"
    "$bin/ruff" check --fix .
else
    "$bin/ruff" check .
    "$bin/clang-format" --dry-run --Werror "${cxx[@]}"
    echo "lint: ruff and clang-format found nothing (${#cxx[@]} C++ files)"
fi
