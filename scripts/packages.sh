# Sourced by the scripts: installs the Debian packages named, where they are missing.
ensure_packages() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# What the Linux program, its tests and its benchmark need.
NATIVE_PACKAGES=(g++ cmake ninja-build libgtest-dev libbenchmark-dev util-linux)
# The sanitizer build and the fuzzers: clang and its runtime (libFuzzer among it).
SANITIZER_PACKAGES=(clang libclang-rt-14-dev)
# What the Windows builds and their tests need. Never wine32: this kernel runs no 32-bit Linux
# programs, so the 64-bit build is the one run under wine64.
WINDOWS_PACKAGES=(g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 binutils-mingw-w64-i686 wine64 xvfb xdotool
                  icoutils imagemagick python3)
# The release executed on an emulated Pentium: unicorn, capstone, and a C compiler for its hooks.
EMULATOR_PACKAGES=(python3-unicorn python3-capstone gcc)
