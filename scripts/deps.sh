# Sourced by the other scripts: installs the Debian packages a step needs,
# only when something is missing, so a second run costs nothing.
# Usage: ensure_packages [--i386] pkg...
ensure_packages() {
    local want_i386=0
    if [ "${1:-}" == "--i386" ]; then want_i386=1; shift; fi
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    local need_arch=0
    if [ "$want_i386" == 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
        need_arch=1
    fi
    [ ${#missing[@]} -eq 0 ] && [ "$need_arch" == 0 ] && return 0
    local sudo=""
    [ "$(id -u)" != 0 ] && sudo=sudo
    echo "== installing: ${missing[*]}"
    [ "$need_arch" == 1 ] && $sudo dpkg --add-architecture i386
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends \
        "${missing[@]}"
}

NATIVE_PACKAGES=(cmake ninja-build g++ libgtest-dev libgmock-dev nlohmann-json3-dev python3
                 procps gawk libbenchmark-dev
                 clang libclang-rt-dev)  # clang and its runtimes: the libFuzzer build
WINDOWS_PACKAGES=(mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
                  nsis)  # the installer (cpack -G NSIS)
# The .deb (cpack -G DEB, dpkg-shlibdeps) and the unit's checks (systemd-analyze,
# and systemd-nspawn to run it for real).
PACKAGE_PACKAGES=(dpkg-dev systemd systemd-container)
WINE_PACKAGES=(wine wine32 wine64)
# The 32-bit x86 Linux build and the user-mode emulator that runs its tests.
I386_PACKAGES=(g++-multilib qemu-user-static libgtest-dev:i386 libgmock-dev:i386)

# Whether this kernel runs 32-bit x86 programs. Kernels differ: one with
# IA-32 emulation runs them (and 32-bit Wine), one without it runs neither.
# Answered by building and running a tiny -m32 program (needs g++-multilib),
# so it is the kernel's answer, not a guess from its name or from Wine.
# Returns 0 (runs them), 1 (does not), 2 (no 32-bit program could be built).
kernel_runs_i386() {
    local dir rc=1
    dir=$(mktemp -d)
    printf 'int main(void) { return 0; }\n' >"$dir/probe.c"
    if ! gcc -m32 "$dir/probe.c" -o "$dir/probe" >"$dir/log" 2>&1; then
        cat "$dir/log" >&2
        rc=2
    elif "$dir/probe" 2>/dev/null; then
        rc=0
    fi
    rm -rf "$dir"
    return $rc
}

# The sanitizer builds already stop at their first report; these make sure
# nothing in the environment turns that off, and that leaks count too.
sanitizer_options() {
    export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}halt_on_error=1:detect_leaks=1"
    export UBSAN_OPTIONS="${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}halt_on_error=1:print_stacktrace=1"
}
