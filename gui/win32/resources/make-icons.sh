#!/usr/bin/env bash
# Makes the two .ico files of kelobsl.exe from the Qt view's PNG pictures
# (ImageMagick). The results are checked in, so the build needs no converter;
# run this again when a picture changes.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
png="$here/../../qt/resources"
convert "$png"/kelobsl-16.png "$png"/kelobsl-32.png "$png"/kelobsl-48.png "$png"/kelobsl-256.png "$here/kelobsl.ico"
convert "$png"/product.png "$here/product.ico"
