# Runs systemctl --user with the given arguments in every user manager that is running now, so
# that users who are logged in see the change without logging in again. Nothing to do without
# systemd or where no user manager runs (a container, a build chroot).
for_each_user_manager() {
  [ -d /run/systemd/system ] || return 0
  for dir in /run/user/*; do
    [ -S "$dir/systemd/private" ] || continue
    user=$(getent passwd "${dir##*/}" | cut -d: -f1) || continue
    [ -n "$user" ] || continue
    timeout 15 systemctl --user -M "$user@" "$@" >/dev/null 2>&1 || true
  done
}

# Starts (or restarts, to pick up a changed unit) the socket for each running user who has it
# enabled; a user who disabled or masked it is left alone.
start_socket_for_user_managers() {
  [ -d /run/systemd/system ] || return 0
  for dir in /run/user/*; do
    [ -S "$dir/systemd/private" ] || continue
    user=$(getent passwd "${dir##*/}" | cut -d: -f1) || continue
    [ -n "$user" ] || continue
    if timeout 15 systemctl --user -M "$user@" --quiet is-enabled "$1" 2>/dev/null; then
      timeout 15 systemctl --user -M "$user@" restart "$1" >/dev/null 2>&1 || true
    fi
  done
}
