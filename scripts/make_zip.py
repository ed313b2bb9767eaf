#!/usr/bin/python3
"""Packs files into a zip whose bytes depend on nothing but the files and SOURCE_DATE_EPOCH.

make_zip.py OUT.zip FILE...: each file goes in under its own name, in the order given, dated
SOURCE_DATE_EPOCH, with no owner, permissions or time taken from the machine that packs it.
"""

import os
import sys
import time
import zipfile

# Zip dates start in 1980.
EARLIEST = 315532800


def main():
    if len(sys.argv) < 3:
        print(f"usage: {sys.argv[0]} OUT.zip FILE...")
        return 2
    # Zip dates have no time zone; taken as UTC they come out the same in every time zone.
    date_time = time.gmtime(max(int(os.environ["SOURCE_DATE_EPOCH"]), EARLIEST))[:6]
    with zipfile.ZipFile(sys.argv[1], "w") as archive:
        for path in sys.argv[2:]:
            entry = zipfile.ZipInfo(os.path.basename(path), date_time)
            # A plain file readable by all, whatever the mode of the file here: Unix mode bits in
            # the high half, no MS-DOS attributes in the low half, which is what Windows reads.
            entry.create_system = 3
            entry.external_attr = 0o100644 << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as f:
                archive.writestr(entry, f.read(), compresslevel=9)
    return 0


if __name__ == "__main__":
    sys.exit(main())
