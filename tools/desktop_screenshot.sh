#!/usr/bin/env bash
# Renders docs/screenshots/desktop-entry.png: the installed package as a
# desktop shows it. IceWM under Xvfb reads the desktop entry into its menu
# (Development > Electronics) with the icon from the hicolor theme, and shows
# the running window's own icon in its title bar and task bar.
#   sudo apt-get install ./build/package/qrt4250_*.deb && tools/desktop_screenshot.sh
# Needs xvfb, icewm, xdotool and imagemagick (scripts/install-deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x /usr/bin/qrt4250-config ] || { echo "install the package first"; exit 1; }
out=${1:-docs/screenshots/desktop-entry.png}
full=$(mktemp --suffix=.png)
trap 'rm -f "$full"' EXIT

# The keys open the start menu, then Development, then Electronics; the
# pauses let IceWM and the window draw (a real display, no virtual clock).
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  icewm >/dev/null 2>&1 &
  sleep 3
  qrt4250-config --simulate >/dev/null 2>&1 &
  sleep 4
  for key in ctrl+Escape d e; do xdotool key "$key"; sleep 1; done
  import -window root "$0"
' "$full"
# The lower left: menu, task bar and the window's bottom and title.
convert "$full" -crop 1040x874+0+150 +repage "$out"
echo "wrote $out"
