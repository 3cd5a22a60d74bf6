#!/usr/bin/env bash
# Installs everything Kestrel needs to build and test on Debian 12 (run as root).
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
  g++ cmake ninja-build pkg-config gzip \
  libcli11-dev libfmt-dev nlohmann-json3-dev libblkid-dev \
  libgtest-dev libgmock-dev libbenchmark-dev >/dev/null
# sfdisk writes the partition table of the whole-disk test image.
apt-get install -y -qq --no-install-recommends fdisk >/dev/null
# Content checks of recovered files: zlib (CRC-32, inflate), libjpeg-turbo (full decode), OpenSSL (SHA-256 in the report).
apt-get install -y -qq --no-install-recommends zlib1g-dev libjpeg62-turbo-dev libssl-dev >/dev/null
# Test images with deleted and overwritten files are made with mkfs.fat and mtools.
apt-get install -y -qq --no-install-recommends dosfstools mtools >/dev/null
# mkfs.exfat/fsck.exfat and the exfat-fuse driver make the exFAT test images; sleuthkit and testdisk are the tools the exFAT comparison script runs.
apt-get install -y -qq --no-install-recommends exfatprogs exfat-fuse sleuthkit testdisk >/dev/null
# libudev answers file-system type and label of devices the user may not open.
apt-get install -y -qq --no-install-recommends libudev-dev >/dev/null
# The tools that remake tests/data/samples (tools/images/make-sample-files.sh) and that
# tools/carving-compare.sh runs against (photorec comes with testdisk above).
apt-get install -y -qq --no-install-recommends ffmpeg imagemagick python3-pil p7zip-full zip ghostscript flac vorbis-tools libgsf-bin libtiff-tools libjpeg-turbo-progs libheif-examples >/dev/null
# clang and its sanitizer/libFuzzer runtimes: the sanitized test build and the fuzz targets.
apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev >/dev/null
# ddrescue: the imaging benchmark compares kestrel-cli image against it.
apt-get install -y -qq --no-install-recommends gddrescue >/dev/null
# Qt 6 (widgets, QUiLoader, D-Bus, SVG icon, image plugins), Xvfb for screenshots, python3-dbusmock for the UDisks2 test.
apt-get install -y -qq --no-install-recommends qt6-base-dev libqt6opengl6-dev libxkbcommon-dev qt6-tools-dev libqt6uitools6 qt6-qpa-plugins qt6-svg-dev libqt6svg6 qt6-image-formats-plugins libgl-dev xvfb xauth fonts-dejavu-core python3-dbusmock dbus libudev-dev >/dev/null
# libfuse3 and fusermount3: kestrel-cli mount shows found files as a read-only FUSE file system.
apt-get install -y -qq --no-install-recommends libfuse3-dev fuse3 >/dev/null
