#!/bin/sh
# The distribution's packages of the libraries the native readers use, installed where this
# machine lets us (root and apt); elsewhere the build goes on without them and reads those
# formats through the Python parsers. Never an error.
packages="libsimdjson-dev libyaml-dev libtomlplusplus-dev"
missing=""
for package in $packages; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing="$missing $package"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "installing$missing (native readers)"
    (apt-get update -qq && apt-get install -y -qq $missing >/dev/null) ||
        echo "note: could not install$missing: building without the native readers"
else
    echo "note:$missing not installed, and no root to install them: building without the native readers"
fi
exit 0
