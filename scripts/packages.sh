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
NATIVE_PACKAGES=(g++ cmake ninja-build libgtest-dev libbenchmark-dev)
