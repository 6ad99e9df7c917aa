# Sourced by the tools: installs Debian packages that are missing, and does
# nothing (quickly, without touching the network) when all are present.

# Everything the build and the whole test suite need on Debian 12.
BUILD_AND_TEST_PACKAGES=(
    g++ cmake ninja-build
    libgtest-dev libgmock-dev libexpat1-dev
    python3 wget openssl ca-certificates tftpd-hpa
    util-linux mount coreutils findutils binutils man-db
)

package_installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

ensure_packages() {
    local missing=() package
    for package in "$@"; do
        package_installed "$package" || missing+=("$package")
    done
    if ((${#missing[@]} == 0)); then
        return 0
    fi
    if [[ $(id -u) -ne 0 ]]; then
        echo "missing packages: ${missing[*]}; run this as root to install them" >&2
        return 1
    fi
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    apt-get install -y --no-install-recommends "${missing[@]}"
}
