#!/usr/bin/env bash
# Builds the Debian packages sorvel, libfetchel0 and libfetchel-dev into build/packages/ with
# Debian's own tools (packaging/debian), from the files git knows, and checks them: lintian finds
# no error and no warning that is not overridden with its reason, and the desktop entry passes
# desktop-file-validate. scripts/check-packages.sh then installs them on a clean Debian.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

# The packages' version is the project's: packaging/debian/changelog must name it.
version=$(sed -n 's/^project(sorvel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
changelog=$(dpkg-parsechangelog -l packaging/debian/changelog -S Version)
if [ "$version" != "$changelog" ]; then
  echo "CMakeLists.txt says version $version, packaging/debian/changelog $changelog:" \
       "add a changelog entry for $version" >&2
  exit 1
fi

# Debian's tools build in a source tree that holds debian/ and write the packages beside it.
work=build/debian
source=$work/sorvel-$version
rm -rf "$work" build/packages
mkdir -p "$source" build/packages
git ls-files -z --cached --others --exclude-standard |
  tar --null --files-from=- --ignore-failed-read -cf - | tar -xf - -C "$source"
cp -r packaging/debian "$source/debian"

echo "Building the Debian packages (the log: $work/build.log) ..."
if ! (cd "$source" && DEB_BUILD_OPTIONS="parallel=$(nproc)" dpkg-buildpackage -b -us -uc) \
     >"$work/build.log" 2>&1; then
  tail -n 40 "$work/build.log"
  echo "The packages could not be built: the whole log is in $work/build.log" >&2
  exit 1
fi
mv "$work"/*.deb build/packages/

desktop-file-validate packaging/sorvel.desktop
echo "lintian (no error, and no warning without an override that gives its reason):"
lintian --fail-on error,warning build/packages/*.deb
echo "Packages in build/packages:"
ls -1 build/packages
