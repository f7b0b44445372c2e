#!/usr/bin/env bash
# One entry point for a fresh Debian 12 machine:
#   tools/dev.sh run    install what is missing, build, start the meter
#                       simulator and open the program on its port
#   tools/dev.sh test   install what is missing, build and run every test
#   tools/dev.sh sanitize  the tests again, built with AddressSanitizer and
#                       UndefinedBehaviorSanitizer (CI runs this after test)
#   tools/dev.sh tsan   the intake's, the board's and the publisher's tests
#                       under ThreadSanitizer (by hand)
set -euo pipefail
cd "$(dirname "$0")/.."
action="${1:-}"
build="${ZENTREL_BUILD_DIR:-build}"

packages=(
    build-essential cmake
    qtbase5-dev libqt5serialport5-dev qtmultimedia5-dev qttools5-dev qttools5-dev-tools
    qttranslations5-l10n libqcustomplot-dev
    fonts-noto-cjk                      # the Chinese captions
    xvfb xauth xfonts-base openbox wmctrl   # the real program under X in the tests
    clang libclang-rt-14-dev            # the fuzz targets
    valgrind                            # the memcheck session
    poppler-utils                       # pdftotext: the English report has no Chinese left
    libmosquitto-dev mosquitto mosquitto-clients openssl   # MQTT publishing and its tests
    faketime                            # clocks set back, and certificates of another day, in the tests
    postgresql libpq-dev                # the plant database: zentrel-ingest and its tests
    rapidjson-dev                       # zentrel-ingest's JSON: a backlog drains at the database's pace
    cutecom xdotool                     # the on-screen benchmark's reference terminal and its clicks
    packetsender x11-xserver-utils      # the console's on-screen reference (it runs xrandr at start)
    libcpp-httplib-dev                  # zentrel-board's HTTP
    libxlsxwriter-dev unzip             # the report's workbooks, and reading them back in the tests
    chromium firefox-esr                # the board's tests in real browsers
)

install_missing() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# The board's page takes its charting library, and its tests their browser
# driver, from npm, pinned in board/web/package-lock.json (compiled into
# zentrel-board: plants have no internet).
install_web() {
    if ! command -v npm >/dev/null; then
        local sudo=""
        [ "$(id -u)" -ne 0 ] && sudo="sudo"
        $sudo apt-get update -q
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends nodejs npm
    fi
    if [ ! -f board/web/node_modules/.package-lock.json ] || [ board/web/package-lock.json -nt board/web/node_modules/.package-lock.json ]; then
        (cd board/web && npm ci --no-audit --no-fund)
    fi
}

build_all() {
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build "$build" -j"$(nproc)"
}

case "$action" in
run)
    install_missing
    install_web
    build_all
    link="/tmp/zentrel-meter"
    "$build/tools/zentrel-metersim" --link "$link" &
    sim=$!
    trap 'kill $sim 2>/dev/null || true' EXIT
    for _ in $(seq 50); do [ -L "$link" ] && break; sleep 0.1; done
    # Run from a folder of its own whose config.ini preselects the simulator.
    rundir="$build/run"
    mkdir -p "$rundir"
    [ -f "$rundir/config.ini" ] || printf '[Serial]\nPortName=%s\nBaudRate=9600\n' "$link" > "$rundir/config.ini"
    echo "Meter simulator on $link; press 打开串口 to start reading."
    (cd "$rundir" && exec "../zentrel")
    ;;
test)
    install_missing
    install_web
    build_all
    ctest --test-dir "$build" --output-on-failure --timeout 600
    ;;
sanitize)
    install_missing
    install_web
    asan="${build}-asan"
    cmake -S . -B "$asan" -DCMAKE_BUILD_TYPE=Debug -DZENTREL_SANITIZE=ON -DZENTREL_BUILD_BENCH=OFF
    cmake --build "$asan" -j"$(nproc)"
    # Leaks are the memcheck session's job: Qt and fontconfig keep caches to
    # the end, which LeakSanitizer would report as leaks of this program.
    ASAN_OPTIONS="detect_leaks=0:abort_on_error=1" UBSAN_OPTIONS="print_stacktrace=1" \
        ctest --test-dir "$asan" --output-on-failure --timeout 900 -E fuzz_short
    ;;
tsan)
    # The threaded parts' tests (the intake, the board, the publisher) under
    # ThreadSanitizer, by hand: Qt, libpq and libmosquitto are not built
    # with it, so what it says of their insides is read, not trusted.
    install_missing
    install_web
    tsan="${build}-tsan"
    cmake -S . -B "$tsan" -DCMAKE_BUILD_TYPE=Debug -DZENTREL_SANITIZE_THREAD=ON -DZENTREL_BUILD_BENCH=OFF
    cmake --build "$tsan" -j"$(nproc)" --target test_ingester test_ingest test_board test_mqtt
    QT_NO_GLIB=1 TSAN_OPTIONS="halt_on_error=0 second_deadlock_stack=1 ignore_noninstrumented_modules=1 suppressions=$PWD/tools/tsan.supp" \
        ctest --test-dir "$tsan" --output-on-failure --timeout 1800 -R "test_ingester|test_ingest|test_board|test_mqtt"
    ;;
*)
    echo "usage: $0 run|test|sanitize|tsan" >&2
    exit 2
    ;;
esac
