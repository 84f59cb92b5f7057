# Shared by scripts/example and scripts/test (sourced, not run): find Python
# 3.13, keep a virtual environment in .venv at the repository root, and
# install the package into it.

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VENV="$ROOT/.venv"

# True when "$@" runs a Python >= 3.13 that can create virtual environments.
_python_ok() {
    "$@" -c 'import sys, venv, ensurepip; sys.exit(sys.version_info[:2] < (3, 13))' \
        >/dev/null 2>&1
}

# Print the path of a suitable interpreter, or fail with a message.
find_python() {
    local exe
    if command -v pyenv >/dev/null 2>&1 && _python_ok env PYENV_VERSION=3.13.0 python3.13; then
        PYENV_VERSION=3.13.0 python3.13 -c 'import sys; print(sys.executable)'
        return
    fi
    for exe in python3.13 python3; do
        if command -v "$exe" >/dev/null 2>&1 && _python_ok "$exe"; then
            "$exe" -c 'import sys; print(sys.executable)'
            return
        fi
    done
    cat >&2 <<'MSG'
error: Python 3.13 (or newer, with the venv module) is required and was not found.
Tried: 'PYENV_VERSION=3.13.0 python3.13' (pyenv), 'python3.13' and 'python3' on PATH.
Get it with pyenv ('pyenv install 3.13.0'), your system's package manager
(e.g. 'apt-get install python3.13 python3.13-venv'), or https://www.python.org/downloads/
MSG
    return 1
}

# Create .venv, or reuse it when its interpreter still runs and is >= 3.13.
ensure_venv() {
    if [[ -x "$VENV/bin/python" ]] && _python_ok "$VENV/bin/python"; then
        return
    fi
    local python
    python="$(find_python)" || exit 1
    if [[ -e "$VENV" ]]; then
        echo "Replacing $VENV (missing or wrong Python)" >&2
        rm -rf "$VENV"
    fi
    echo "Creating $VENV with $("$python" -V 2>&1) ($python)" >&2
    "$python" -m venv "$VENV"
}

# pip install the given requirement (run from the repository root); the C++
# extension is compiled by this step, so on failure the build log is shown.
install_package() {
    local log
    log="$(mktemp)"
    echo "Installing $1 into .venv (builds the C++ extension)..." >&2
    if ! (cd "$ROOT" && "$VENV/bin/python" -m pip install --disable-pip-version-check \
            --progress-bar off "$1") >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        echo "error: pip install $1 failed" >&2
        exit 1
    fi
    rm -f "$log"
}
