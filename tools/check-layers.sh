#!/bin/bash
# The layering, checked by folder (ARCHITECTURE.md):
#   - no file outside the window (app/, mainwindow/, api/, */ui/) includes a
#     widget header (Qt Widgets, Qt Multimedia's widgets) or the window's own;
#   - no file of the widget-free core (every other folder but */pages/)
#     includes Qt Gui, Qt Print Support or QCustomPlot either;
#   - the headless programs (logger, ingest, board, simulator) include only the core.
#   - the headless programs given after the folder link no Qt Widgets or Gui.
# Usage: tools/check-layers.sh QT_HEADERS_DIR [PROGRAM…]   (the folder holding QtWidgets/, QtGui/, …)
set -euo pipefail
cd "$(dirname "$0")/.."
qt="${1:?usage: $0 QT_HEADERS_DIR [PROGRAM…]}"
shift

names() { # the class headers of Qt modules, as a grep pattern
    local dir
    for dir in "$@"; do ls "$qt/$dir"; done | grep -E '^Q[A-Za-z0-9]+$' | sort -u | paste -sd'|'
}
widgets="$(names QtWidgets QtMultimediaWidgets)"
drawing="$(names QtGui QtPrintSupport)"

window_folder='^(app|mainwindow|api)/|/ui/|^tools/(screenshot|session)/|^(tests|bench|fuzz)/'
pages_folder='/pages/|^tools/(report|match)/'

failed=0
complain() { echo "$1: $2"; failed=1; }

while IFS= read -r file; do
    [[ "$file" =~ $window_folder ]] && continue
    while IFS= read -r line; do
        header="$(sed -E 's/^#include [<"]([^>"]+)[>"].*/\1/' <<<"$line")"
        base="${header##*/}"
        base="${base%.h}"
        if [[ "$file" =~ $pages_folder && "$base" == QApplication ]]; then
            continue # QCustomPlot draws only under a QApplication
        elif [[ "$base" =~ ^($widgets)$ || "$header" =~ ^QtWidgets/ || "$header" =~ ^ui_ ]]; then
            complain "$file" "includes the widget header $header"
        elif [[ "$header" =~ ^(app|mainwindow|api)/ || "$header" =~ /ui/ ]]; then
            complain "$file" "includes the window's $header"
        elif ! [[ "$file" =~ $pages_folder ]]; then
            if [[ "$base" =~ ^($drawing)$ || "$header" =~ ^Qt(Gui|PrintSupport)/ || "$header" == qcustomplot.h ]]; then
                complain "$file" "includes the drawing header $header (only */pages/ and the window draw)"
            elif [[ "$header" =~ /pages/ ]]; then
                complain "$file" "includes the pages' $header"
            fi
        fi
    done < <(grep -E '^#include [<"]' "$file" || true)
done < <(git ls-files '*.h' '*.cpp' | grep -vE '^(build|\.ci)/')

for program in "$@"; do
    linked="$(ldd "$program" | grep -oE 'libQt5(Widgets|Gui|PrintSupport|Multimedia)[^ ]*' || true)"
    [ -z "$linked" ] || complain "$program" "links $(echo $linked)"
done

if [ "$failed" = 0 ]; then
    echo "layers: every file includes only what its folder allows"
fi
exit "$failed"
