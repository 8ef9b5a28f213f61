# Sourced by scripts/release and scripts/updater_check: the settings of a
# configured release build, and its Windows programs, built when out of date
# and run under the build's Wine runner. The release programs are i686; where
# the kernel runs no 32-bit code (scripts/i686_mode), a build of the same
# sources for x86_64, with the release's URL and key, stands in for them.

# A value of the build's CMake cache; empty when unset.
cache_value() {
  sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt" | head -n 1
}

# True when BUILD is configured as the i686 release (the win32-release preset).
is_release_build() {
  [ -f "$1/CMakeCache.txt" ] && [[ $(cache_value "$1" CMAKE_TOOLCHAIN_FILE) == */mingw-i686.cmake ]]
}

# Builds the targets named after BUILD; the output goes to a log, shown when
# the build fails.
build_targets() {
  local build=$1
  shift
  if ! cmake --build "$build" -j"$(nproc)" --target "$@" >"$build/publisher-build.log" 2>&1; then
    tail -n 40 "$build/publisher-build.log" >&2
    echo "$tool: building $* in $build failed (log: $build/publisher-build.log)" >&2
    return 1
  fi
}

# Builds the targets after BUILD, in BUILD itself or, where no 32-bit code
# runs, in the x86_64 build that stands in (configured here with the
# release's settings), and sets programs to the folder the programs are in
# (bin/, publisher-tools/, wine-run).
release_programs() {
  local build=$1
  shift
  programs=$build
  if [ "$("$root/scripts/i686_mode")" != native ]; then
    programs=$build/x86_64-stand-in
    echo "$tool: no 32-bit code runs natively here (scripts/i686_mode): the x86_64 build of the same programs" \
         "stands in for the i686 release programs, in $programs" >&2
    (cd "$root" && cmake --preset win64 -B "$programs" -DUPDATER_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=MinSizeRel \
       -DUPDATER_BASE_URL="$(cache_value "$build" UPDATER_BASE_URL)" \
       -DUPDATER_PACKAGE_KEY="$(cache_value "$build" UPDATER_PACKAGE_KEY)" >"$build/publisher-build.log" 2>&1) ||
      { tail -n 40 "$build/publisher-build.log" >&2; echo "$tool: cannot configure $programs" >&2; return 1; }
  fi
  build_targets "$programs" "$@"
}

# A path as the Windows programs name it: Wine's drive Z: is the root folder.
windows_path() {
  local path
  path=$(realpath -m -- "$1")
  printf 'Z:%s' "${path//\//\\}"
}
