# Installs the Debian packages the project needs when they are missing: with apt-get when
# run as root, otherwise by printing the command to run and stopping.
# Usage: ensure_packages PACKAGE...
ensure_packages() {
    local missing=()
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed'; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing packages; install them with:" >&2
        echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
        exit 1
    fi
    echo "installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# What building and testing the project needs.
ondelle_build_packages=(
    cmake ninja-build g++ pkg-config
    libflac-dev libsndfile1-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 nsis
    nlohmann-json3-dev
    clang libclang-rt-14-dev clang-tidy
    iproute2 util-linux
    python3 python3-zeroconf bind9-dnsutils
)

# What building and running ondelle-wasapi needs.
ondelle_run_packages=(cmake ninja-build g++ pkg-config libflac-dev libsndfile1-dev)

# What running the Windows executables under Wine needs (tests only; nothing builds with it).
ondelle_wine_packages=(wine64 libasound2)
