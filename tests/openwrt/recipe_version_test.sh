#!/bin/sh
# The package recipe states the version that CMake's project() sets.
# Usage: recipe_version_test.sh path/to/Makefile project-version
recipe=$1
expected=$2
actual=$(sed -n 's/^PKG_VERSION:=//p' "$recipe")
[ "$actual" = "$expected" ] && exit 0
echo "$recipe: PKG_VERSION is '$actual', the project's version (CMakeLists.txt) is '$expected'"
exit 1
