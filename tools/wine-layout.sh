# Sourced first by each script of ours that starts Wine: runs the script
# again with address space layout randomisation off, which every process it
# starts inherits.
#
# Debian's Wine starts its processes without a preloader. Its loader sits at
# 0x7d000000 and the C heap begins at a random point up to 1 GiB above it, so
# now and then (here about once in 2,000 starts) the heap already covers
# 0x7ffe0000, where Wine must map the shared user data: that process dies
# while starting ("failed to map the shared user data"), and the
# CreateProcess that started it fails with ERROR_INTERNAL_ERROR. With a fixed
# layout the heap begins right after the loader. Where the system refuses
# the setting, the script runs on as it is.
if [ -z "${TARNOK_WINE_LAYOUT:-}" ]; then
    export TARNOK_WINE_LAYOUT=fixed
    if setarch "$(uname -m)" -R true 2>/dev/null; then
        exec setarch "$(uname -m)" -R /bin/sh "$0" "$@"
    fi
    TARNOK_WINE_LAYOUT=random
fi

# Wine converts the Unix command line and file names with the Unix locale's
# character set: with a UTF-8 locale, names in any language pass through
# unchanged to programs that speak UTF-8.
export LC_ALL=C.UTF-8
