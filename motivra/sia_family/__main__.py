"""``python -m motivra.sia_family``: the command-line tool (see :mod:`motivra.sia_family.cli`).

Without arguments it compresses the bundled excerpt of Bach's Invention No. 1
with COSIATEC and prints the encoding.
"""

from motivra.sia_family.cli import main

if __name__ == "__main__":
    raise SystemExit(main())
