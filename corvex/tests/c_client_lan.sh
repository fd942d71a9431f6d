#!/bin/sh
# c_client_lan.sh BOARD CLIENT: starts the simulated LAN board BOARD on
# 127.0.0.1 with a free port, runs the C client CLIENT against it, stops the
# board and exits with the client's status. The client runs in a folder of its
# own whose Corvex.ini switches the LAN search off, so nothing is broadcast.
set -u

if [ $# -ne 2 ]; then
  echo "usage: $0 BOARD CLIENT" >&2
  exit 2
fi
# The client runs elsewhere: paths given relative to here must still lead back.
case $1 in /*) board_program=$1 ;; *) board_program=$PWD/$1 ;; esac
case $2 in /*) client_program=$2 ;; *) client_program=$PWD/$2 ;; esac

folder=$(mktemp -d) || exit 1
board=
stop_board() {
  if [ -n "$board" ]; then
    kill "$board" 2>/dev/null
    wait "$board" 2>/dev/null
  fi
  rm -rf "$folder"
}
trap stop_board EXIT
trap 'exit 1' HUP INT TERM

printf '[COMMON]\nSerchNCVX = 0\n' >"$folder/Corvex.ini"
mkfifo "$folder/ports" || exit 1
# SIGTERM stops it: a background job of a script ignores SIGINT.
"$board_program" --address 127.0.0.1 --port 0 >"$folder/ports" &
board=$!

# "board 0 tcp N udp N"; end of file instead when the board did not start.
read -r word _ kind port _ <"$folder/ports" || true
if [ "${word:-}" != board ] || [ "${kind:-}" != tcp ] || [ -z "${port:-}" ]; then
  echo "$0: the board did not report its port" >&2
  exit 1
fi

cd "$folder" || exit 1
"$client_program" 127.0.0.1 "$port"
